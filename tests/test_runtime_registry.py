"""Runtimes found through the registry: the Java installers' JavaSoft keys, the runtimes
located by hand in either hive, and the private runtimes of earlier installations."""

import pytest

from harness import winpath

from runtime_homes import (checked_exes, log_lines, probe_values, runtime_home,  # noqa: F401
                           runtime_probe, stand_ins)

LOG = {"QUILLON_LOG": "yes"}
JRE_KEY = r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment"
JDK_KEY = r"HKLM\SOFTWARE\JavaSoft\Java Development Kit"
LOCATED_KEY = r"SOFTWARE\brightwell\tarvo\locatedjvms"
INSTALLATIONS_KEY = r"SOFTWARE\brightwell\quillon\installations"


def javasoft(registry, runtime_home, base, name, version=None, **options):
    """A JavaSoft version key `name` whose JavaHome is a new home printing `version`."""
    branch = "jdk" if base == JDK_KEY else "jre"
    home = runtime_home(f"{branch}-{name}", version or name, **options)
    registry.write(f"{base}\\{name}", "JavaHome", home.win())
    return home


def search(run, runtime_probe, keys=None, sequence="Y", env=None):
    result = run(runtime_probe({"128": sequence, **(keys or {})}), args=["search"],
                 env={**LOG, **(env or {})})
    assert result.exit_code == 0
    return probe_values(result), result


@pytest.mark.parametrize("jdk, jre, max_version, chosen", [
    ("1.7", "1.8", "", "jre-1.8"),
    ("1.8", "1.8", "", "jre-1.8"),
    ("1.8", None, "", "jdk-1.8"),
    ("1.7", "1.8", "1.7", "jdk-1.7"),           # the runtime's value is out of range
    ("1.8.0_101", "1.8.0_45", "", "jdk-1.8.0_101"),  # byte order: 1.8.0_45 above
])
def test_current_version(run, registry, runtime_home, runtime_probe, jdk, jre, max_version,
                         chosen):
    homes = {}
    for base, name in ((JDK_KEY, jdk), (JRE_KEY, jre)):
        if name:
            registry.write(base, "CurrentVersion", name)
            home = javasoft(registry, runtime_home, base, name)
            homes[home.root.name] = home
    values, result = search(run, runtime_probe, {"127": max_version})
    assert values["type"] == "4"
    assert values["javaExe"] == homes[chosen].checked_path()
    # The chosen key is the first and only runtime looked at.
    assert checked_exes(result) == [homes[chosen].win(r"bin\java.exe").lower()]


def test_version_keys_newest_first(run, registry, runtime_home, runtime_probe):
    order = ("1.8.0_101", "1.8.0_45", "1.8.0_5", "1.8")
    homes = {name: javasoft(registry, runtime_home, JRE_KEY, name) for name in sorted(order)}
    for name in order[:-1]:
        homes[name].set_output(exit_code=1)
    values, result = search(run, runtime_probe)
    assert checked_exes(result) == [homes[n].win(r"bin\java.exe").lower() for n in order]
    assert values["javaExe"] == homes["1.8"].checked_path()


def test_version_keys_out_of_range_are_not_looked_at(run, registry, runtime_home,
                                                     runtime_probe):
    homes = {name: javasoft(registry, runtime_home, JRE_KEY, name)
             for name in ("1.6", "1.8", "11.0.2")}
    values, result = search(run, runtime_probe, {"126": "1.7", "127": "1.8.0_20"})
    # The name 1.8 passes a maximum of 1.8.0_20; its probed version is then checked exactly.
    assert checked_exes(result) == [homes["1.8"].win(r"bin\java.exe").lower()]
    assert values["javaExe"] == homes["1.8"].checked_path()


@pytest.mark.parametrize("layout, java_exe", [
    ("tools.jar", r"jre\bin\java.exe"),
    ("javac", r"bin\java.exe"),
    ("runtime", None),
])
def test_jdk_required_searches_only_the_jdk_branch(run, registry, runtime_home, runtime_probe,
                                                   layout, java_exe):
    registry.write(JRE_KEY, "CurrentVersion", "1.8")
    jre = javasoft(registry, runtime_home, JRE_KEY, "1.8")
    jdk = javasoft(registry, runtime_home, JDK_KEY, "11.0.2")
    if layout == "tools.jar":
        jdk.add_file(r"lib\tools.jar")
        runtime_home("jdk-11.0.2/jre", "11.0.2")
    elif layout == "javac":
        jdk.add_file(r"bin\javac.exe")
    values, result = search(run, runtime_probe, {"131": "1"})
    assert jre.probe_runs() == []
    if java_exe:
        assert values["javaExe"] == jdk.checked_path(java_exe)
    else:
        assert values["type"] == "0"
        assert checked_exes(result) == []


def locate(registry, hive, home):
    registry.write(f"{hive}\\{LOCATED_KEY}\\" + home.win(r"bin\java.exe").replace("\\", "/"))


@pytest.mark.parametrize("user, machine, chosen", [
    (["1.8.0_45"], ["1.8.0_45"], "HKLM-1.8.0_45"),   # equal versions: the machine's
    (["1.8.0_101"], ["1.8.0_45"], "HKCU-1.8.0_101"),  # byte order: 1.8.0_45 above
    (["1.8.0_45"], ["1.8.0_101"], "HKLM-1.8.0_101"),
    (["1.8.0_45"], [], "HKCU-1.8.0_45"),
    ([], ["1.8.0_45"], "HKLM-1.8.0_45"),
    (["1.8.0_45", "1.8.0_101", "1.8.0_5"], [], "HKCU-1.8.0_101"),
    (["1.8.0_20-ea"], [], "HKCU-1.8.0_20-ea"),       # a pre-release picked by hand serves
])
def test_located_runtimes(run, registry, runtime_home, runtime_probe, user, machine, chosen):
    homes = {}
    for hive, versions in (("HKCU", user), ("HKLM", machine)):
        for version in versions:
            home = runtime_home(f"{hive}-{version}", version)
            locate(registry, hive, home)
            homes[home.root.name] = home
    values, result = search(run, runtime_probe, {"130": "0"})
    assert values["type"] == "4"
    assert values["javaExe"] == homes[chosen].checked_path()
    assert len(checked_exes(result)) == len(user) + len(machine)


def test_missing_located_runtime_is_passed_over(run, registry, runtime_home, runtime_probe,
                                                test_dir):
    home = runtime_home("jre", "1.8.0_45")
    locate(registry, "HKCU", home)
    registry.write(f"HKCU\\{LOCATED_KEY}\\Z:/no/such/jre/bin/java.exe")
    values, result = search(run, runtime_probe)
    assert values["javaExe"] == home.checked_path()
    assert "file doesn't exist" in result.log


@pytest.mark.parametrize("sun, located, chosen", [
    ("1.8.0_45", "1.8.0_45", "located"),   # equal versions: the located runtime
    ("1.8.0_101", "1.8.0_45", "sun"),      # byte order: 1.8.0_45 above
    ("1.8.0_45", "1.8.0_101", "located"),
])
def test_javasoft_against_located(run, registry, runtime_home, runtime_probe, sun, located,
                                  chosen):
    registry.write(JRE_KEY, "CurrentVersion", sun)
    homes = {"sun": javasoft(registry, runtime_home, JRE_KEY, sun),
             "located": runtime_home("located", located)}
    locate(registry, "HKLM", homes["located"])
    values, result = search(run, runtime_probe)
    assert values["javaExe"] == homes[chosen].checked_path()
    assert log_lines(result, "found sun ") == [f"{homes['sun'].checked_path()} {sun}"]
    assert log_lines(result, "found located ") == [
        f"{homes['located'].checked_path()} {located}"]


def test_installations_in_list_order(run, registry, runtime_home, runtime_probe, test_dir):
    too_old = runtime_home("first/jre", "1.6.0_45")
    fitting = runtime_home("second/jre", "1.8.0_45")
    machine = runtime_home("machine/jre", "1.8.0_101")
    listed = f"{winpath(test_dir / 'first')};;{winpath(test_dir / 'second')}"
    registry.write(f"HKCU\\{INSTALLATIONS_KEY}", "myapp", listed)
    registry.write(f"HKLM\\{INSTALLATIONS_KEY}", "myapp", winpath(test_dir / "machine"))
    values, result = search(run, runtime_probe, {"126": "1.7", "160": "myapp"}, sequence="")
    assert values["type"] == "4"
    assert values["javaExe"] == fitting.checked_path()
    assert log_lines(result, "found installations: ") == [listed]
    assert checked_exes(result) == [too_old.checked_path(), fitting.checked_path()]
    assert machine.probe_runs() == []


@pytest.mark.parametrize("installation_id, user_value, found", [
    ("myapp", None, True),        # the machine's list after the user's had none
    ("myapp", "", True),          # an empty list is no list
    ("", "{dir}", False),         # without key 160 nothing is read
    ("other", None, False),
])
def test_installations_of_the_machine(run, registry, runtime_home, runtime_probe, test_dir,
                                      installation_id, user_value, found):
    home = runtime_home("inst/jre", "1.8.0_45")
    directory = winpath(test_dir / "inst")
    registry.write(f"HKLM\\{INSTALLATIONS_KEY}", "myapp", directory)
    if user_value is not None:
        registry.write(f"HKCU\\{INSTALLATIONS_KEY}", "myapp", user_value.format(dir=directory))
    values, _ = search(run, runtime_probe, {"160": installation_id}, sequence="")
    assert values["type"] == ("4" if found else "0")
    if found:
        assert values["javaExe"] == home.checked_path()


@pytest.mark.parametrize("read_only_machine, hive, other", [
    (False, "HKLM", "HKCU"),
    (True, "HKCU", "HKLM"),
])
def test_register_located_jvm(run, registry, runtime_probe, read_only_machine, hive, other):
    env = {"QLN_TEST_READ_ONLY_MACHINE_KEYS": "1"} if read_only_machine else {}
    result = run(runtime_probe({}), args=["register", r"Z:\Some Dir\JRE\bin\java.exe"],
                 env=env)
    assert result.exit_code == 0
    # Stored as given, backslashes turned into forward slashes, no values.
    assert registry.subkeys(f"{hive}\\{LOCATED_KEY}") == ["Z:/Some Dir/JRE/bin/java.exe"]
    assert registry.values(f"{hive}\\{LOCATED_KEY}\\Z:/Some Dir/JRE/bin/java.exe") == {}
    assert not registry.exists(f"{other}\\{LOCATED_KEY}")


# Where today's installers register: Oracle's since Java 9 under JavaSoft, the others under
# their vendor's key. (key below HKLM\SOFTWARE, value holding the home)
VENDOR_LAYOUTS = [
    pytest.param(r"JavaSoft\JDK\17.0.2", "JavaHome", id="javasoft-jdk"),
    pytest.param(r"JavaSoft\JRE\9.0.4", "JavaHome", id="javasoft-jre"),
    pytest.param(r"Eclipse Adoptium\JDK\17.0.9.9\hotspot\MSI", "Path", id="adoptium-jdk"),
    pytest.param(r"Eclipse Adoptium\JRE\21.0.1.12\hotspot\MSI", "Path", id="adoptium-jre"),
    pytest.param(r"AdoptOpenJDK\JDK\11.0.10.9\hotspot\MSI", "Path", id="adoptopenjdk-jdk"),
    pytest.param(r"AdoptOpenJDK\JRE\8.0.282.08\hotspot\MSI", "Path", id="adoptopenjdk-jre"),
    pytest.param(r"Azul Systems\Zulu\zulu-17", "InstallationPath", id="zulu"),
    pytest.param(r"Microsoft\JDK\21.0.2.13\hotspot\MSI", "Path", id="microsoft"),
    pytest.param(r"BellSoft\Liberica\Liberica JDK 17", "InstallationPath", id="liberica"),
    pytest.param(r"Amazon Corretto\JDK\17.0.10.7", "JavaHome", id="corretto"),
    pytest.param(r"Amazon Corretto\JDK\17.0.10.7\MSI", "Path", id="corretto-msi"),
]


@pytest.mark.parametrize("key, value", VENDOR_LAYOUTS)
def test_runtimes_of_todays_installers_are_found(run, registry, runtime_home, runtime_probe,
                                                 key, value):
    home = runtime_home("vendor", "17.0.2")
    registry.write(f"HKLM\\SOFTWARE\\{key}", value, home.win())
    try:
        values, result = search(run, runtime_probe)
    finally:
        # Under a key that already exists (Microsoft) the general cleanup has been seen to
        # leave the entry behind for the next test.
        registry.delete_key("HKLM\\SOFTWARE\\" + "\\".join(key.split("\\")[:2]))
    assert values["type"] == "4"
    assert values["javaExe"] == home.checked_path()
    assert checked_exes(result) == [home.win(r"bin\java.exe").lower()]
    assert not registry.exists(f"HKLM\\SOFTWARE\\{key}")


def test_old_javasoft_keys_come_before_the_vendor_keys(run, registry, runtime_home,
                                                       runtime_probe):
    old = javasoft(registry, runtime_home, JRE_KEY, "1.8.0_45")
    vendor = runtime_home("vendor", "17.0.2")
    registry.write(r"HKLM\SOFTWARE\Eclipse Adoptium\JDK\17.0.9.9\hotspot\MSI", "Path", vendor.win())
    values, result = search(run, runtime_probe)
    assert values["javaExe"] == old.checked_path()
    assert checked_exes(result) == [old.win(r"bin\java.exe").lower()]


def test_vendor_runtime_outside_the_range_is_passed_over(run, registry, runtime_home,
                                                         runtime_probe):
    newer = runtime_home("newer", "21.0.1")
    older = runtime_home("older", "17.0.2")
    registry.write(r"HKLM\SOFTWARE\Azul Systems\Zulu\zulu-21", "InstallationPath", newer.win())
    registry.write(r"HKLM\SOFTWARE\Azul Systems\Zulu\zulu-17", "InstallationPath", older.win())
    values, result = search(run, runtime_probe, {"127": "17.9"})
    assert checked_exes(result) == [newer.win(r"bin\java.exe").lower(),
                                    older.win(r"bin\java.exe").lower()]
    assert values["javaExe"] == older.checked_path()


@pytest.mark.parametrize("key, value", [p for p in VENDOR_LAYOUTS if p.id.endswith("-jre")])
def test_jdk_required_skips_the_runtime_keys_of_todays_installers(run, registry, runtime_home,
                                                                  runtime_probe, key, value):
    # Even a home with javac is left alone: only the key it is registered under says JRE.
    home = runtime_home("vendor", "17.0.2")
    home.add_file(r"bin\javac.exe")
    registry.write(f"HKLM\\SOFTWARE\\{key}", value, home.win())
    try:
        values, result = search(run, runtime_probe, {"131": "1"})
    finally:
        registry.delete_key("HKLM\\SOFTWARE\\" + "\\".join(key.split("\\")[:2]))
    assert values["type"] == "0"
    assert checked_exes(result) == []
    assert home.probe_runs() == []
