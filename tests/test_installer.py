"""The installer launcher's work sequence on the JNI stand-in runtime: integrity check of its
own payload, unpacking of an included "jre.tar.gz" made by real tar tools, the runtime
decision, quiet mode and the hand-over registry values."""

import io
import os
import shutil
import struct
import subprocess
import tarfile
import zlib

import pytest

from conftest import require_built
from harness import inspect, winpath
from harness.java_side import read_record

HAND_OVER = r"HKCU\SOFTWARE\brightwell\tarvo"
TEXTS = {"20013": "Setup Test", "20016": "The installer is damaged.",
         "20018": "The installer could not write its files.", "20003": "Download failed."}
CORRUPTED = ("The bundled JRE is corrupted. If you downloaded the setup file please download it "
             "again.")


def installer_config(**extra):
    config = {"flavor": "t", "applicationType": "gui", "mainClass": "setup.Main",
              "messages": {"1000": "Setup Test", "1009": "Internal error {0}"},
              "localizedTexts": TEXTS}
    config.update(extra)
    return config


def stand_in_archive(path, home, *, fmt=tarfile.PAX_FORMAT):
    """A gzip'd tar of the stand-in runtime, entries at the top as a bundled runtime has them."""
    with tarfile.open(path, "w:gz", format=fmt) as archive:
        for entry in sorted(home.rglob("*")):
            archive.add(entry, arcname=str(entry.relative_to(home)), recursive=False)
    return path


@pytest.fixture
def setup_exe(pack, test_dir):
    """setup_exe(config=None, files=None, stub="setup-launcher"): a packed installer."""

    def make(config=None, files=None, stub="setup-launcher", name="setup.exe"):
        return pack(installer_config(**(config or {})), stub=stub, name=name, files=files)

    return make


@pytest.fixture
def with_stand_in_archive(test_dir, stand_in_home):
    archive = stand_in_archive(test_dir / "jre.tar.gz", stand_in_home)
    return {"includedFiles": [{"name": "jre.tar.gz", "source": str(archive)}]}


def environment(test_dir, **extra):
    """The tests look at what a run left in its temporary directory: it stays until the next
    start, not only until the run ended."""
    record = test_dir / "jni-calls.jsonl"
    env = {"TARVO_LOG": "yes", "JNI_STAND_IN_RECORD": winpath(record),
           "QLN_TEST_NO_CLEANUP_AFTER_EXIT": "1"}
    env.update(extra)
    return env


def main_called(test_dir) -> bool:
    return any(c["call"] == "CallStaticVoidMethodA" or c["call"].startswith("CallStatic")
               for c in read_record(test_dir / "jni-calls.jsonl"))


def log_errors(result):
    return [line[len("ERROR: "):] for line in (result.log or "").splitlines()
            if line.startswith("ERROR: ")]


# ---------------------------------------------------------------------------------------
# Integrity check

def flip_byte(exe, offset):
    data = bytearray(exe.read_bytes())
    data[offset] ^= 0x01
    exe.write_bytes(bytes(data))


def test_crc_of_a_known_payload_matches_zlib(setup_exe, run, test_dir):
    exe = setup_exe({"integrityCheck": True})
    described = inspect(exe)
    assert described["crcMatches"] and described["checkFlag"] == 1
    result = run(exe, args=["-q"], env=environment(test_dir))
    assert "verifying integrity length %d" % described["coveredLength"] in result.log
    crc = described["crcStored"]
    signed = crc - (1 << 32) if crc >= 1 << 31 else crc
    assert "checksums: %d %d %d %d" % (crc, crc, signed, signed) in result.log


@pytest.fixture
def checked_exe(setup_exe, test_dir):
    """checked_exe(check=True): an installer whose covered data ends with 40000 random bytes."""

    def make(check=True):
        (test_dir / "big.bin").write_bytes(os.urandom(40000))
        return setup_exe({"integrityCheck": check,
                          "includedFiles": [{"name": "big.bin", "source": "big.bin"}]})

    return make


@pytest.mark.parametrize("where", ["record", "middle", "last"])
def test_a_flipped_byte_shows_the_damaged_box(checked_exe, run, test_dir, where):
    exe = checked_exe()
    described = inspect(exe)
    start = described["payloadOffset"] + 20
    # In the record, a byte of a value: the configuration still reads, only the CRC differs.
    offset = {"record": exe.read_bytes().index(b"setup.Main", start) + 3,
              "middle": start + described["coveredLength"] // 2,
              "last": start + described["coveredLength"] - 1}[where]
    flip_byte(exe, offset)
    result = run(exe, args=["-q"], env=environment(test_dir))
    assert result.exit_code == 1
    assert (result.box.caption, result.box.text, result.box.icon) == (
        "Setup Test", "The installer is damaged.", "error")
    assert "extracting files" not in result.log


@pytest.mark.parametrize("how", ["nocheck", "flag"])
def test_a_damaged_payload_passes_when_the_check_is_off(checked_exe, run, test_dir, how):
    exe = checked_exe(check=how == "nocheck")
    described = inspect(exe)
    flip_byte(exe, described["payloadOffset"] + 20 + described["coveredLength"] - 1)
    args = ["-q", "-nocheck"] if how == "nocheck" else ["-q"]
    result = run(exe, args=args, env=environment(test_dir))
    assert not result.boxes, result.log
    assert "verifying integrity" not in result.log
    assert "extracting files" in result.log


def test_a_truncated_installer_ends_with_detail_34(checked_exe, run, test_dir):
    exe = checked_exe()
    data = exe.read_bytes()
    # The header still announces the full length; the last bytes are gone.
    exe.write_bytes(data[:-3])
    result = run(exe, args=["-q"], env=environment(test_dir))
    assert result.exit_code == 1
    assert "Internal error 34" in result.stderr_text
    assert any(e.startswith("check ReadFile failed 0 ") for e in log_errors(result))


@pytest.mark.parametrize("length", [0, 3, 12001])
def test_short_covered_lengths(setup_exe, run, test_dir, length):
    """The header may cover less than the payload: the CRC of just those bytes is checked,
    in blocks of 12000 (the CRC of no bytes is 0)."""
    exe = setup_exe({"integrityCheck": True, "keys": {"9999": "x" * 13000}})
    start = inspect(exe)["payloadOffset"]
    data = bytearray(exe.read_bytes())
    covered = bytes(data[start + 20:start + 20 + length])
    crc = zlib.crc32(covered)
    data[start + 8:start + 20] = struct.pack("<Iq", crc, length)
    exe.write_bytes(bytes(data))
    result = run(exe, args=["-q"], env=environment(test_dir))
    assert "verifying integrity length %d" % length in result.log
    signed = crc - (1 << 32) if crc >= 1 << 31 else crc
    assert "checksums: %d %d %d %d" % (crc, crc, signed, signed) in result.log
    assert not result.boxes


# ---------------------------------------------------------------------------------------
# Included runtime and the runtime decision

def test_quiet_install_unpacks_the_runtime_and_runs_main(setup_exe, run, test_dir,
                                                        with_stand_in_archive, stand_in_home):
    exe = setup_exe(with_stand_in_archive)
    result = run(exe, args=["-q"], env=environment(test_dir))
    assert result.exit_code == 0, result.log
    log = result.log
    for line in ["Quiet installer.", "Starting work", "JRE included", "extracting JRE",
                 "untaring JRE was successful"]:
        assert line in log
    assert "JRE dir: " in log and log.index("untaring JRE was successful") < log.index("JRE dir: ")
    assert main_called(test_dir)
    assert "tarvo.manualJre" not in str(read_record(test_dir / "jni-calls.jsonl"))


def test_no_runtime_in_quiet_mode_aborts_with_83(setup_exe, run, test_dir, registry):
    exe = setup_exe({"searchSequence": [{"type": "A", "value": "Z:\\nowhere"}]})
    result = run(exe, args=["-q"], env=environment(test_dir, TARVO_JAVA_HOME=None))
    assert result.exit_code == 83
    assert result.stdout_text == "No JRE found. Aborting.\n"
    assert "No JRE found" in log_errors(result)
    assert not registry.values(HAND_OVER)
    # The prepared directory stays on this path.
    assert any(p.name.endswith(tuple("0123456789")) and p.is_dir() and "_dir" in p.name
               for p in (test_dir / "tmp").iterdir())


def test_manual_ignores_the_archive(setup_exe, run, test_dir, with_stand_in_archive):
    exe = setup_exe({**with_stand_in_archive,
                     "searchSequence": [{"type": "A", "value": "Z:\\nowhere"}]})
    result = run(exe, args=["-q", "-manual"], env=environment(test_dir))
    assert result.exit_code == 83
    assert "Included JRE not used because of manual switch" in result.log
    assert "extracting JRE" not in result.log


def test_prefer_installed_runtime_skips_the_archive(setup_exe, run, test_dir,
                                                    with_stand_in_archive, stand_in_home):
    exe = setup_exe({**with_stand_in_archive, "keys": {"161": "1"}})
    result = run(exe, args=["-q"],
                 env=environment(test_dir, TARVO_JAVA_HOME=winpath(stand_in_home)))
    assert result.exit_code == 0, result.log
    assert "JRE included" in result.log
    assert "extracting JRE" not in result.log
    assert main_called(test_dir)


def test_manual_switch_reaches_java_as_a_property(setup_exe, run, test_dir, stand_in_home):
    # Key 161 finds the installed runtime before "-manual" could matter for the search.
    exe = setup_exe({"keys": {"128": "A" + winpath(stand_in_home)}})
    result = run(exe, args=["-q"], env=environment(test_dir))
    assert result.exit_code == 0, result.log
    options = str(read_record(test_dir / "jni-calls.jsonl"))
    assert "-Dtarvo.manualJre=true" not in options
    # With "/manual" the automatic search is skipped: no runtime, quiet abort.
    result = run(exe, args=["-q", "/manual"], env=environment(test_dir))
    assert result.exit_code == 83


def locate_runtime_by_hand(run, test_dir, java_exe):
    """Presses Locate... in the missing-runtime dialog and picks `java_exe` in the file
    dialog that opens, as a user does."""
    tool = require_built("win64/test-tools/dialog-probe")
    steps = [("#32770", ["press=1005"]),
             ("#32770|" + PICK_JAVA_TITLE, ["filename=" + winpath(java_exe), "press=1"])]
    for number, (window, options) in enumerate(steps):
        out = test_dir / f"dialog-{number}.json"
        probed = run(tool, args=["live", window, "60000", winpath(out), *options], timeout=120)
        assert probed.exit_code == 0, f"no window {window}"


PICK_JAVA_TITLE = "Pick java.exe"


@pytest.mark.parametrize("switch", ["-manual", "/manual"])
def test_a_runtime_located_by_hand_after_manual_tells_java(setup_exe, start, run, test_dir,
                                                          stand_in_home, switch):
    # The installed runtime would be found by the search, which the switch skips.
    exe = setup_exe({"keys": {"128": "A" + winpath(stand_in_home)},
                     "localizedTexts": {**TEXTS, "20004": PICK_JAVA_TITLE}})
    running = start(exe, args=[switch], env=environment(test_dir), timeout=120)
    locate_runtime_by_hand(run, test_dir, stand_in_home / "bin" / "java.exe")
    result = running.wait()
    assert result.exit_code == 0, result.log
    assert main_called(test_dir)
    options = [c for c in read_record(test_dir / "jni-calls.jsonl") if "options" in c]
    assert options and "-Dtarvo.manualJre=true" in options[0]["options"], options


# ---------------------------------------------------------------------------------------
# Archives made by real tools

LONG_DIR = "lib/deep-directory-name-one/deep-directory-name-two/deep-directory-name-three/deep-dir-four"


def source_tree(root, stand_in_home):
    shutil.copytree(stand_in_home, root)
    (root / LONG_DIR).mkdir(parents=True)
    (root / LONG_DIR / "resource-file-with-a-long-name.properties").write_bytes(os.urandom(1500))
    (root / "lib" / "exactly-512.bin").write_bytes(os.urandom(512))
    (root / "lib" / "one.bin").write_bytes(b"1")
    (root / "lib" / "empty.bin").write_bytes(b"")
    (root / "bin" / "link-to-java").symlink_to("java.exe")
    return root


def tree_files(root):
    return {str(p.relative_to(root)): p.read_bytes() for p in root.rglob("*")
            if p.is_file() and not p.is_symlink()}


def gnu_tar(fmt):
    def make(source, archive):
        subprocess.run(["tar", "--format=" + fmt, "-czf", str(archive), "-C", str(source), "."],
                       check=True)
    return make


def python_tar(source, archive):
    with tarfile.open(archive, "w:gz") as out:  # pax, the default
        out.add(source, arcname=".")


def ustar_prefix_tar(source, archive):
    with tarfile.open(archive, "w:gz", format=tarfile.USTAR_FORMAT) as out:
        out.add(source, arcname=".")


def unpacked_runtime(test_dir):
    """The "jre" directory of the run's launcher temp directory, which a normal end keeps."""
    found = list((test_dir / "tmp").glob("*_dir*/jre"))
    assert len(found) == 1, found
    return found[0]


@pytest.mark.parametrize("maker", [gnu_tar("gnu"), gnu_tar("posix"), python_tar, ustar_prefix_tar],
                         ids=["gnu-tar-gnu", "gnu-tar-posix", "python-tarfile", "ustar-prefix"])
def test_archives_of_real_tools_extract_byte_identical(setup_exe, run, test_dir, stand_in_home,
                                                       maker):
    source = source_tree(test_dir / "source", stand_in_home)
    archive = test_dir / "jre.tar.gz"
    maker(source, archive)
    raw = subprocess.run(["gzip", "-dc", str(archive)], capture_output=True, check=True).stdout
    if maker is ustar_prefix_tar:
        # The long directory went into the prefix field of some header.
        assert any(raw[at + 345:at + 500].startswith(b"./lib/deep-directory")
                   for at in range(0, len(raw), 512) if raw[at + 257:at + 265] == b"ustar\x0000")
    exe = setup_exe({"includedFiles": [{"name": "jre.tar.gz", "source": str(archive)}]})
    result = run(exe, args=["-q"], env=environment(test_dir))
    assert result.exit_code == 0, result.log
    assert "untaring JRE was successful" in result.log
    assert main_called(test_dir)
    assert tree_files(unpacked_runtime(test_dir)) == tree_files(source)


# ---------------------------------------------------------------------------------------
# Damaged and hostile archives

def tar_bytes(entries, fmt=tarfile.GNU_FORMAT):
    """entries: (name, data or None for a directory) in order; uncompressed tar bytes."""
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=fmt) as archive:
        for name, data in entries:
            info = tarfile.TarInfo(name)
            if data is None:
                info.type = tarfile.DIRTYPE
                archive.addfile(info)
            else:
                info.size = len(data)
                archive.addfile(info, io.BytesIO(data))
    return out.getvalue()


def gzip_file(path, raw):
    import gzip
    path.write_bytes(gzip.compress(raw))
    return path


def run_with_archive(setup_exe, run, test_dir, raw):
    archive = gzip_file(test_dir / "jre.tar.gz", raw)
    exe = setup_exe({"includedFiles": [{"name": "jre.tar.gz", "source": str(archive)}]})
    return run(exe, args=["-q"], env=environment(test_dir))


@pytest.mark.parametrize("name", ["../../evil.dll", "bin/../../../evil.dll", "{abs}/evil.dll"],
                         ids=["dotdot", "inner-dotdot", "drive-letter"])
def test_paths_outside_the_runtime_directory_refuse_the_archive(setup_exe, run, test_dir, name):
    name = name.replace("{abs}", winpath(test_dir / "tmp").replace("\\", "/"))
    raw = tar_bytes([("bin/", None), ("bin/ok.txt", b"ok"), (name, b"evil"),
                     ("bin/after.txt", b"after")])
    result = run_with_archive(setup_exe, run, test_dir, raw)
    assert result.exit_code == 1
    assert result.stderr_text.startswith(CORRUPTED)
    errors = log_errors(result)
    assert any(e.startswith("unsafe path in archive: ") for e in errors)
    assert errors[-2:] == ["untaring JRE was unsuccessful", "Could not untar JRE"]
    assert not (test_dir / "tmp" / "evil.dll").exists()
    assert not list(test_dir.rglob("evil.dll"))
    assert not main_called(test_dir)


def hostile_tree(root, names):
    """A small runtime-like tree with extra files of the given names, as a user's disk has them
    before a tool archives them."""
    (root / "bin").mkdir(parents=True)
    (root / "bin" / "ok.txt").write_bytes(b"ok")
    for name in names:
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_bytes(b"hostile")
    return root


HOSTILE_NAMES = [
    pytest.param(["bin/CON"], "unsafe path in archive: ", id="con"),
    pytest.param(["bin/nul.txt"], "unsafe path in archive: ", id="nul-with-extension"),
    pytest.param(["lib/Com1.dll"], "unsafe path in archive: ", id="com1"),
    pytest.param(["lib/lpt9.tar.gz"], "unsafe path in archive: ", id="lpt9-two-extensions"),
    pytest.param(["bin/CONIN$"], "unsafe path in archive: ", id="conin"),
    pytest.param(["bin/conout$.log"], "unsafe path in archive: ", id="conout"),
    pytest.param(["aux/x.jar"], "unsafe path in archive: ", id="aux-directory"),
    pytest.param(["bin/java.exe."], "unsafe path in archive: ", id="trailing-dot"),
    pytest.param(["bin/java.exe "], "unsafe path in archive: ", id="trailing-blank"),
    pytest.param(["lib. /x.jar"], "unsafe path in archive: ", id="directory-dot-blank"),
    pytest.param(["bin/release", "bin/RELEASE"], "entries differ only in letter case: ",
                 id="case-twins"),
    pytest.param(["lib/Security/java.policy", "lib/security/java.policy"],
                 "entries differ only in letter case: ", id="case-twin-directories"),
]


@pytest.mark.parametrize("maker", [gnu_tar("gnu"), python_tar], ids=["gnu-tar", "python-tarfile"])
@pytest.mark.parametrize("names, error", HOSTILE_NAMES)
def test_entries_windows_would_read_otherwise_refuse_the_archive(setup_exe, run, test_dir,
                                                                  maker, names, error):
    source = hostile_tree(test_dir / "source", names)
    archive = test_dir / "jre.tar.gz"
    maker(source, archive)
    exe = setup_exe({"includedFiles": [{"name": "jre.tar.gz", "source": str(archive)}]})
    result = run(exe, args=["-q"], env=environment(test_dir))
    assert result.exit_code == 1, result.log
    assert result.stderr_text.startswith(CORRUPTED)
    errors = log_errors(result)
    assert any(e.startswith(error) for e in errors), errors
    assert errors[-2:] == ["untaring JRE was unsuccessful", "Could not untar JRE"]
    assert not main_called(test_dir)


def test_an_ordinary_archive_of_real_tools_is_not_refused_by_the_name_rules(
        setup_exe, run, test_dir):
    # Names that only resemble the refused ones, in one archive.
    names = ["bin/console.dll", "lib/nullable.jar", "lib/com10.txt", "lib/auxiliary.jar",
             "lib/a..b", "lib/.hidden", "lib/x .y", "lib/Lib/inner.txt"]
    source = hostile_tree(test_dir / "source", names)
    archive = test_dir / "jre.tar.gz"
    gnu_tar("gnu")(source, archive)
    exe = setup_exe({"includedFiles": [{"name": "jre.tar.gz", "source": str(archive)}],
                     "searchSequence": [{"type": "A", "value": "Z:\\nowhere"}]})
    result = run(exe, args=["-q"], env=environment(test_dir))
    assert "untaring JRE was successful" in result.log, result.log
    assert tree_files(unpacked_runtime(test_dir)) == tree_files(source)


@pytest.mark.parametrize("margin, refused", [(-1, True), (0, False)],
                         ids=["just-over-twice", "exactly-twice"])
def test_key_151_bounds_what_the_archive_may_unpack_to(setup_exe, run, test_dir, stand_in_home,
                                                        margin, refused):
    source = test_dir / "source"
    shutil.copytree(stand_in_home, source)
    # Zeros compress to almost nothing: the archive stays small whatever it unpacks to.
    (source / "zz-last.bin").write_bytes(bytes(4 << 20))
    unpacked = sum(p.stat().st_size for p in source.rglob("*") if p.is_file())
    archive = test_dir / "jre.tar.gz"
    python_tar(source, archive)
    assert archive.stat().st_size < unpacked // 4
    key_151 = (unpacked + 1) // 2 + margin
    exe = setup_exe({"includedFiles": [{"name": "jre.tar.gz", "source": str(archive)}],
                     "keys": {"151": str(key_151)}})
    result = run(exe, args=["-q"], env=environment(test_dir))
    if not refused:
        assert result.exit_code == 0, result.log
        assert tree_files(unpacked_runtime(test_dir)) == tree_files(source)
        return
    assert result.exit_code == 1, result.log
    assert result.stderr_text.startswith(CORRUPTED)
    assert f"unpacked size exceeds {2 * key_151} bytes at .\\zz-last.bin" in log_errors(result)
    # The file that would pass the limit is never begun.
    assert not (unpacked_runtime(test_dir) / "zz-last.bin").exists()
    assert not main_called(test_dir)


def test_damaged_archives(setup_exe, run, test_dir):
    whole = tar_bytes([("bin/", None), ("bin/a.txt", b"a" * 3000)])
    cases = [
        ("directories only", tar_bytes([("bin/", None), ("lib/", None)]), "no magic number"),
        ("cut in a file", whole[:512 * 2 + 1000], "sizes don't match: 1000, 3000"),
        ("not a tar", os.urandom(2048), "no magic number"),
        ("too long a name", tar_bytes([("x" * 6000, b"1")]), "long file name too long"),
    ]
    for what, raw, error in cases:
        result = run_with_archive(setup_exe, run, test_dir, raw)
        assert result.exit_code == 1, what
        assert result.stderr_text.startswith(CORRUPTED), what
        assert error in log_errors(result), (what, result.log)


def test_not_gzip_at_all_cannot_be_opened(setup_exe, run, test_dir):
    # zlib reads a file without the gzip magic as it is: a plain tar still unpacks.
    (test_dir / "jre.tar.gz").write_bytes(tar_bytes([("bin/", None), ("bin/a.txt", b"a")]))
    exe = setup_exe({"includedFiles": [{"name": "jre.tar.gz", "source": "jre.tar.gz"}],
                     "searchSequence": [{"type": "A", "value": "Z:\\nowhere"}]})
    result = run(exe, args=["-q"], env=environment(test_dir))
    assert "untaring JRE was successful" in result.log
    # ... but holds no runtime, and no other is found.
    assert "Could not load bundled JRE. Trying to find another JRE." in log_errors(result)
    assert "Could not find another JRE." in log_errors(result)
    assert result.stderr_text.startswith(
        "Could not use bundled JRE. Please send this log file to your software vendor:")
    assert result.exit_code == 1


def test_a_file_without_its_directory_entry_cannot_be_opened(setup_exe, run, test_dir):
    raw = tar_bytes([("bin/", None), ("bin/a.txt", b"a"), ("lib/missing/x.jar", b"x")])
    result = run_with_archive(setup_exe, run, test_dir, raw)
    assert result.exit_code == 1
    assert result.stderr_text.startswith("Could not open file lib\\missing\\x.jar\n")
    assert "Could not open file lib\\missing\\x.jar" in result.log


# ---------------------------------------------------------------------------------------
# Language restart and the x86 stub

def test_language_restart_uses_the_unpacked_runtime_and_writes_no_values(
        setup_exe, run, test_dir, stand_in_home, registry):
    """As the Java side restarts it: in the directory of the first run, which holds the key
    that the first run also left in the environment."""
    prepared = test_dir / "prepared"
    shutil.copytree(stand_in_home, prepared / "jre")
    key = "0123456789abcdef0123456789abcdef"
    (prepared / "qln_restart.key").write_text(key)
    exe = setup_exe()
    result = run(exe, cmdline=f'"{winpath(exe)}" __qln_lang_restart', cwd=prepared,
                 env=environment(test_dir, QUILLON_RESTART_KEY=key))
    assert result.exit_code == 0, result.log
    log = result.log
    assert "Quiet installer." in log
    assert "verifying integrity" not in log and "extracting files" not in log
    assert "Checking restart JRE: " + winpath(prepared / "jre.tar.gz") in log
    assert "Checking extracted JRE: " + winpath(prepared / "jre") in log
    assert "JRE dir: " + winpath(prepared / "jre") in log
    assert main_called(test_dir)
    assert registry.values(HAND_OVER) == {}


@pytest.fixture(scope="session")
def runs_32_bit_programs(wine_session):
    """Whether this Wine runs 32-bit programs, asked of a program that cannot fail otherwise:
    the x86 tests skip only on that answer, never on what the stub under test did."""
    def width(probe):
        return wine_session.wine(str(probe), check=False, timeout=120).returncode

    # The 64-bit copy shows that the probe itself runs and answers.
    assert width(require_built("win64/test-tools/bitness-probe")) == 64
    return width(require_built("win32/test-tools/bitness-probe")) == 32


def test_x86_stub_aborts_in_quiet_mode_without_a_runtime(setup_exe, run, test_dir,
                                                         runs_32_bit_programs):
    if not runs_32_bit_programs:
        pytest.skip("this Wine runs no 32-bit programs (no wine32)")
    exe = setup_exe({"searchSequence": [{"type": "A", "value": "Z:\\nowhere"}]},
                    stub="win32/setup-launcher", name="setup32.exe")
    result = run(exe, args=["-q"], env=environment(test_dir))
    # An installer always writes its log, so a missing one means the stub died early.
    assert result.log is not None, (result.exit_code, result.stderr_text)
    assert result.exit_code == 83
    assert result.stdout_text == "No JRE found. Aborting.\n"


# ---------------------------------------------------------------------------------------
# pack200 and the class path

def test_packed_jars_of_the_bundled_runtime_and_included_pack_files(setup_exe, run, test_dir,
                                                                     stand_in_home):
    home = test_dir / "runtime"
    shutil.copytree(stand_in_home, home)
    unpack200 = stand_in_home.parent / "unpack200-stand-in.exe"
    shutil.copyfile(unpack200, home / "bin" / "unpack200.exe")
    (home / "lib").mkdir(exist_ok=True)
    (home / "lib" / "rt.jar.pack").write_bytes(b"rt classes")
    archive = stand_in_archive(test_dir / "jre.tar.gz", home)
    (test_dir / "app.jar.pack").write_bytes(b"app classes")
    exe = setup_exe({"includedFiles": [{"name": "jre.tar.gz", "source": str(archive)},
                                       {"name": "app.jar.pack", "source": "app.jar.pack"}],
                     "keys": {"153": "1"}})
    result = run(exe, args=["-q"], env=environment(test_dir))
    assert result.exit_code == 0, result.log
    assert "JRE is packed" in result.log
    assert "unpacking app.jar.pack" in result.log
    temp = next((test_dir / "tmp").glob("*_dir*"))
    assert (temp / "jre" / "lib" / "rt.jar").read_bytes() == b"rt classes"
    assert not (temp / "jre" / "lib" / "rt.jar.pack").exists()
    assert (temp / "app.jar").read_bytes() == b"app classes"
    assert main_called(test_dir)


def test_the_installation_runtime_library_stays_off_the_class_path(setup_exe, run, test_dir,
                                                                   stand_in_home):
    installation = test_dir / "inst"
    (installation / ".quillon").mkdir(parents=True)
    (installation / ".quillon" / "qlnruntime.jar").write_bytes(b"PK")
    exe = setup_exe({"flavor": "q", "installationDirectory": winpath(installation),
                     "keys": {"128": "A" + winpath(stand_in_home)}})
    result = run(exe, args=["-q"], env=environment(test_dir))
    assert result.exit_code == 0, result.log
    created = [c for c in read_record(test_dir / "jni-calls.jsonl")
               if c["call"] == "JNI_CreateJavaVM"]
    class_path = [o for o in created[0]["options"] if o.startswith("-Djava.class.path=")]
    assert class_path and "qlnruntime.jar" not in class_path[0]


# ---------------------------------------------------------------------------------------
# Modes

def test_modes_without_the_progress_dialog(setup_exe, run, test_dir, stand_in_home):
    from splash_support import HEIGHT, WIDTH, pattern_image
    (test_dir / "splash.bmp").write_bytes(pattern_image(WIDTH, HEIGHT).bmp())
    cases = [
        ("key 155", {"keys": {"155": "1"}}, [], None),
        ("splash", {"splashScreen": {"image": "splash.bmp"}}, [], "Showing splash screen."),
        ("quiet", {}, ["-q"], "Quiet installer."),
    ]
    for what, config, args, line in cases:
        (test_dir / "jni-calls.jsonl").unlink(missing_ok=True)
        exe = setup_exe(config)
        result = run(exe, args=args,
                     env=environment(test_dir, TARVO_JAVA_HOME=winpath(stand_in_home)))
        assert result.exit_code == 0, (what, result.log)
        assert main_called(test_dir), what
        # The watcher only runs beside the progress dialog.
        assert "Java window visible" not in result.log, what
        for other in ["Showing splash screen.", "Quiet installer."]:
            assert (other in result.log) == (other == line), (what, other)


def test_quiet_with_splash_shows_the_progress_dialog_but_no_extraction_box(
        setup_exe, run, test_dir, stand_in_home):
    (test_dir / "big.bin").write_bytes(os.urandom(20000))
    exe = setup_exe({"includedFiles": [{"name": "big.bin", "source": "big.bin"}]})
    exe.write_bytes(exe.read_bytes()[:-100])  # the included file ends early
    result = run(exe, args=["-q", "-splash"],
                 env=environment(test_dir, TARVO_JAVA_HOME=winpath(stand_in_home)))
    assert "Quiet installer." not in result.log
    assert "Starting work" in result.log
    assert result.exit_code == 1
    assert not result.boxes
    # Without "-q" the same installer says so.
    shown = run(exe, env=environment(test_dir, TARVO_JAVA_HOME=winpath(stand_in_home)))
    assert shown.exit_code == 1
    assert [(b.caption, b.text) for b in shown.boxes] == [("Setup Test", TEXTS["20016"])]


# ---------------------------------------------------------------------------------------
# Console switches and the reboot marker

@pytest.mark.parametrize("args, quiet", [
    (["-c"], True),
    (["-console", "-c"], True),
    (["-c", "-console"], True),
    (["-console"], False),
    (["-C"], False),
])
def test_console_switches(setup_exe, run, test_dir, args, quiet):
    raw = tar_bytes([("bin/", None), ("lib/", None)])  # no file: refused as damaged
    archive = gzip_file(test_dir / "jre.tar.gz", raw)
    exe = setup_exe({"includedFiles": [{"name": "jre.tar.gz", "source": str(archive)}]})
    result = run(exe, args=args, env=environment(test_dir))
    assert result.exit_code == 1
    assert ("Quiet installer." in result.log) == quiet
    if quiet:
        # Quiet, and the fatal error goes to the standard error stream.
        assert result.boxes == []
        assert result.stderr_text.startswith(CORRUPTED)
    else:
        # The progress dialog runs the work and the error is a box.
        assert "Starting work" in result.log
        assert result.box.text.startswith(CORRUPTED)


def test_console_switch_without_a_runtime_aborts_with_83(setup_exe, run, test_dir, registry):
    exe = setup_exe({"searchSequence": [{"type": "A", "value": "Z:\\nowhere"}]})
    result = run(exe, args=["-c"], env=environment(test_dir, TARVO_JAVA_HOME=None))
    assert result.exit_code == 83
    assert "No JRE found. Aborting." in result.stdout_text
    assert result.boxes == []
    assert not registry.values(HAND_OVER)


def seamed(exe):
    """Never run the reboot marker on a stub that could really reboot."""
    if b"QLN_TEST_REBOOT_FILE" not in exe.read_bytes():
        pytest.fail(f"{exe} is not a test build: it would really reboot")
    return exe


@pytest.mark.parametrize("tail, reboots", [
    ("__qln_reboot", True),
    ("__qln_reboot ", False),
    ("__qln_reboot -q", False),
    ("-q __qln_reboot", False),
    ("__qln_rebootx", False),
    ("__QLN_REBOOT", False),
])
def test_reboot_marker_only_as_the_whole_tail(launcher, run, test_dir, tmp_dir, tail, reboots):
    # A stub without payload: the marker is handled before anything is read, any other
    # tail fails at reading the configuration.
    exe = test_dir / "bare-setup.exe"
    shutil.copy(launcher("setup-launcher"), exe)
    marker = tmp_dir / "reboot-requested"
    result = run(seamed(exe), cmdline=f'"{winpath(exe)}" {tail}',
                 env={"QLN_TEST_REBOOT_FILE": winpath(marker), "TARVO_LOG": "yes"})
    assert marker.exists() == reboots
    if reboots:
        assert (result.exit_code, result.boxes, result.log) == (0, [], None)
    else:
        assert result.exit_code == 1
        assert result.box.text.startswith("Internal Error: readInt")


def test_reboot_marker_with_a_payload_runs_nothing_else(setup_exe, run, test_dir, tmp_dir,
                                                        registry):
    exe = seamed(setup_exe({"integrityCheck": True}))
    marker = tmp_dir / "reboot-requested"
    result = run(exe, cmdline=f'"{winpath(exe)}" __qln_reboot',
                 env=environment(test_dir, QLN_TEST_REBOOT_FILE=winpath(marker)))
    assert marker.exists()
    assert (result.exit_code, result.boxes, result.log) == (0, [], None)
    assert not main_called(test_dir)
    assert not list((test_dir / "tmp").glob("tvo*"))
    assert not registry.values(HAND_OVER)
