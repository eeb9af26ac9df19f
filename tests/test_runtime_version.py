"""Judging a runtime by its java.exe: version range, pre-releases, the -version probe, the
per-user version cache, javaw.exe for GUI applications and the JDK requirement."""

import time

import pytest

from runtime_homes import (checked_exes, log_lines, runtime_home, runtime_loaded,  # noqa: F401
                           stand_ins, version_line)

LOG = {"QUILLON_LOG": "yes"}


def app(pack, sequence, **keys):
    """An application launcher with errors on standard error and the given search."""
    return pack({"keys": {"107": "0", "128": sequence, **keys}})


# An absolute "A" entry is never taken without its version check, so the exit code says
# whether the version was accepted. The comments mark the answers plain byte order got wrong.
@pytest.mark.parametrize("min_version, max_version, version, accepted", [
    ("1.6", "1.8", "1.7.0_45", True),
    ("1.6", "1.7", "1.8", False),
    ("1.6", "1.8", "9", False),
    ("1.6", "", "9", True),
    ("1.8", "", "10", True),
    ("1.6", "", "1.10", True),            # byte order: below 1.6
    ("9", "", "11.0.2", True),            # byte order: below 9
    ("1.7.0_5", "", "1.7.0_45", True),    # byte order: below 1.7.0_5
    ("", "1.8.0_45", "1.8.0_101", False),  # byte order: below 1.8.0_45
    ("", "1.8", "1.8.0_101", True),
    ("1.6", "", "1.6.0", True),
])
def test_version_range(pack, run, runtime_home, min_version, max_version, version, accepted):
    home = runtime_home("jre", version)
    exe = app(pack, "A" + home.win(), **{"126": min_version, "127": max_version})
    result = run(exe, env=LOG)
    assert runtime_loaded(result) == accepted
    assert f"got version from execution {version}" in result.log


@pytest.mark.parametrize("version, allow_key, entry, accepted", [
    ("1.8.0_20-ea", "0", "E", False),
    ("1.8.0_20-ea", "1", "E", True),
    ("1.8.0_20-ea", "0", "A", True),   # a runtime directory of the search allows them
    ("9-rc", "0", "E", False),
    ("1.7.0-beta", "0", "E", False),
    ("1.8.0_45", "0", "E", True),
])
def test_pre_release_rule(pack, run, runtime_home, version, allow_key, entry, accepted):
    home = runtime_home("jre", version)
    text = "MY_JAVA" if entry == "E" else home.win()
    result = run(app(pack, entry + text, **{"130": allow_key}),
                 env={**LOG, "MY_JAVA": home.win()})
    assert runtime_loaded(result) == accepted
    assert ("beta vm not allowed" in result.log) == (not accepted)


@pytest.mark.parametrize("lines, version", [
    ([version_line("1.8.0_45"), "Java(TM) SE Runtime Environment (build 1.8.0_45-b14)"],
     "1.8.0_45"),
    (['openjdk version "1.8.0_45"'], "1.8.0_45"),
    (['openjdk version "11.0.2" 2019-01-15', "OpenJDK Runtime Environment 18.9"], "11.0.2"),
    (["Picked up JAVA_TOOL_OPTIONS: -Dfile.encoding=UTF-8",
      'openjdk version "17.0.1" 2021-10-19 LTS'], "17.0.1"),
    (['java version "1.8.0_45'], None),
    (["Error: could not open jvm.cfg"], None),
    ([], None),
])
def test_probe_output(pack, run, registry, runtime_home, lines, version):
    home = runtime_home("jre", lines=lines)
    result = run(app(pack, "A" + home.win()), env=LOG)
    if version:
        assert runtime_loaded(result)
        assert log_lines(result, "Java version: ") == [version]
        assert registry.read(home.cache_key(), "Version") == version
    else:
        assert result.exit_code == 83
        assert "couldn't get version" in result.log
        assert not registry.exists(home.cache_key())


def test_cache_spares_the_probe_until_the_file_changes(pack, run, registry, runtime_home):
    home = runtime_home("jre", "1.8.0_45")
    exe = app(pack, "A" + home.win())

    first = run(exe, env=LOG)
    assert runtime_loaded(first)
    runs = home.probe_runs()
    # The probe runs the short path with -version: no blanks, no quotes.
    assert len(runs) == 1 and runs[0].endswith(" -version") and runs[0].count(" ") == 1
    assert registry.values(home.cache_key()) == {"LastWriteTime": home.last_write_time(),
                                                 "Version": "1.8.0_45"}

    second = run(exe, env=LOG)
    assert runtime_loaded(second)
    assert len(home.probe_runs()) == 1
    assert "got version from registry 1.8.0_45" in second.log

    home.touch_later()
    home.set_output([version_line("1.8.0_101")])
    third = run(exe, env=LOG)
    assert runtime_loaded(third)
    assert len(home.probe_runs()) == 2
    assert registry.values(home.cache_key()) == {"LastWriteTime": home.last_write_time(),
                                                 "Version": "1.8.0_101"}


@pytest.mark.parametrize("cached, same_time, probed", [
    ("1.8.0_45", True, False),
    ("1.8.0_45", False, True),
    ("1.0.0", True, True),                  # the mark of a failed probe
    ('11.0.2" 2019-01-15', True, True),     # a line cut after a fixed two characters
    ("1.7.", True, True),
])
def test_cached_entries(pack, run, registry, runtime_home, cached, same_time, probed):
    home = runtime_home("jre", "1.8.0_45")
    stamp = home.last_write_time() if same_time else bytes(8)
    registry.write(home.cache_key(), "LastWriteTime", stamp)
    registry.write(home.cache_key(), "Version", cached)
    result = run(app(pack, "A" + home.win()), env=LOG)
    assert runtime_loaded(result)
    assert len(home.probe_runs()) == (1 if probed else 0)
    assert registry.read(home.cache_key(), "Version") == "1.8.0_45"


def test_cached_version_decides_without_a_probe(pack, run, registry, runtime_home):
    home = runtime_home("jre", "1.8.0_45")
    registry.write(home.cache_key(), "LastWriteTime", home.last_write_time())
    registry.write(home.cache_key(), "Version", "1.6.0_10")
    result = run(app(pack, "A" + home.win(), **{"126": "1.8"}), env=LOG)
    assert result.exit_code == 83
    assert home.probe_runs() == []


@pytest.mark.parametrize("exit_code, cached", [(1, "1.0.0"), (2, "1.0.0"), (259, None)])
def test_failed_probe(pack, run, registry, runtime_home, exit_code, cached):
    home = runtime_home("jre", exit_code=exit_code)
    exe = app(pack, "A" + home.win())
    for attempt in (1, 2):
        result = run(exe, env=LOG)
        assert result.exit_code == 83
        assert f"Exit Code {exit_code}" in result.log
        # A failed probe is never trusted: the next start probes again.
        assert len(home.probe_runs()) == attempt
    assert registry.read(home.cache_key(), "Version") == cached
    assert ("Terminating process" in result.log) == (exit_code == 259)


def test_hanging_probe_is_terminated(pack, run, registry, runtime_home, tmp_dir):
    home = runtime_home("jre", hang=True)
    result = run(app(pack, "A" + home.win()),
                 env={**LOG, "QLN_TEST_PROBE_TIMEOUT_MS": "300"})
    assert result.exit_code == 83
    assert "Exit Code 259\nTerminating process\n" in result.log
    assert not registry.exists(home.cache_key())
    # The output file went with the terminated process.
    assert list(tmp_dir.glob("tvo*.tmp")) == []


def test_probe_output_goes_even_when_the_probe_leaves_a_process_behind(pack, run, registry,
                                                                       runtime_home, tmp_dir):
    home = runtime_home("jre", "1.8.0_45")
    home.set_output([version_line("1.8.0_45")], linger_ms=3000)
    result = run(app(pack, "A" + home.win()), env=LOG)
    assert runtime_loaded(result)
    assert registry.read(home.cache_key(), "Version") == "1.8.0_45"
    # The process left behind holds the output file it inherited; once it ended, the file
    # is gone too.
    deadline = time.monotonic() + 60
    while list(tmp_dir.glob("tvo*.tmp")) and time.monotonic() < deadline:
        time.sleep(0.2)
    assert list(tmp_dir.glob("tvo*.tmp")) == []


@pytest.mark.parametrize("javaw, accepted", [(True, True), (False, False)])
def test_gui_application_needs_javaw(pack, run, registry, runtime_home, javaw, accepted):
    home = runtime_home("jre", "1.8.0_45", javaw=javaw)
    exe = pack({"keys": {"107": "1", "128": "A" + home.win(), "1016": "none"}})
    result = run(exe, env=LOG)
    assert runtime_loaded(result) == accepted
    # The version was found and cached either way.
    assert registry.read(home.cache_key(), "Version") == "1.8.0_45"
    if accepted:
        javaw_path = home.checked_path(r"bin\javaw.exe")
        assert log_lines(result, "Trying to load JVM-DLL from ") == [javaw_path]
    else:
        assert [box.text.split("\n")[0] for box in result.boxes] == ["none"]


@pytest.mark.parametrize("layout, java_exe", [
    ("tools.jar", r"jre\bin\java.exe"),   # up to Java 8: tools.jar and an inner runtime
    ("javac", r"bin\java.exe"),           # since Java 9: neither, but bin\javac.exe
    ("runtime", None),                    # no JDK at all
])
def test_jdk_required(pack, run, runtime_home, layout, java_exe):
    jdk = runtime_home("jdk", "1.8.0_45")
    inner = runtime_home("jdk/jre", "1.8.0_45") if layout == "tools.jar" else None
    if layout == "tools.jar":
        jdk.add_file(r"lib\tools.jar")
    elif layout == "javac":
        jdk.add_file(r"bin\javac.exe")
    result = run(app(pack, "A" + jdk.win(), **{"131": "1"}), env=LOG)
    if java_exe:
        assert runtime_loaded(result)
        assert checked_exes(result) == [jdk.checked_path(java_exe)]
    else:
        # Refused before any probe.
        assert result.exit_code == 83
        assert checked_exes(result) == [] and jdk.probe_runs() == []
    if inner:
        assert jdk.probe_runs() == [] and len(inner.probe_runs()) == 1


def test_without_jdk_requirement_a_runtime_home_serves(pack, run, runtime_home):
    home = runtime_home("jre", "1.8.0_45")
    result = run(app(pack, "A" + home.win(), **{"131": "0"}), env=LOG)
    assert runtime_loaded(result)
    assert checked_exes(result) == [home.checked_path()]
