"""Path services as the launcher core sees them under Wine: its own path in narrow and long
forms, resolving and normalizing configured paths, existence tests, directory listings, the
temporary directory with its fallbacks, the working directory of key 146 and the native
library directories put in front of PATH."""

import json
import re
import shutil

import pytest

from harness import winpath

SYSTEM_PATH = r"C:\windows\system32;C:\windows"
CYRILLIC = "Временные"
CJK = "临时文件"
# One component of a short path: at most 8 characters, then at most 3 after one dot.
SHORT_NAME = re.compile(r"^[^.]{1,8}(\.[^.]{1,3})?$")


def probe_json(result):
    assert result.exit_code == 0, result.stderr_text
    return json.loads(result.stdout.decode("utf-8"))


@pytest.fixture
def probe_exe(pack_probe):
    return pack_probe({"keys": {"107": "0"}})


def launcher_dir(test_dir):
    """The launcher directory as the core forms it: the exe lies in the test folder."""
    return winpath(test_dir) + "\\"


# --- the launcher's own path -------------------------------------------------------------

@pytest.mark.parametrize("folder, code_page_holds", [
    ("plain", True),
    ("Café crème", True),
    ("Приложение", False),
    ("应用程序", False),
])
def test_launcher_path_forms(probe_exe, run, test_dir, folder, code_page_holds):
    directory = test_dir / folder
    directory.mkdir()
    exe = directory / "my probe.exe"
    shutil.copy(probe_exe, exe)
    paths = probe_json(run(exe, args=["paths", "jre"]))
    long_dir = winpath(directory) + "\\"
    assert (paths["exeW"], paths["dirLong"]) == (winpath(exe), long_dir)
    narrow = paths["exe"]
    if code_page_holds:
        assert narrow == winpath(exe)
    else:
        # The ANSI file functions cannot name the long path: the 8.3 form stands in.
        narrow.encode("cp1252")
        assert "?" not in narrow
        assert narrow.lower().endswith(".exe")
        assert all(SHORT_NAME.match(part) for part in narrow.split("\\")[1:]), narrow
    narrow_dir = narrow[:narrow.rindex("\\") + 1]
    assert (paths["dir"], paths["dirNarrowWidened"]) == (narrow_dir, narrow_dir)
    jre = paths["inputs"]["jre"]
    assert jre["resolve"] == jre["resolveWNarrowDir"] == narrow_dir + "jre"
    assert jre["resolveWLongDir"] == long_dir + "jre"
    # Both forms name the launcher itself.
    again = probe_json(run(exe, args=["paths", narrow, narrow_dir + "my probe.exe"]))
    assert all(found["exists"] and found["existsW"] for found in again["inputs"].values())


# --- resolving, normalizing, existence, listings ----------------------------------------

@pytest.mark.parametrize("path, resolved, relative", [
    ("jre", "{D}jre", True),
    (r"c:\java", r"c:\java", False),
    ("C:\\Java\\\\Lib\\\\", "C:\\Java\\Lib\\", False),
    ("\\\\server\\share\\\\dir", r"\\server\share\dir", False),
    ("\\\\\\server\\share", r"\\server\share", False),
    ("c:/java", "{D}c:/java", True),
    (r"\java", "{D}java", True),
])
def test_resolve_path(probe_exe, run, test_dir, path, resolved, relative):
    expected = resolved.format(D=launcher_dir(test_dir))
    found = probe_json(run(probe_exe, args=["paths", path]))["inputs"][path]
    assert (found["relative"], found["relativeW"]) == (relative, relative)
    assert found["resolve"] == found["resolveWNarrowDir"] == found["resolveWLongDir"] == expected


@pytest.mark.parametrize("path, full", [
    ("Sub\\..\\Other\\.\\\\File.TXT", "{D}Other\\File.TXT"),
    ("C:\\Windows\\..\\Program Files\\\\X\\.", r"C:\Program Files\X"),
    (r"\\Server\Share\a\..\B", r"\\Server\Share\B"),
])
def test_normalize_path(probe_exe, run, test_dir, path, full):
    expected = full.format(D=launcher_dir(test_dir))
    found = probe_json(run(probe_exe, args=["paths", path]))["inputs"][path]
    assert found["normalizeKeepCase"] == expected
    assert found["normalize"] == found["normalizeW"] == expected.lower()


@pytest.mark.parametrize("path, exists", [
    ("{T}\\present.txt", True),
    ("{T}\\folder", True),
    ("{T}\\missing.txt", False),
    ("C:\\", True),
    ("c:\\.", True),
    ("C:\\.\\.", True),
    # Wine has no drive Q: a root is taken as existing without a search.
    ("Q:\\", True),
    ("Q:\\x", False),
    ("1:\\", False),
])
def test_file_exists(probe_exe, run, test_dir, path, exists):
    (test_dir / "present.txt").write_text("x")
    (test_dir / "folder").mkdir()
    path = path.format(T=winpath(test_dir))
    found = probe_json(run(probe_exe, args=["paths", path]))["inputs"][path]
    assert (found["exists"], found["existsW"]) == (exists, exists)


@pytest.mark.parametrize("folder, extension, names", [
    ("lib", "jar", ["a.jar", "b.JAR", "g.jar"]),
    ("lib", ".jar", ["a.jar", "b.JAR", "g.jar"]),
    ("lib", "zip", []),
    ("missing", "jar", []),
])
def test_list_directory(probe_exe, run, test_dir, folder, extension, names):
    lib = test_dir / "lib"
    lib.mkdir()
    for name in ("a.jar", "b.JAR", "d.txt", "e.jar.txt", "f.ja"):
        (lib / name).write_text("x")
    (lib / "g.jar").mkdir()  # directories are listed like files
    listed = probe_json(run(probe_exe, args=["list", winpath(test_dir / folder), extension]))
    assert sorted(listed) == names


# --- the temporary directory ----------------------------------------------------------

def temp_env(directory, short_names=True):
    """TMP and TEMP naming `directory`; without short names the volume acts as one that keeps
    no 8.3 names, so that a name outside the code page has no usable narrow form at all."""
    env = {"TMP": winpath(directory), "TEMP": winpath(directory), "QUILLON_LOG": "yes"}
    if not short_names:
        env["QLN_TEST_NO_SHORT_NAMES"] = "1"
    return env


@pytest.mark.parametrize("folder", ["tmp", "Tämp"])
def test_temp_directory_that_the_code_page_holds_stands(probe_exe, run, test_dir, folder):
    directory = test_dir / folder
    directory.mkdir(exist_ok=True)
    result = run(probe_exe, args=["temp"], env=temp_env(directory))
    expected = winpath(directory) + "\\"
    assert probe_json(result) == {"narrow": expected, "wide": expected,
                                  "pidFile": expected + "tvo_p4242.tmp"}
    assert f"GetTempPath returned {len(expected)} (last error " in result.log
    assert "make dir returned -1" in result.log


def test_missing_temp_directory_is_created(probe_exe, run, test_dir):
    directory = test_dir / "made"
    result = run(probe_exe, args=["temp"], env=temp_env(directory))
    assert probe_json(result)["narrow"] == winpath(directory) + "\\"
    assert directory.is_dir()
    assert "make dir returned 0" in result.log


@pytest.mark.parametrize("folder", [CYRILLIC, CJK])
def test_temp_directory_outside_the_code_page_falls_back(probe_exe, run, test_dir, folder):
    directory = test_dir / folder
    directory.mkdir()
    result = run(probe_exe, args=["temp"], env=temp_env(directory, short_names=False))
    assert probe_json(result) == {"narrow": "C:\\windows\\temp\\", "wide": "C:\\windows\\temp\\",
                                  "pidFile": r"C:\windows\temp\tvo_p4242.tmp"}


@pytest.mark.parametrize("folder", ["Łukasz", CYRILLIC, CJK])
def test_temp_directory_outside_the_code_page_takes_its_short_form(probe_exe, run, test_dir,
                                                                   folder):
    """GetTempPathA would map "Ł" to "L", a directory that does not exist."""
    directory = test_dir / "Users" / folder
    directory.mkdir(parents=True)
    result = run(probe_exe, args=["temp"], env=temp_env(directory))
    found = probe_json(result)
    narrow = found["narrow"]
    assert narrow.endswith("\\") and narrow.isascii()
    assert SHORT_NAME.match(narrow.rstrip("\\").rsplit("\\", 1)[1])
    assert found["wide"] == winpath(directory) + "\\"
    assert f"using {narrow}" in result.log


def test_extraction_under_a_user_name_outside_the_code_page(pack, run, test_dir):
    """Every application with included files failed with 1009 "7" here."""
    exe = pack({"keys": {"107": "0"}, "includedFiles": [{"name": "a.txt", "source": "a.txt"}]},
               files={"a.txt": "alpha"})
    directory = test_dir / "Users" / "Łukasz"
    directory.mkdir(parents=True)
    result = run(exe, env=temp_env(directory))
    assert result.exit_code == 83, result.stderr_text
    made = re.search(r"^Temp dir3: (.*)$", result.log, re.M).group(1)
    assert f"extracting {made}\\a.txt (size: 5)" in result.log
    assert "Could not create dir" not in result.log
    # Nothing was made under the look-alike name the code page would give.
    assert sorted(p.name for p in directory.parent.iterdir()) == ["Łukasz"]
    # The log lies where TMP points, under its real name.
    assert result.log_path.parent == directory


@pytest.fixture
def windows_temp_blocked(wine_session):
    """C:\\windows\\temp replaced by a file, so that nothing can be created in it; the next
    fallbacks c:\\temp and c:\\tmp are made by the test. All of it is undone afterwards."""
    drive_c = wine_session.drive_c
    temp = drive_c / "windows" / "temp"
    moved = drive_c / "windows" / "temp.moved-by-test"
    temp.rename(moved)
    temp.write_text("")
    try:
        yield drive_c
    finally:
        temp.unlink()
        moved.rename(temp)
        for name in ("temp", "tmp"):
            shutil.rmtree(drive_c / name, ignore_errors=True)


@pytest.mark.parametrize("present, chosen", [
    ([], "C:\\windows\\"),
    (["tmp"], "c:\\tmp\\"),
    (["temp"], "c:\\temp\\"),
    (["tmp", "temp"], "c:\\temp\\"),
])
def test_temp_directory_fallback_order(probe_exe, run, test_dir, windows_temp_blocked, present,
                                       chosen):
    for name in present:
        (windows_temp_blocked / name).mkdir()
    directory = test_dir / CYRILLIC
    directory.mkdir()
    result = run(probe_exe, args=["temp"], env=temp_env(directory, short_names=False))
    assert probe_json(result)["narrow"] == chosen


def test_extraction_uses_the_fallback_directory(pack, run, test_dir, windows_temp):
    exe = pack({"keys": {"107": "0"}, "includedFiles": [{"name": "a.txt", "source": "a.txt"}]},
               files={"a.txt": "alpha"})
    directory = test_dir / CYRILLIC
    directory.mkdir()
    before = set(windows_temp.iterdir())
    result = run(exe, env=temp_env(directory, short_names=False))
    made = re.search(r"^Temp dir3: (.*)$", result.log, re.M).group(1)
    assert re.fullmatch(r"C:\\windows\\temp\\tvo[0-9A-Fa-f]+\.tmp_dir\d+", made)
    assert f"extracting {made}\\a.txt (size: 5)" in result.log
    assert result.exit_code == 83
    # The exit removed the directory and the file that reserved its name.
    assert set(windows_temp.iterdir()) - before == set()


@pytest.mark.parametrize("folder, code, text", [
    # Shown without an argument: the placeholder stays.
    (CYRILLIC, 1, "No temporary directory {0}."),
    # A directory that needs no fallback is not tested for writing.
    ("tmp", 83, "No runtime (64)."),
])
def test_no_writable_fallback_is_fatal(pack, run, test_dir, folder, code, text):
    exe = pack({"keys": {"107": "1"},
                "messages": {"1000": "Demo", "1015": "No temporary directory {0}.",
                             "1016": "No runtime ({0})."},
                "includedFiles": [{"name": "a.txt", "source": "a.txt"}]},
               files={"a.txt": "alpha"})
    directory = test_dir / folder
    directory.mkdir(exist_ok=True)
    result = run(exe, env={"TMP": winpath(directory), "TEMP": winpath(directory),
                           "QLN_TEST_NO_WRITABLE_DIRECTORY": "1", "QLN_TEST_NO_SHORT_NAMES": "1"})
    assert result.exit_code == code
    assert (result.box.caption, result.box.text, result.box.icon) == ("Demo", text, "error")


# --- the working directory (key 146) ----------------------------------------------------

@pytest.mark.parametrize("value, env, becomes", [
    ("work", {}, "work"),
    ("${launcher:sys.launcherDirectory}sub\\..\\work", {}, "work"),
    ("%QUILLON_EXEDIR%Work\\.", {}, "Work"),
    ("${WORK_BASE}\\\\deeper", {"WORK_BASE": "{T}\\work"}, "work\\deeper"),
    ("missing", {}, None),
])
def test_working_directory(pack_probe, run, test_dir, value, env, becomes):
    for name in ("elsewhere", "work/deeper", "Work"):
        (test_dir / name).mkdir(parents=True)
    exe = pack_probe({"keys": {"107": "0", "146": value}})
    env = {name: text.format(T=winpath(test_dir)) for name, text in env.items()}
    result = run(exe, args=["paths"], cwd=test_dir / "elsewhere",
                 env={**env, "QUILLON_LOG": "yes"})
    cwd = probe_json(result)["cwd"]
    target = winpath(test_dir / (becomes or value))
    assert cwd == (target if becomes else winpath(test_dir / "elsewhere"))
    # A directory that does not exist is logged all the same.
    assert f"change working directory to {target}\n" in result.log


def test_working_directory_outside_the_code_page(pack_probe, run, test_dir):
    target = test_dir / CYRILLIC
    target.mkdir()
    exe = pack_probe({"keys": {"107": "0", "146": "${WORK_BASE}\\."}})
    result = run(exe, args=["paths"], env={"WORK_BASE": winpath(target)})
    assert probe_json(result)["cwd"] == winpath(target)


@pytest.mark.parametrize("words, changed", [
    ([], True),
    (["__qln_lang_restart"], False),
])
def test_working_directory_in_a_language_restart(pack_probe, run, test_dir, words, changed):
    (test_dir / "work").mkdir()
    (test_dir / "elsewhere").mkdir()
    exe = pack_probe({"keys": {"107": "0", "146": "work"}})
    result = run(exe, args=[*words, "paths"], cwd=test_dir / "elsewhere",
                 env={"QUILLON_LOG": "yes"})
    expected = test_dir / ("work" if changed else "elsewhere")
    assert probe_json(result)["cwd"] == winpath(expected)
    assert ("change working directory to" in result.log) == changed


@pytest.mark.parametrize("args, changed", [
    ([], True),
    (["__qln_lang_restart"], False),
    (["__qln_lang_restart_more"], False),
    (["first", "__qln_lang_restart"], True),
])
def test_app_launcher_language_restart_keeps_the_directory(pack, run, test_dir, args, changed):
    (test_dir / "work").mkdir()
    exe = pack({"keys": {"107": "0", "146": "work"}})
    result = run(exe, args=args, env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 83
    line = f"change working directory to {winpath(test_dir / 'work')}\n"
    assert (line in result.log) == changed


def test_empty_working_directory_is_left_alone(pack_probe, run, test_dir):
    exe = pack_probe({"keys": {"107": "0"}})
    result = run(exe, args=["paths"], env={"QUILLON_LOG": "yes"})
    assert probe_json(result)["cwd"] == winpath(test_dir)
    assert "working directory unchanged\n" in result.log


# --- native library directories (key 10004) ---------------------------------------------

@pytest.mark.parametrize("value, env, front", [
    ("lib", {}, "{D}lib;"),
    ("lib;", {}, "{D}lib;"),
    (";;lib;;c:\\abs\\\\x;", {}, "{D}lib;c:\\abs\\x;"),
    (r"\\server\share\bin", {}, r"\\server\share\bin;"),
    ("${NATIVE_ROOT}\\bin;%QUILLON_EXEDIR%native", {"NATIVE_ROOT": r"c:\native"},
     r"c:\native\bin;{D}native;"),
    ("", {}, ""),
])
def test_native_library_directories_go_in_front_of_path(pack_probe, run, test_dir, value, env,
                                                         front):
    exe = pack_probe({"keys": {"107": "0", "10004": value}})
    result = run(exe, args=["native-path"], env={**env, "QUILLON_LOG": "yes"})
    expected = front.format(D=launcher_dir(test_dir)) + SYSTEM_PATH
    assert probe_json(result) == {"path": expected, "runtimePath": expected}
    assert f"native lib dir is {value}\n" in result.log
    assert f"Setting PATH (native libs) {expected}\n" in result.log


def test_path_entries_outside_the_code_page_survive(pack_probe, run, test_dir):
    exe = pack_probe({"keys": {"107": "0", "10004": "lib"}})
    old_path = f"C:\\{CYRILLIC}\\bin;{SYSTEM_PATH}"
    result = run(exe, args=["native-path"], env={"PATH": old_path})
    expected = f"{launcher_dir(test_dir)}lib;{old_path}"
    assert probe_json(result) == {"path": expected, "runtimePath": expected}


def test_app_launcher_puts_the_launcher_temp_directory_on_path(pack, run, test_dir):
    exe = pack({"keys": {"107": "0", "10004": "%QUILLON_TEMPDIR%;bin"},
                "includedFiles": [{"name": "native.dll", "source": "native.dll"}]},
               files={"native.dll": b"MZ"})
    result = run(exe, env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 83
    made = re.search(r"^Temp dir3: (.*)$", result.log, re.M).group(1)
    assert (f"Setting PATH (native libs) {made};{launcher_dir(test_dir)}bin;{SYSTEM_PATH}\n"
            in result.log)
