"""The runtime search sequence and the loading of the JVM library: location files, the
configured entries and their fallback pass, earlier installations, the environment
overrides, the JVM sub-directories, PATH and the messages of a failed load."""

import pytest

from harness import winpath
from runtime_homes import (checked_exes, log_lines, path_settings, probe_values,  # noqa: F401
                           runtime_home, runtime_loaded, runtime_probe, shown_messages,
                           stand_ins)

LOG = {"QUILLON_LOG": "yes"}
JRE_KEY = r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment"
MESSAGES = {"1005": "start failed", "1016": "no {0}-bit runtime", "1018": "found at {0}",
            "1020": "cannot load {0}"}


def search(run, runtime_probe, sequence, keys=None, env=None):
    result = run(runtime_probe({"128": sequence, **(keys or {})}), args=["search"],
                 env={**LOG, **(env or {})})
    assert result.exit_code == 0
    return probe_values(result), result


def register_javasoft(registry, home, name="1.8.0_45"):
    registry.write(JRE_KEY, "CurrentVersion", name)
    registry.write(f"{JRE_KEY}\\{name}", "JavaHome", home.win())


@pytest.mark.parametrize("installation_dir", ["", "inst", "{abs}"])
def test_preferred_location_wins_alone(run, registry, runtime_home, runtime_probe, test_dir,
                                       installation_dir):
    preferred = runtime_home("preferred", "1.8.0_45")
    private = runtime_home("jre", "1.8.0_45")
    register_javasoft(registry, runtime_home("registered", "1.8.0_45"))
    directory = installation_dir.format(abs=winpath(test_dir / "inst"))
    config_dir = test_dir / ("inst" if installation_dir else "") / ".quillon"
    config_dir.mkdir(parents=True)
    (config_dir / "pref_jre.cfg").write_bytes(preferred.win().encode() + b"\r\n\r\n")
    values, result = search(run, runtime_probe, "Y;Ajre", {"10003": directory})
    assert values == {"type": "2", "javaExe": preferred.checked_path(),
                      "location": preferred.win()}
    assert log_lines(result, "Has preferred location ") == [preferred.win()]
    assert "Testing location" not in result.log
    assert checked_exes(result) == [preferred.checked_path()]
    assert private.probe_runs() == []


def test_location_files_out_of_range(run, runtime_home, runtime_probe, test_dir):
    preferred = runtime_home("preferred", "1.6.0_45")
    installer = runtime_home("installer", "1.8.0_45")
    private = runtime_home("jre", "1.6.0_45")
    config_dir = test_dir / ".quillon"
    config_dir.mkdir()
    (config_dir / "pref_jre.cfg").write_text(preferred.win() + "\n")
    (config_dir / "inst_jre.cfg").write_text(installer.win() + "\n")
    values, result = search(run, runtime_probe, "Ajre", {"126": "1.8"})
    # The installer's runtime comes after the first pass and before the fallback pass.
    assert values == {"type": "2", "javaExe": installer.checked_path(),
                      "location": installer.win()}
    assert checked_exes(result) == [p.checked_path() for p in (preferred, private, installer)]
    assert "Using installer location" in result.log


@pytest.mark.parametrize("registered, expected_type, location", [
    (True, "4", ""),        # an in-range registered runtime comes first
    (False, "2", "jre"),    # the private runtime is then taken whatever its version
])
def test_registry_before_private_runtime(run, registry, runtime_home, runtime_probe,
                                         registered, expected_type, location):
    private = runtime_home("jre", "1.6.0_45")
    if registered:
        register_javasoft(registry, runtime_home("registered", "1.8.0_45"))
    values, result = search(run, runtime_probe, "Y;Ajre", {"126": "1.8"})
    assert values["type"] == expected_type
    assert values["location"] == location
    if not registered:
        assert values["javaExe"] == private.checked_path()
        assert log_lines(result, "Testing relative location ") == ["jre"]
        assert f"{private.checked_path()} exists" in result.log


@pytest.mark.parametrize("entry, absolute, found", [
    ("A", True, False),   # an absolute "A" entry needs its version check
    ("B", True, True),
    ("R", True, False),
    ("A", False, True),
    ("R", False, True),
    ("B", False, True),
])
def test_fallback_pass(run, runtime_home, runtime_probe, test_dir, entry, absolute, found):
    home = runtime_home("jre", "1.6.0_45")
    text = home.win() if absolute else "jre"
    values, result = search(run, runtime_probe, entry + text, {"126": "1.8"})
    assert values["type"] == ("2" if found else "0")
    if found:
        assert values["location"] == text
        assert values["javaExe"] == home.checked_path()


def test_fallback_pass_needs_java_exe(run, runtime_home, runtime_probe):
    runtime_home("jre", java=False)
    values, result = search(run, runtime_probe, "Ajre")
    assert values["type"] == "0"
    assert "Search sequence finished" in result.log


def test_entries_are_expanded_in_the_first_pass(run, runtime_home, runtime_probe):
    home = runtime_home("jre", "1.8.0_45")
    values, result = search(run, runtime_probe, "X;A${JAVA_DIR};Yignored",
                            env={"JAVA_DIR": home.win()})
    assert values == {"type": "2", "javaExe": home.checked_path(), "location": home.win()}
    assert log_lines(result, "Testing location ") == [" (type X)", f"{home.win()} (type A)"]


@pytest.mark.parametrize("tarvo, quillon, chosen", [
    ("good", "good", "TARVO_JAVA_HOME"),
    (None, "good", "QUILLON_JAVA_HOME"),
    ("old", "good", "QUILLON_JAVA_HOME"),
    ("slashes", None, "TARVO_JAVA_HOME"),
    ("old", None, None),
])
def test_environment_overrides(run, runtime_home, runtime_probe, tarvo, quillon, chosen):
    homes = {"good": runtime_home("good", "1.8.0_45"), "old": runtime_home("old", "1.6.0_45")}
    values_of = {"good": homes["good"].win(), "old": homes["old"].win(),
                 "slashes": homes["good"].win().replace("\\", "/"), None: None}
    env = {"TARVO_JAVA_HOME": values_of[tarvo], "QUILLON_JAVA_HOME": values_of[quillon]}
    values, result = search(run, runtime_probe, "", {"126": "1.8"}, env=env)
    if chosen:
        assert values == {"type": "3", "javaExe": homes["good"].checked_path(),
                          "location": chosen}
    else:
        assert values["type"] == "0"
    assert "Search sequence finished" in result.log


@pytest.mark.parametrize("source", ["sequence", "installation"])
def test_environment_comes_last(run, registry, runtime_home, runtime_probe, test_dir, source):
    override = runtime_home("override", "1.8.0_101")
    found = runtime_home("inst/jre", "1.8.0_45")
    registry.write(r"HKLM\SOFTWARE\brightwell\quillon\installations", "myapp",
                   winpath(test_dir / "inst"))
    sequence = "Ainst\\jre" if source == "sequence" else ""
    values, _ = search(run, runtime_probe, sequence, {"160": "myapp"},
                       env={"TARVO_JAVA_HOME": override.win()})
    assert values["javaExe"] == found.checked_path()
    assert override.probe_runs() == []


@pytest.mark.parametrize("jvms, preferred, loaded", [
    (("client", "server"), "server", "server"),
    (("client", "server"), "", "client"),
    (("hotspot", "client"), "", "hotspot"),
    (("client", "server"), "custom", "client"),
    (("custom", "client"), "custom", "custom"),
])
def test_jvm_sub_directory(pack, run, runtime_home, jvms, preferred, loaded):
    home = runtime_home("jre", jvms=jvms)
    exe = pack({"keys": {"107": "0", "128": "A" + home.win(), "152": preferred}})
    result = run(exe, env=LOG)
    assert runtime_loaded(result)
    tried = log_lines(result, "Trying ")
    assert tried[-1] == home.checked_path(f"bin\\{loaded}\\jvm.dll") + " (exists 1)"
    if preferred:
        assert tried[1] == home.checked_path(f"bin\\{preferred}\\jvm.dll") + \
            f" (exists {int(preferred in jvms)})"


def test_jdk_without_jvm_library_loads_its_inner_runtime(run, runtime_home, runtime_probe):
    jdk = runtime_home("jdk", jvms=())
    jdk.add_jvm(r"..\jre\bin\client")
    result = run(runtime_probe({"128": "A" + jdk.win()}), args=["load"],
                 env={**LOG, "PATH": r"C:\windows"})
    values = probe_values(result)
    inner_bin = jdk.checked_path(r"bin\..\jre\bin")
    assert values == {"loaded": "1", "bound": "1", "jvmHome": jdk.checked_path(r"bin\.."),
                      "PATH": "C:\\windows;" + inner_bin}
    assert path_settings(result) == [
        "C:\\windows;" + jdk.checked_path("bin"), "C:\\windows", "C:\\windows;" + inner_bin]


def failing_runtime(runtime_home):
    return runtime_home("jre", "1.8.0_45", jvm_kind="jvm-x86")


@pytest.mark.parametrize("entry, messages", [
    ("Son the path", ["no 64-bit runtime", "found at on the path", "cannot load on the path",
                      "start failed"]),
    ("A{home}", ["cannot load {home}", "start failed"]),
    ("EMY_JAVA", ["found at MY_JAVA", "cannot load MY_JAVA", "start failed"]),
    ("Y", ["start failed"]),
])
def test_library_of_the_wrong_processor_type(pack, run, registry, runtime_home, entry,
                                             messages):
    home = failing_runtime(runtime_home)
    register_javasoft(registry, home)
    path = r"C:\windows\system32;C:\windows;" + home.win("bin")
    exe = pack({"keys": {"107": "5", "128": entry.format(home=home.win()), **MESSAGES}})
    result = run(exe, env={**LOG, "MY_JAVA": home.win(), "PATH": path})
    assert result.exit_code == 83
    assert shown_messages(result) == [m.format(home=home.win()) for m in messages]
    assert "Failed with error code 193" in result.log
    assert log_lines(result, "ERROR: ") == ["Could not get DLL-Handle.",
                                            "Could not load functions"]
    # Every bin directory whose libraries all failed is taken off PATH again.
    bin_dir = result.log.split("Trying to load JVM-DLL from ")[1].split("\n")[0][:-len(
        r"\java.exe")]
    assert path_settings(result) == [
        path + ";" + bin_dir, path, path + ";" + bin_dir + r"\..\jre\bin", path]


def test_no_runtime_exits_with_83(pack, run):
    exe = pack({"keys": {"107": "5", "128": "Ajre;Y", **MESSAGES}})
    result = run(exe, env=LOG)
    assert result.exit_code == 83
    assert shown_messages(result) == ["no 64-bit runtime"]
    assert log_lines(result, "ERROR: ") == ["No JVM found"]


@pytest.mark.parametrize("kind, loaded", [("jvm", True), ("jvm-x86", False)])
def test_long_path_is_never_cut(run, runtime_home, runtime_probe, kind, loaded):
    home = runtime_home("jre", jvm_kind=kind)
    long_path = r"C:\windows\system32;C:\windows" + "".join(
        f";C:\\no\\such\\directory\\number{i:05d}" for i in range(400))
    assert len(long_path) > 12000
    result = run(runtime_probe({"128": "A" + home.win()}), args=["load"],
                 env={**LOG, "PATH": long_path})
    values = probe_values(result)
    assert values["loaded"] == str(int(loaded))
    extended = long_path + ";" + home.checked_path("bin")
    assert path_settings(result)[0] == extended
    assert values["PATH"] == (extended if loaded else long_path)


def test_given_java_exe_is_probed_afresh(run, runtime_home, runtime_probe):
    home = runtime_home("jre", "1.8.0_20-ea")
    exe = runtime_probe({"128": "A" + home.win(), "130": "0"})
    assert probe_values(run(exe, args=["load"], env=LOG))["loaded"] == "1"
    assert len(home.probe_runs()) == 1
    result = run(exe, args=["load", home.win(r"bin\java.exe"), "exe"], env=LOG)
    # A pre-release given explicitly is accepted, and the cache entry is not trusted.
    assert probe_values(result) == {"loaded": "1", "bound": "1",
                                    "jvmHome": home.checked_path(r"bin\.."),
                                    "PATH": r"C:\windows\system32;C:\windows;"
                                    + home.checked_path("bin")}
    assert len(home.probe_runs()) == 2
    assert log_lines(result, "Got JRE location ") == [home.win(r"bin\java.exe") +
                                                      " (java exe: 1)"]


@pytest.mark.parametrize("given, errors, messages", [
    # An unusable java.exe: refused before anything is loaded.
    ("{old}\\bin\\java.exe exe", ["Provided JVM unusable"], ["no 64-bit runtime"]),
    # A directory is taken without a version check and fails only at loading.
    ("{empty}", ["Could not get DLL-Handle.", "Could not load functions"],
     ["cannot load {empty}", "start failed"]),
    ("{old}", [], []),
    ("{no_entry}", ["Could not load functions"], ["cannot load {no_entry}", "start failed"]),
])
def test_given_location(run, runtime_home, runtime_probe, test_dir, given, errors, messages):
    places = {"old": runtime_home("old", "1.6.0_45").win(),
              "no_entry": runtime_home("no-entry", jvm_kind="jvm-without-entry").win(),
              "empty": winpath(test_dir / "empty")}
    (test_dir / "empty").mkdir()
    exe = runtime_probe({"107": "5", "126": "1.8", **MESSAGES})
    result = run(exe, args=["load", *given.format(**places).split(" ")], env=LOG)
    assert probe_values(result)["loaded"] == ("0" if errors else "1")
    assert log_lines(result, "ERROR: ") == errors
    assert shown_messages(result) == [m.format(**places) for m in messages]
