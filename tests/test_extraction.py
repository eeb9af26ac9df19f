"""Included files: extraction into a fresh launcher temp directory, what their names may hold,
a payload cut short, and what the exit leaves of the directory."""

import json
import re

import pytest

from harness import inspect, winpath

LIBRARY = bytes(range(256)) * 51  # 13056 bytes: two whole copy chunks and a part
SOURCES = {"src/a.txt": b"alpha", "src/empty.bin": b"", "src/library.dll": LIBRARY,
           "src/b.txt": b"beta"}
INCLUDED = [{"name": "a.txt", "source": "src/a.txt"},
            {"name": "empty.bin", "source": "src/empty.bin"},
            {"name": "lib\\native.dll", "source": "src/library.dll"}]
MESSAGES = {"1009": "Internal error {0} occurred."}


def fnv1a(data: bytes) -> str:
    value = 0xCBF29CE484222325
    for byte in data:
        value = ((value ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return f"{value:016x}"


def extracted(data: bytes) -> dict:
    return {"size": len(data), "fnv1a": fnv1a(data)}


def probe_json(result):
    assert result.exit_code == 0, result.stderr_text
    return json.loads(result.stdout.decode("utf-8"))


def launcher_temp_dirs(tmp_dir):
    return sorted(p.name for p in tmp_dir.iterdir() if p.is_dir())


def made_dir(log) -> str:
    return re.search(r"^Temp dir3: (.*)$", log, re.M).group(1)


def error_output(result, text):
    return f"{text}\n\nLog: {winpath(result.log_path)}\n"


def config(included=INCLUDED, **keys):
    return {"keys": {"107": "0", **keys}, "messages": MESSAGES, "includedFiles": included}


def test_app_launcher_extracts_into_a_fresh_directory(pack, run, tmp_dir):
    exe = pack(config(), files=SOURCES)
    result = run(exe, env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 83
    made = made_dir(result.log)
    assert re.fullmatch(re.escape(winpath(tmp_dir)) + r"\\tvo[0-9A-Fa-f]+\.tmp_dir\d+", made)
    lines = result.log.splitlines()
    start = lines.index(f"Temp dir3: {made}")
    assert lines[start:lines.index("extracting files done") + 1] == [
        f"Temp dir3: {made}",
        f"extracting {made}\\a.txt (size: 5)",
        f"extracting {made}\\empty.bin (size: 0)",
        f"creating directory {made}\\lib",
        f"extracting {made}\\lib\\native.dll (size: 13056)",
        "extracting files done",
    ]
    assert f"removed temp dir {made}" in lines
    # The exit removed the directory and the file that reserved its name.
    assert list(tmp_dir.glob("tvo*")) == []


def test_extracted_contents(pack_probe, run, tmp_dir):
    exe = pack_probe(config(), files=SOURCES)
    found = probe_json(run(exe, args=["extract"]))
    assert found["status"] == 0
    assert found["tempDir"].startswith(winpath(tmp_dir) + "\\tvo")
    # A file of size 0 is not created, and the next file follows it directly.
    assert found["entries"] == {"a.txt": extracted(b"alpha"), "lib": None,
                                "lib\\native.dll": extracted(LIBRARY)}
    assert found["includedFilesEnd"] == inspect(exe)["unextractedOffset"]
    assert launcher_temp_dirs(tmp_dir) == []


@pytest.mark.parametrize("count, names, entries", [
    ("1", "a.txt;b.txt", {"a.txt": b"alpha"}),
    ("5", "a.txt;b.txt", {"a.txt": b"alpha", "b.txt": b"beta"}),
    ("2", ";;first.txt;;second.txt;", {"first.txt": b"alpha", "second.txt": b"beta"}),
])
def test_count_and_names_choose_the_files(pack_probe, run, count, names, entries):
    exe = pack_probe(config([{"name": "a.txt", "source": "src/a.txt"},
                             {"name": "b.txt", "source": "src/b.txt"}],
                            **{"2002": count, "2003": names}), files=SOURCES)
    found = probe_json(run(exe, args=["extract"]))
    assert found["entries"] == {name: extracted(data) for name, data in entries.items()}
    # The packer's reading of the same count and names: the end of what was extracted.
    assert found["includedFilesEnd"] == inspect(exe)["unextractedOffset"]


@pytest.mark.parametrize("included, keys", [
    (INCLUDED, {"2002": "0"}),
    (INCLUDED, {"2002": "-1"}),
    ([], {}),
])
def test_no_included_files_leave_no_directory(pack, run, tmp_dir, included, keys):
    exe = pack(config(included, **keys), files=SOURCES)
    result = run(exe, env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 83
    assert f"Included files: {keys.get('2002', '0')}\n" in result.log
    assert "Temp dir3" not in result.log
    assert "emptying" not in result.log
    assert [p.name for p in tmp_dir.iterdir() if p.name.startswith("tvo")] == []


def test_two_directory_levels_cannot_be_created(pack, run, tmp_dir):
    exe = pack(config([{"name": "c.txt", "source": "src/a.txt"}], **{"2003": "a\\b\\c.txt"}),
               files=SOURCES)
    result = run(exe, env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 1
    assert result.stderr_text == error_output(result, "Internal error 11 occurred.")
    made = made_dir(result.log)
    assert f"creating directory {made}\\a\n" in result.log
    assert f"extracting {made}\\a\\b\\c.txt (size: 5)\n" in result.log
    assert launcher_temp_dirs(tmp_dir) == []


@pytest.mark.parametrize("name", [
    "..\\escape.txt",
    ".\\escape.txt",
    "sub\\..\\escape.txt",
    "\\escape.txt",
    "/escape.txt",
    "sub/escape.txt",
    "c:\\escape.txt",
    "c:escape.txt",
    # Device names: writing them reaches the device, not a file in the directory.
    "NUL",
    "con.txt",
    "sub\\Aux.jar",
    "COM1.log",
    "lpt9",
])
def test_names_that_leave_the_directory_are_refused(pack, run, test_dir, tmp_dir, wine_session,
                                                    name):
    exe = pack(config([{"name": "escape.txt", "source": "src/a.txt"}], **{"2003": name}),
               files=SOURCES)
    result = run(exe, env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 1
    assert result.stderr_text == error_output(result, "Internal error 11 occurred.")
    assert f"ERROR: included file name leaves the temp directory: {name}\n" in result.log
    assert list(test_dir.rglob("escape.txt")) == []
    assert not (wine_session.drive_c / "escape.txt").exists()
    assert launcher_temp_dirs(tmp_dir) == []


@pytest.mark.parametrize("where, text", [
    ("in the content", "Internal error 16 occurred."),
    ("in the size", "Internal Error: readLong"),
])
def test_payload_cut_short(pack, run, tmp_dir, where, text):
    exe = pack(config(), files=SOURCES)
    content_start = inspect(exe)["unextractedOffset"] - len(LIBRARY)
    cut = {"in the content": content_start + 7000, "in the size": content_start - 5}[where]
    exe.write_bytes(exe.read_bytes()[:cut])
    result = run(exe, env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 1
    assert result.stderr_text == error_output(result, text)
    made = made_dir(result.log)
    if where == "in the content":
        # Read in chunks of 6000 bytes: a whole one, a short one, then nothing.
        assert re.search(r"^ERROR: ReadFile failed 0 -?\d+ 7000$", result.log, re.M)
        assert f"ERROR: Failed to extract {made}\\lib\\native.dll\n" in result.log
    # The exit takes the directory and what was extracted so far.
    assert f"removed temp dir {made}\n" in result.log
    assert list(tmp_dir.glob("tvo*")) == []


@pytest.mark.parametrize("made", [[], ["flat"], ["deep\\er"], ["flat", "deep\\er\\est"]])
def test_exit_removes_the_whole_directory(pack_probe, run, tmp_dir, made):
    """The probe creates the directories of `made` in the launcher temp directory, with a file
    in the innermost level, before it ends through the launcher's exit: every level goes,
    and so does the name file."""
    exe = pack_probe(config(), files=SOURCES)
    result = run(exe, args=["extract", *made], env={"QUILLON_LOG": "yes"})
    directory = probe_json(result)["tempDir"]
    assert f"removed temp dir {directory}\n" in result.log
    assert list(tmp_dir.glob("tvo*")) == []


def test_a_start_sweeps_only_directories_whose_owners_have_ended(pack, run, tmp_dir):
    """Any launcher start removes, in full, the directory of a run that has ended (its name
    file marked, held by nobody); a directory of a launcher that never held its name file, and
    one named by something else, stay."""
    ended = tmp_dir / "tvo1A2B.tmp_dir1700000000"
    (ended / "lib" / "deep" / "deeper").mkdir(parents=True)
    (ended / "lib" / "deep" / "deeper" / "x.dll").write_bytes(b"x")
    (ended / "a.txt").write_text("a")
    (tmp_dir / "tvo1A2B.tmp").write_bytes(b"held by its launcher\r\n")
    unmarked = tmp_dir / "tvo3C4D.tmp_dir1700000000"
    unmarked.mkdir()
    (unmarked / "a.txt").write_text("a")
    (tmp_dir / "tvo3C4D.tmp").write_bytes(b"")
    stranger = tmp_dir / "tvo5E6F.tmp_dirX"
    stranger.mkdir()
    # Name files whose directory is already gone: a marked one of an ended run goes, one
    # without the mark stays.
    (tmp_dir / "tvo7A8B.tmp").write_bytes(b"held by its launcher\r\n")
    (tmp_dir / "tvo9C0D.tmp").write_bytes(b"something else's\r\n")
    exe = pack(config([]))
    result = run(exe, env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 83
    assert not ended.exists() and not (tmp_dir / "tvo1A2B.tmp").exists()
    assert f"removed ended temp dir {winpath(ended)}\n" in result.log
    assert (unmarked / "a.txt").is_file() and (tmp_dir / "tvo3C4D.tmp").is_file()
    assert stranger.is_dir()
    assert not (tmp_dir / "tvo7A8B.tmp").exists()
    assert f"removed ended temp name {winpath(tmp_dir / 'tvo7A8B.tmp')}\n" in result.log
    assert (tmp_dir / "tvo9C0D.tmp").is_file()
