"""The application launcher's start: markers, console switches, how fatal errors are shown
and how the process ends."""

import json
import shutil

import pytest

from harness import pack as pack_exe, winpath

ERROR_TEXT = "Extraction failed: {0} (code {0})"
SHOWN_TEXT = "Extraction failed: 16 (code {0})"


def failing_app(pack, **keys):
    """A launcher whose extraction fails: the included file is cut short in the payload."""
    config = {"keys": {"1000": "My App", "1009": ERROR_TEXT, **keys},
              "includedFiles": [{"name": "a.txt", "source": "a.txt"}]}
    exe = pack(config, files={"a.txt": "x" * 100})
    exe.write_bytes(exe.read_bytes()[:-10])
    return exe


def test_fatal_message_in_a_box_with_the_long_log_path(pack, run, tmp_dir, probe):
    exe = failing_app(pack, **{"107": "1"})
    long_tmp = tmp_dir / "a long directory name"
    long_tmp.mkdir()
    short = run(probe, args=["short", winpath(long_tmp)]).stdout_text.strip()
    short_tmp = short.removeprefix("short=")
    assert short_tmp != winpath(long_tmp)

    result = run(exe, env={"QUILLON_LOG": "yes", "TMP": short_tmp})
    assert result.exit_code == 1
    box = result.box
    assert (box.caption, box.buttons, box.icon) == ("My App", ("OK",), "error")
    assert box.text == f"{SHOWN_TEXT}\n\nLog: {winpath(long_tmp)}\\qln_nlog_2"


def test_fatal_message_on_standard_error(pack, run):
    result = run(failing_app(pack, **{"107": "0"}), env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 1
    assert result.boxes == []
    assert result.stderr_text == f"{SHOWN_TEXT}\n\nLog: {winpath(result.log_path)}\n"


def test_absent_message_key_shows_an_empty_text(pack, run):
    exe = failing_app(pack, **{"107": "1", "1009": None, "1000": None})
    result = run(exe)
    assert (result.box.caption, result.box.text) == ("", "")


@pytest.mark.parametrize("keys, args, in_box", [
    ({}, ["-q"], True),
    ({}, ["-c"], True),
    ({"154": "1"}, ["-q"], False),
    ({"154": "1"}, ["-c"], False),
    ({"154": "1"}, ["-console"], True),
    ({"154": "1"}, ["x", "-c", "-q"], False),
    ({"156": "1"}, ["-q"], True),
    ({"156": "1"}, ["-c"], True),
    ({"156": "1"}, ["-console"], True),
    ({"154": "1"}, ["-Q"], True),
])
def test_console_switches(pack, run, keys, args, in_box):
    result = run(failing_app(pack, **{"107": "1", **keys}), args=args)
    assert result.exit_code == 1
    if in_box:
        assert result.box.text == SHOWN_TEXT
    else:
        assert result.boxes == []
        assert result.stderr_text == SHOWN_TEXT + "\n"


@pytest.mark.parametrize("tail, in_box", [
    ("-q_qln_internal", False),
    ("-q_qln_internal more words", False),
    ("first -q_qln_internal", True),
])
def test_internal_quiet_marker_only_at_the_start(pack, run, tail, in_box):
    exe = failing_app(pack, **{"107": "1"})
    result = run(exe, cmdline=f'"{winpath(exe)}" {tail}')
    assert (len(result.boxes) == 1) == in_box


def test_reboot_marker_reads_no_configuration(launcher, run, test_dir, tmp_dir):
    # A stub without payload: the marker is handled before anything is read.
    exe = test_dir / "bare.exe"
    shutil.copy(launcher("app-launcher"), exe)
    marker = tmp_dir / "reboot-requested"
    result = run(exe, cmdline=f'"{winpath(exe)}" __qln_reboot',
                 env={"QLN_TEST_REBOOT_FILE": winpath(marker), "QUILLON_LOG": "yes"})
    assert result.exit_code == 0
    assert marker.exists()
    assert result.log is None and result.boxes == []


@pytest.mark.parametrize("tail", ["__qln_reboot x", "__qln_reboot ", "x __qln_reboot"])
def test_reboot_marker_must_be_the_whole_tail(launcher, run, test_dir, tmp_dir, tail):
    exe = test_dir / "bare.exe"
    shutil.copy(launcher("app-launcher"), exe)
    marker = tmp_dir / "reboot-requested"
    result = run(exe, cmdline=f'"{winpath(exe)}" {tail}',
                 env={"QLN_TEST_REBOOT_FILE": winpath(marker)})
    assert not marker.exists()
    assert (result.exit_code, result.box.text) == (1, "Internal Error: readInt")


def test_language_restart_skips_working_directory_and_single_instance(pack, run):
    exe = pack({"keys": {"107": "0", "146": "..", "10005": "1"}})
    restart = run(exe, cmdline=f'"{winpath(exe)}" __qln_lang_restart', env={"QUILLON_LOG": "yes"})
    assert "working directory" not in restart.log
    assert "semaphore name" not in restart.log
    normal = run(exe, env={"QUILLON_LOG": "yes"})
    assert "change working directory to" in normal.log
    assert "single instance mode" in normal.log


def test_missing_runtime_exit_code_and_bitness(pack, run):
    exe = pack({"keys": {"107": "0", "1016": "No {0}-bit Java {0}"}})
    result = run(exe)
    assert result.exit_code == 83
    assert "No 64-bit Java {0}\n" in result.stderr_text


@pytest.mark.parametrize("cmdline_tail, words", [
    ("a  b   c", ["a", "b", "c"]),
    ('"C:\\Program Files\\x" y', ["C:\\Program Files\\x", "y"]),
    ('pre"quoted part"post', ["prequoted part", "post"]),
    ("'single quoted' \"it's\"", ["single quoted", "it's"]),
    ('a\\"b c"', ['a\\b c']),
    ('"unterminated rest', ["unterminated rest"]),
    ('"" x', ["", "x"]),
])
def test_command_line_words_under_windows(test_dir, run, cmdline_tail, words):
    exe = pack_exe(test_dir, {}, stub="win64/test-tools/core-probe")
    result = run(exe, cmdline=f'"{winpath(exe)}" words {cmdline_tail}')
    assert json.loads(result.stdout.decode("utf-8")) == [winpath(exe), "words", *words]


@pytest.mark.parametrize("length, expected", [
    (5999, "m" * 5996 + "16"),
    (6000, "m" * 5997 + "{0"),  # cut inside the placeholder: nothing to replace
    (7000, "m" * 5999),
])
def test_long_message_is_cut_to_the_buffer(pack, run, length, expected):
    # The message is read into 6000 characters before "{0}" is replaced.
    text = "m" * (length - 3) + "{0}"
    result = run(failing_app(pack, **{"107": "0", "1009": text}))
    assert result.exit_code == 1
    assert result.stderr_text == expected + "\n"
