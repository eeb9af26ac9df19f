"""What a standard user, a dropped file or a prepared directory can do to a launcher that runs
privileged (a service as LocalSystem, an installer elevated from a Downloads folder), staged
under Wine: links among the temporary directories, planted names, planted DLLs and programs,
planted options files and a language-restart marker typed by hand.

Wine gives every process an elevated token, so the seamed stubs count as ordinary runs unless
QLN_TEST_PRIVILEGED asks for "1" (elevated), "system" (LocalSystem) or "real" (the token's
own answer)."""

import json
import os
import re
import shutil
import stat
import subprocess
from pathlib import Path

import pytest

from conftest import require_built
from harness import winpath
from harness.java_side import RUNTIME_JAR, compile_java, read_record
from service_support import wait_for

ROOT = Path(__file__).resolve().parent.parent
TOOLS = ROOT / "build" / "win64" / "tests" / "tools"
PLANTED_DLLS = TOOLS / "planted-dlls"
OWNER_MARK = b"held by its launcher\r\n"
PLANTED_NAMES = ["version", "winmm", "vcruntime140", "comdlg32"]
# Wine's own user32 imports version.dll, and Wine resolves the imports of its built-in DLLs
# through the program's directory before the program's first statement; on Windows user32 is
# a KnownDLL and imports no version.dll. Beside the program, Wine cannot show that case.
BESIDE_NAMES = ["winmm", "vcruntime140", "comdlg32", "uxtheme"]
REFUSED_RESTART = "This restart of the installer was not started by the installer itself."

APP = r'''
package priv;

public class Main {
    public static void main(String[] args) throws Exception {
        if (args.length == 2 && args[0].equals("--exit")) {
            System.out.println("main ran");
            System.exit(Integer.parseInt(args[1]));
        }
        for (String arg : args) {
            if (arg.startsWith("load=")) {
                System.load(arg.substring(5));
                System.out.println("loaded " + arg.substring(5));
            }
        }
        System.out.println("planted=" + System.getProperty("planted"));
        System.out.println("main ran");
    }
}
'''


def probe_json(result):
    assert result.exit_code == 0, result.stderr_text
    return json.loads(result.stdout.decode("utf-8"))


def everyone_may_write(path):
    path.chmod(path.stat().st_mode | stat.S_IWOTH | stat.S_IWGRP)


# ---------------------------------------------------------------------------------------
# Links among the temporary directories

def start_each_kind(kind, pack, run):
    """Starts one launcher of `kind` so that it reaches its start-up sweep, and ends."""
    if kind == "app":
        exe = pack({"keys": {"107": "0"}})
        assert run(exe).exit_code == 83
    elif kind == "setup":
        exe = pack({"flavor": "t", "applicationType": "gui", "mainClass": "setup.Main",
                    "searchSequence": [{"type": "A", "value": "Z:\\nowhere"}]},
                   stub="setup-launcher", name="setup.exe")
        assert run(exe, args=["-q"]).exit_code == 83
    else:
        exe = pack({"applicationName": "QlnNotInstalled", "applicationType": "console",
                    "mainClass": "svc.Service"}, stub="service-launcher", name="svc.exe")
        assert run(exe, args=["/status"]).exit_code != 255


@pytest.mark.parametrize("kind", ["app", "setup", "service"])
def test_a_link_named_like_a_leftover_is_never_followed(pack, run, test_dir, tmp_dir, kind):
    """The reproduction: a marked name file and a directory link under the names of an ended
    run's directory, and a real ended directory with a link inside. The next start of any
    launcher deletes nothing behind either link."""
    target = test_dir / "precious"
    (target / "sub").mkdir(parents=True)
    (target / "keep.txt").write_text("keep")
    (target / "sub" / "deep.txt").write_text("deep")
    (tmp_dir / "tvo1.tmp").write_bytes(OWNER_MARK)
    os.symlink(target, tmp_dir / "tvo1.tmp_dir1", target_is_directory=True)
    leftover = tmp_dir / "tvo2.tmp_dir2"
    leftover.mkdir()
    (leftover / "a.txt").write_text("a")
    (tmp_dir / "tvo2.tmp").write_bytes(OWNER_MARK)
    os.symlink(target, leftover / "inner", target_is_directory=True)

    start_each_kind(kind, pack, run)

    assert (target / "keep.txt").read_text() == "keep"
    assert (target / "sub" / "deep.txt").read_text() == "deep"
    for link in (tmp_dir / "tvo1.tmp_dir1", leftover / "inner"):
        # Removed as a link (Windows), or left alone where the system cannot (Wine).
        assert not link.exists() or (link.is_symlink() and link.resolve() == target)
    # What the ended run left of its own went.
    assert not (leftover / "a.txt").exists()


# ---------------------------------------------------------------------------------------
# The per-run directory

INCLUDED = {"includedFiles": [{"name": "a.txt", "source": "a.txt"}], "keys": {"107": "0"}}
TEMP_NAME = re.compile(r"tvo([0-9A-F]{16})\.tmp_dir(\d+)$")


def test_two_starts_share_nothing_predictable_and_the_directory_is_protected(
        pack_probe, run, tmp_dir):
    exe = pack_probe(INCLUDED, files={"a.txt": "alpha"})
    names = [probe_json(run(exe, args=["extract"]))["tempDir"].rsplit("\\", 1)[1]
             for _ in range(2)]
    parts = [TEMP_NAME.fullmatch(name) for name in names]
    assert all(parts), names
    # 64 random bits and a random number, neither a count nor the time.
    assert parts[0].group(1) != parts[1].group(1)
    assert parts[0].group(2) != parts[1].group(2)
    assert list(tmp_dir.glob("tvo*")) == []

    facts = probe_json(run(exe, args=["privilege"]))
    user = facts["user"]
    assert re.fullmatch(r"S-1-5-21-[\d-]+", user)
    assert facts["runDirectorySddl"] == (
        f"D:P(A;OICI;FA;;;{user})(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)")


@pytest.mark.parametrize("planted", ["name file", "directory"])
def test_a_name_planted_before_extraction_is_not_used(pack_probe, run, tmp_dir, planted):
    """The test fixes the first name the launcher tries and plants it beforehand: the
    launcher takes another name and never opens what was planted."""
    exe = pack_probe(INCLUDED, files={"a.txt": "alpha"})
    stem = "tvo00000000DEADBEEF.tmp"
    if planted == "name file":
        (tmp_dir / stem).write_text("planted")
    else:
        (tmp_dir / f"{stem}_dir1").mkdir()
        (tmp_dir / f"{stem}_dir1" / "a.txt").write_text("planted")
    result = run(exe, args=["extract"], env={"QUILLON_LOG": "yes",
                                             "QLN_TEST_FIRST_TEMP_NAME": "DEADBEEF"})
    used = probe_json(result)["tempDir"]
    assert f"tempFile is {winpath(tmp_dir)}\\{stem}" in result.log
    assert stem not in used
    if planted == "name file":
        assert (tmp_dir / stem).read_text() == "planted"
    else:
        assert (tmp_dir / f"{stem}_dir1" / "a.txt").read_text() == "planted"


def test_a_planted_file_in_the_run_directory_is_never_opened(pack, start, test_dir, tmp_dir):
    """Extraction creates every file new: a file put into the run's directory before the
    installer extracts (the test holds it there) ends the run instead of being used."""
    exe = pack({"flavor": "t", "applicationType": "gui", "mainClass": "setup.Main",
                "messages": {"1009": "Internal error {0}"},
                "includedFiles": [{"name": "a.txt", "source": "a.txt"}]},
               stub="setup-launcher", name="setup.exe", files={"a.txt": "alpha"})
    running = start(exe, args=["-q"], env={"QLN_TEST_STEP_PAUSE": "extract:20000"})
    assert wait_for(lambda: any(p.is_dir() for p in tmp_dir.glob("tvo*.tmp_dir*")), timeout=60)
    directory = next(p for p in tmp_dir.glob("tvo*.tmp_dir*") if p.is_dir())
    (directory / "a.txt").write_text("planted")
    result = running.wait()
    assert result.exit_code == 1
    assert result.stderr_text.startswith("Internal error 11")


# ---------------------------------------------------------------------------------------
# Planted DLLs and programs

def plant_dlls(directory, names=PLANTED_NAMES):
    if not PLANTED_DLLS.is_dir():
        pytest.fail(f"{PLANTED_DLLS} is not built (make build)")
    for name in names:
        shutil.copyfile(PLANTED_DLLS / f"{name}.dll", directory / f"{name}.dll")


def loaded_markers(directory):
    return sorted(p.name for p in directory.glob("*-loaded.txt"))


def taken_natively(names=PLANTED_NAMES):
    return {"WINEDLLOVERRIDES": ";".join(f"{name}=n,b" for name in names)}


@pytest.mark.parametrize("name", PLANTED_NAMES + ["uxtheme"])
def test_the_staging_loads_a_dll_taken_by_bare_name(run, tools, test_dir, name):
    """Positive control: a program beside the planted DLL that loads it by its bare name gets
    it, so the tests below would see a launcher that did the same."""
    plant_dlls(test_dir, [name])
    probe = test_dir / "loader.exe"
    shutil.copyfile(tools["msgbox-probe"], probe)
    result = run(probe, args=["loadlib", f"{name}.dll"], env=taken_natively([name]))
    assert result.exit_code == 0
    assert loaded_markers(test_dir) == [f"{name}-loaded.txt"]


@pytest.fixture(scope="module")
def priv_jar(tmp_path_factory):
    if not RUNTIME_JAR.is_file():
        pytest.skip(f"{RUNTIME_JAR} is not built (make build)")
    work = tmp_path_factory.mktemp("priv-build")
    return compile_java({"priv/Main.java": APP}, work / "app.jar", work / "classes").read_bytes()


def pack_java(pack, java_home, priv_jar, stub="app-launcher", name="app.exe", **settings):
    config = {"applicationName": "Priv", "applicationType": "console", "mainClass": "priv.Main",
              "flavor": "t",
              "classPath": [{"type": "S", "required": True, "value": "lib"}],
              "searchSequence": [{"type": "A", "value": winpath(java_home)}],
              "includedFiles": [{"name": "runtime.jar", "source": str(RUNTIME_JAR)}],
              **settings}
    return pack(config, stub=stub, name=name, files={"lib/app.jar": priv_jar})


def test_installer_loads_no_dll_planted_beside_it(pack, run, test_dir, java_home, priv_jar):
    """The runtime's jvm.dll imports winmm and vcruntime140 by name: planted beside the
    installer, neither is taken, nor any other planted DLL, and Java starts."""
    exe = pack_java(pack, java_home, priv_jar, stub="setup-launcher", name="setup.exe",
                    applicationType="gui")
    plant_dlls(test_dir, BESIDE_NAMES)
    result = run(exe, args=["-q"], env=taken_natively(BESIDE_NAMES), timeout=120)
    assert result.exit_code == 0, result.stderr_text
    assert "main ran" in result.stdout_text
    assert loaded_markers(test_dir) == []


def test_app_launcher_loads_no_dll_from_the_current_directory(pack, run, test_dir, java_home,
                                                              priv_jar):
    exe = pack_java(pack, java_home, priv_jar)
    current = test_dir / "downloads"
    current.mkdir()
    plant_dlls(current)
    result = run(exe, cwd=current, env=taken_natively(), timeout=120)
    assert result.exit_code == 0, result.stderr_text
    assert "main ran" in result.stdout_text
    assert loaded_markers(current) == []


def build_dll(source, output, *link):
    subprocess.run(["x86_64-w64-mingw32-gcc", "-shared", "-o", str(output), str(source), *link],
                   check=True, capture_output=True)


def test_a_jni_library_with_a_sibling_dependency_still_loads(pack, run, test_dir, java_home,
                                                             priv_jar):
    """native.dll imports sibling.dll from its own directory, a configured native library
    directory: the application launcher still loads both."""
    native = test_dir / "native"
    native.mkdir()
    (test_dir / "sibling.c").write_text(
        "__declspec(dllexport) int sibling_value(void) { return 7; }\n")
    (test_dir / "native.c").write_text(
        "__declspec(dllimport) int sibling_value(void);\n"
        "__declspec(dllexport) int native_value(void) { return sibling_value(); }\n")
    build_dll(test_dir / "sibling.c", native / "sibling.dll",
              f"-Wl,--out-implib,{test_dir / 'libsibling.a'}")
    build_dll(test_dir / "native.c", native / "native.dll", str(test_dir / "libsibling.a"))
    exe = pack_java(pack, java_home, priv_jar, nativeLibraryDirectories=["native"])
    library = winpath(native / "native.dll")
    result = run(exe, args=[f"load={library}"], timeout=120)
    assert result.exit_code == 0, result.stderr_text
    assert f"loaded {library}" in result.stdout_text


def test_search_path_entry_never_runs_a_java_exe_from_the_current_directory(
        pack, run, test_dir, stand_in_home):
    """A whole stand-in runtime's bin directory is the current directory. The "S" entry does
    not find it there; the same directory named on PATH is found (positive control)."""
    current = test_dir / "downloads"
    shutil.copytree(stand_in_home / "bin", current)
    record = test_dir / "jni-calls.jsonl"
    exe = pack({"applicationType": "console", "mainClass": "a.Main",
                "searchSequence": [{"type": "S", "value": ""}]})
    env = {"QUILLON_LOG": "yes", "JNI_STAND_IN_RECORD": winpath(record)}
    result = run(exe, cwd=current, env=env)
    assert result.exit_code == 83
    assert winpath(current) not in result.log
    assert not record.exists()

    found = run(exe, env={**env, "PATH": winpath(current) + r";C:\windows\system32"})
    assert found.exit_code == 0, found.log
    assert f"trying {winpath(current)}\\server\\jvm.dll (exists 1)".lower() in found.log.lower()
    assert record.exists()


# ---------------------------------------------------------------------------------------
# Side files

def options_of(result):
    return probe_json(result)["options"]


@pytest.mark.parametrize("privileged", [None, "1"], ids=["ordinary", "elevated"])
def test_options_files_of_a_privileged_run_come_only_from_protected_places(
        pack_probe, run, test_dir, privileged):
    """Beside the launcher, in a directory everyone may write: an elevated run skips the
    default options file and says so; an ordinary run reads it as ever."""
    everyone_may_write(test_dir)
    (test_dir / "probe.vmoptions").write_text("-Dplanted=1\n")
    exe = pack_probe({"keys": {"107": "0"}})
    env = {"QUILLON_LOG": "yes"}
    if privileged:
        env["QLN_TEST_PRIVILEGED"] = privileged
    result = run(exe, args=["options"], env=env)
    options = options_of(result)
    if privileged:
        assert "-Dplanted=1" not in options
        assert (f"skipping {winpath(test_dir)}\\probe.vmoptions: ordinary users can write it, "
                "and this run is privileged") in result.log
        assert "privileged run (elevated)" in result.log
    else:
        assert "-Dplanted=1" in options


def test_elevated_installer_takes_no_planted_options_or_runtime_location(
        pack, run, test_dir, stand_in_home):
    """An elevated installer in a folder everyone may write, with a planted options file and
    a planted preferred-runtime file: neither is read; unelevated, both are (control)."""
    everyone_may_write(test_dir)
    planted_home = test_dir / "planted-jre"
    shutil.copytree(stand_in_home, planted_home)
    (test_dir / "setup.vmoptions").write_text("-Dplanted=1\n")
    (test_dir / ".quillon").mkdir()
    (test_dir / ".quillon" / "pref_jre.cfg").write_text(winpath(planted_home) + "\n")
    exe = pack({"flavor": "t", "applicationType": "gui", "mainClass": "setup.Main",
                "searchSequence": [{"type": "A", "value": winpath(stand_in_home)}]},
               stub="setup-launcher", name="setup.exe")
    record = test_dir / "jni-calls.jsonl"
    env = {"TARVO_LOG": "yes", "JNI_STAND_IN_RECORD": winpath(record)}

    elevated = run(exe, args=["-q"], env={**env, "QLN_TEST_PRIVILEGED": "1"})
    assert elevated.exit_code == 0, elevated.log
    options = next(c for c in read_record(record) if c["call"] == "JNI_CreateJavaVM")["options"]
    assert "-Dplanted=1" not in options
    assert "Has preferred location" not in elevated.log
    assert f"trying {winpath(stand_in_home)}".lower() in elevated.log.lower()

    record.unlink()
    ordinary = run(exe, args=["-q"], env=env)
    assert ordinary.exit_code == 0, ordinary.log
    options = next(c for c in read_record(record) if c["call"] == "JNI_CreateJavaVM")["options"]
    assert "-Dplanted=1" in options
    assert "Using preferred location" in ordinary.log


@pytest.mark.parametrize("target", [r"\\server\share\more.vmoptions",
                                    "//server/share/more.vmoptions",
                                    r"\\?\UNC\server\share\more.vmoptions"])
def test_options_files_include_nothing_from_a_share(pack_probe, run, test_dir, target):
    (test_dir / "probe.vmoptions").write_text(f"-Dbefore=1\n-include-options {target}\n")
    exe = pack_probe({"keys": {"107": "0"}})
    result = run(exe, args=["options"], env={"QUILLON_LOG": "yes"})
    assert "-Dbefore=1" in options_of(result)
    assert f"ERROR: options file on a network path not included: {target}" in result.log


# ---------------------------------------------------------------------------------------
# The language-restart marker

@pytest.mark.parametrize("in_directory, in_environment", [
    (None, None),
    ("0123456789abcdef0123456789abcdef", None),
    (None, "0123456789abcdef0123456789abcdef"),
    ("0123456789abcdef0123456789abcdef", "fedcba9876543210fedcba9876543210"),
], ids=["no key", "file only", "environment only", "keys differ"])
def test_a_restart_marker_given_by_hand_loads_no_prepared_runtime(
        pack, run, test_dir, stand_in_home, in_directory, in_environment):
    prepared = test_dir / "prepared"
    shutil.copytree(stand_in_home, prepared / "jre")
    if in_directory:
        (prepared / "qln_restart.key").write_text(in_directory)
    exe = pack({"flavor": "t", "applicationType": "gui", "mainClass": "setup.Main"},
               stub="setup-launcher", name="setup.exe")
    record = test_dir / "jni-calls.jsonl"
    env = {"TARVO_LOG": "yes", "JNI_STAND_IN_RECORD": winpath(record)}
    if in_environment:
        env["QUILLON_RESTART_KEY"] = in_environment
    result = run(exe, cmdline=f'"{winpath(exe)}" __qln_lang_restart', cwd=prepared, env=env)
    assert result.exit_code == 1
    assert result.box.text.startswith(REFUSED_RESTART)
    assert not record.exists()
    assert "JRE dir" not in (result.log or "")


def test_the_installer_leaves_a_restart_key_in_its_directory(pack, run, tmp_dir):
    """A quiet installer without a runtime keeps its prepared directory for a later run; the
    key a restart must match lies in it, 128 random bits."""
    exe = pack({"flavor": "t", "applicationType": "gui", "mainClass": "setup.Main",
                "searchSequence": [{"type": "A", "value": "Z:\\nowhere"}],
                "includedFiles": [{"name": "a.txt", "source": "a.txt"}]},
               stub="setup-launcher", name="setup.exe", files={"a.txt": "alpha"})
    assert run(exe, args=["-q"], env={"QLN_TEST_NO_CLEANUP_AFTER_EXIT": "1"}).exit_code == 83
    directory = next(tmp_dir.glob("tvo*.tmp_dir*"))
    assert re.fullmatch(r"[0-9a-f]{32}", (directory / "qln_restart.key").read_text())


# ---------------------------------------------------------------------------------------
# Where a privileged run keeps its files

def test_local_system_keeps_its_files_where_only_administrators_write(pack_probe, run,
                                                                      wine_session):
    exe = pack_probe({"keys": {"107": "0"}})
    facts = probe_json(run(exe, args=["temp"], env={"QLN_TEST_PRIVILEGED": "system"}))
    own = "C:\\windows\\SystemTemp\\"
    assert facts["narrow"].lower() == own.lower()
    assert facts["pidFile"].lower() == (own + "tvo_p4242.tmp").lower()
    answer = probe_json(run(exe, args=["privilege"], env={"QLN_TEST_PRIVILEGED": "system"}))
    assert answer["localSystem"] and answer["privileged"]
    assert (wine_session.drive_c / "windows" / "SystemTemp").is_dir()


def test_the_real_answer_under_wine_is_elevated(pack_probe, run):
    """Wine gives every process an elevated token of an administrator."""
    exe = pack_probe({"keys": {"107": "0"}})
    facts = probe_json(run(exe, args=["privilege"], env={"QLN_TEST_PRIVILEGED": "real"}))
    assert facts["privileged"] and not facts["localSystem"]
    # The seamed stubs count as ordinary unless a test asks otherwise.
    facts = probe_json(run(exe, args=["privilege"]))
    assert not facts["privileged"]


# ---------------------------------------------------------------------------------------
# Nothing left after a normal end

@pytest.mark.parametrize("args, code", [([], 0), (["--exit", "3"], 3)],
                         ids=["main returned", "System.exit"])
def test_a_normal_end_leaves_nothing_in_temp(pack, run, tmp_dir, java_home, priv_jar, args,
                                             code):
    """The runtime holds the included jar open until the process ends, and System.exit ends
    it without the launcher's exit; the directory still goes without another start."""
    exe = pack_java(pack, java_home, priv_jar)
    result = run(exe, args=args, timeout=120)
    assert result.exit_code == code, result.stderr_text
    assert "main ran" in result.stdout_text
    assert wait_for(lambda: not list(tmp_dir.glob("tvo*")), timeout=90), \
        sorted(p.name for p in tmp_dir.iterdir())


def test_a_privileged_run_takes_no_shared_fallback(pack_probe, run, test_dir, wine_session):
    """TEMP names a folder outside the code page without an 8.3 name: an ordinary run falls
    back to C:\\windows\\temp, where every user may create files; a privileged one to the
    directory only administrators write."""
    folder = test_dir / "Временные"
    folder.mkdir()
    exe = pack_probe({"keys": {"107": "0"}})
    env = {"TMP": winpath(folder), "TEMP": winpath(folder), "QLN_TEST_NO_SHORT_NAMES": "1"}
    ordinary = probe_json(run(exe, args=["temp"], env=env))
    assert ordinary["narrow"].lower() == "c:\\windows\\temp\\"
    elevated = probe_json(run(exe, args=["temp"], env={**env, "QLN_TEST_PRIVILEGED": "1"}))
    assert elevated["narrow"].lower() == "c:\\windows\\systemtemp\\"
    assert elevated["pidFile"].lower() == "c:\\windows\\systemtemp\\tvo_p4242.tmp"
