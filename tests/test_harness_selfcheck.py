"""Checks of runner.exe and the harness against msgbox-probe.exe, so that a failing launcher
test points at the launcher and not at the tools around it."""

import struct
from pathlib import Path

import pytest

from harness import TIMED_OUT, HarnessError, Registry, RegValue, assert_pe, read_pe, winpath
from harness.pe import NotPE
from harness.runner import is_wine_added

MB_OK, MB_OKCANCEL, MB_YESNOCANCEL, MB_YESNO = 0x0, 0x1, 0x3, 0x4
MB_ICONERROR, MB_ICONQUESTION, MB_ICONWARNING, MB_ICONINFORMATION = 0x10, 0x20, 0x30, 0x40
MB_DEFBUTTON2 = 0x100


def lines(result, key):
    """Values of the probe's "key=value" lines, in order."""
    prefix = key + "="
    return [line[len(prefix):] for line in result.stdout.decode("utf-8").split("\n")
            if line.startswith(prefix)]


def child_env(result):
    """The child's environment without what Wine adds to every process."""
    entries = [entry.split("=", 1) for entry in lines(result, "env")]
    return [(name, value) for name, value in entries if not is_wine_added(name)]


def test_prefix_runs_one_service_manager(wine_session):
    # Two would each keep their own service database, and clients would reach them by turns.
    prefix = b"WINEPREFIX=" + str(wine_session.prefix).encode()
    managers = []
    for entry in Path("/proc").iterdir():
        try:
            if (b"services.exe" in (entry / "cmdline").read_bytes()
                    and prefix in (entry / "environ").read_bytes().split(b"\0")):
                managers.append(entry.name)
        except OSError:
            continue
    assert len(managers) == 1


# ---- environment, working directory, command line ----

def test_child_gets_exactly_the_given_environment_sorted(run, probe):
    env = {"Zeta": "last", "alpha": "first", "MIDDLE": "bär € 日本", "Path": r"C:\x;D:\y",
           "PERCENT": "100% %PATH%", "EMPTY_LOOKING": " "}
    result = run(probe, args=["env"], env=env, default_environment=False)
    assert child_env(result) == [("alpha", "first"), ("EMPTY_LOOKING", " "),
                                 ("MIDDLE", "bär € 日本"), ("Path", r"C:\x;D:\y"),
                                 ("PERCENT", "100% %PATH%"), ("Zeta", "last")]


def test_default_environment_points_temp_into_the_test(run, probe, tmp_dir):
    env = dict(child_env(run(probe, args=["env"])))
    assert env["TMP"] == env["TEMP"] == winpath(tmp_dir)
    assert env["PATH"] == r"C:\windows\system32;C:\windows"


def test_env_overrides_and_removes_default_entries(run, probe):
    env = dict(child_env(run(probe, args=["env"], env={"TMP": None, "QUILLON_LOG": "yes"})))
    assert "TMP" not in env
    assert env["QUILLON_LOG"] == "yes"
    assert "TEMP" in env


def test_inherit_passes_the_runners_own_value(run, probe):
    env = dict(child_env(run(probe, args=["env"], env={}, default_environment=False,
                             inherit=["ComSpec", "NO_SUCH_VARIABLE"])))
    assert env == {"ComSpec": r"C:\windows\system32\cmd.exe"}


@pytest.mark.parametrize("folder", ["plain", "mit Ümlaut und Leerzeichen"])
def test_working_directory(run, probe, test_dir, folder):
    (test_dir / folder).mkdir()
    assert lines(run(probe, args=["cwd"], cwd=test_dir / folder), "cwd") == [
        winpath(test_dir / folder)]


def test_default_working_directory_is_the_test_folder(run, probe, test_dir):
    assert lines(run(probe, args=["cwd"]), "cwd") == [winpath(test_dir)]


@pytest.mark.parametrize("tail", [
    "cmdline",
    "   cmdline   ",
    'cmdline "quoted  arg" \\"escaped\\" tab\tinside',
    "cmdline %PATH% 100%",
    "cmdline Grüße 日本 €",
])
def test_command_line_reaches_the_child_verbatim(run, probe, tail):
    cmdline = f'"{winpath(probe)}" {tail}'
    assert lines(run(probe, cmdline=cmdline), "cmdline") == [cmdline]


def test_command_line_may_name_another_program_than_exe(run, probe):
    assert lines(run(probe, cmdline="other.exe cmdline"), "cmdline") == ["other.exe cmdline"]


@pytest.mark.parametrize("args", [
    ["plain"],
    ["with space", "", "tab\there"],
    ['quote"inside', 'end\\', 'dir with space\\', 'back\\\\"slash'],
    ["-Dx=ä€", "C:\\Program Files\\x"],
])
def test_args_are_quoted_so_the_child_splits_them_back(run, probe, args):
    assert lines(run(probe, args=["argv", *args]), "arg")[1:] == ["argv", *args]


# ---- exit codes, timeout, streams ----

@pytest.mark.parametrize("code", [0, 1, 83, 255, 256, 0xC0000005])
def test_exit_code(run, probe, code):
    result = run(probe, args=["exit", str(code)])
    assert (result.exit_code, result.timed_out) == (code, False)


def test_timeout_ends_the_child_and_says_so(run, probe):
    result = run(probe, args=["sleep", "600000"], timeout=1)
    assert (result.exit_code, result.timed_out) == (TIMED_OUT, True)
    assert "runner: timeout" in result.stderr_text


def test_timeout_also_ends_what_the_child_started(run, probe, tools, test_dir):
    marker = "424242"
    inner = test_dir / "inner.spec"
    inner.write_text(f'cmdline="{winpath(probe)}" out started sleep {marker}\n',
                     encoding="utf-8")
    # The inner probe sleeps far longer than the outer limit; the limit only has to leave
    # the two programs time to start, which "started" proves they had.
    result = run(tools["runner"], args=[winpath(inner)], timeout=30)
    assert result.timed_out
    assert result.stdout == b"started\n"
    leftovers = [p for p in _process_command_lines() if "msgbox-probe" in p and marker in p]
    assert leftovers == []


def _process_command_lines():
    found = []
    for entry in Path("/proc").iterdir():
        try:
            found.append((entry / "cmdline").read_bytes().replace(b"\0", b" ").decode(
                errors="replace"))
        except OSError:
            pass
    return found


def test_stdout_and_stderr_stay_apart(run, probe):
    result = run(probe, args=["out", "one", "err", "two", "out", "thrée"])
    assert result.stdout == "one\nthrée\n".encode("utf-8")
    assert result.stderr == b"two\n"


def test_stdin_reaches_the_child(run, probe):
    assert run(probe, args=["stdin"], stdin=b"0\n").stdout == b"0\n"


@pytest.mark.parametrize("lc_all, lcid", [
    ("en_US.UTF-8", "0x0409"),
    ("de_AT.UTF-8", "0x0C07"),
    ("de_DE.UTF-8", "0x0407"),
    ("fr_FR.UTF-8", "0x040C"),
    ("en_IN.UTF-8", "0x4009"),
])
def test_lc_all_sets_the_windows_locale(run, probe, lc_all, lcid):
    assert lines(run(probe, args=["lcid"], lc_all=lc_all), "lcid") == [lcid]


def test_failed_start_is_a_harness_error(run, test_dir):
    with pytest.raises(HarnessError, match="CreateProcessW failed with error 2"):
        run(test_dir / "missing.exe")


# ---- message boxes ----

@pytest.mark.parametrize("kind, flags, buttons, default, icon", [
    ("box", MB_OK | MB_ICONERROR, ("OK",), "OK", "error"),
    ("box", MB_YESNO | MB_ICONQUESTION, ("YES", "NO"), "YES", "question"),
    ("box", MB_YESNOCANCEL | MB_DEFBUTTON2 | MB_ICONWARNING, ("YES", "NO", "CANCEL"), "NO",
     "warning"),
    ("box", MB_OKCANCEL | MB_ICONINFORMATION, ("OK", "CANCEL"), "OK", "information"),
    ("box", MB_OK, ("OK",), "OK", None),
    ("boxa", MB_OK | MB_ICONERROR, ("OK",), "OK", "error"),
])
def test_box_is_captured(run, probe, kind, flags, buttons, default, icon):
    caption, text = "Fehler – Äpfel", "Zeile 1\n\nLog: C:\\Temp\\qln_nlog_2 ü"
    result = run(probe, args=[kind, caption, text, hex(flags)])
    assert result.box == result.boxes[0]
    box = result.box
    assert (box.caption, box.text, box.buttons, box.default, box.icon) == (
        caption, text, buttons, default, icon)
    assert (box.pressed, box.answered) == (default, False)


def test_answers_are_pressed_in_order(run, probe):
    result = run(probe, args=["box", "first", "a", hex(MB_YESNO), "box", "second", "b",
                              hex(MB_YESNO)], answers=["NO", "YES"])
    assert [(b.caption, b.pressed, b.answered) for b in result.boxes] == [
        ("first", "NO", True), ("second", "YES", True)]
    assert lines(result, "box") == ["7", "6"]  # IDNO, IDYES


def test_unanswered_box_gets_its_default_button(run, probe):
    result = run(probe, args=["box", "c", "t", hex(MB_YESNO | MB_DEFBUTTON2)])
    assert (result.box.pressed, result.box.answered) == ("NO", False)
    assert lines(result, "box") == ["7"]


def test_answer_without_matching_button_is_reported(run, probe):
    with pytest.raises(HarnessError, match="answers did not fit"):
        run(probe, args=["box", "c", "t", hex(MB_OK)], answers=["YES"])
    result = run(probe, args=["box", "c", "t", hex(MB_OK)], answers=["YES"],
                 check_answers=False)
    assert (result.box.pressed, result.box.expected) == ("OK", "YES")


def test_unused_answers_are_reported(run, probe):
    with pytest.raises(HarnessError, match="unused"):
        run(probe, args=["exit", "0"], answers=["OK"])


def test_other_dialogs_are_recorded_and_left_alone(run, probe):
    result = run(probe, args=["dialog", "Setup – Fortschritt", "Entpacken…", "1500",
                              "exit", "5"])
    assert result.boxes == []
    assert result.exit_code == 5
    [dialog] = result.dialogs
    assert dialog["caption"] == "Setup – Fortschritt"
    assert [(c["class"], c["id"], c["text"]) for c in dialog["controls"]] == [
        ("Static", 0xFFFF, "Entpacken…"), ("Button", 1, "OK")]


# ---- diagnostic log discovery ----

def test_log_is_the_file_this_run_wrote(run, probe, tmp_dir):
    (tmp_dir / "qln_nlog_2").write_bytes(b"from an earlier run\r\n")
    (tmp_dir / "qln_nlog_other").write_bytes(b"not a log name\r\n")
    result = run(probe, args=["file", winpath(tmp_dir / "qln_nlog_3"), "Started\r\n\r\nä\r\n"])
    assert result.log_path == tmp_dir / "qln_nlog_3"
    assert result.log == "Started\n\nä\n"


@pytest.mark.parametrize("tmp", [None, r"Z:\no\such\directory"])
def test_log_without_usable_tmp_is_found_under_c(run, probe, wine_session, tmp):
    result = run(probe, args=["file", r"C:\qln_nlog_2", "x"], env={"TMP": tmp})
    assert result.log_path == wine_session.drive_c / "qln_nlog_2"


def test_no_log(run, probe):
    result = run(probe, args=["exit", "0"])
    assert (result.log, result.log_path) == (None, None)


# ---- registry ----

@pytest.mark.parametrize("written, read_back", [
    ("text", "text"),
    ("", ""),
    ("Grüße € 日本 \"quoted\" back\\slash", "Grüße € 日本 \"quoted\" back\\slash"),
    (0, 0),
    (0xFFFFFFFF, 0xFFFFFFFF),
    (b"\x00\x01\xff", b"\x00\x01\xff"),
    (["one", "twö"], ["one", "twö"]),
    (RegValue(2, "%TMP%\\x"), "%TMP%\\x"),
    (RegValue(11, 2**40), 2**40),
    (RegValue(0x1234, b"\x01\x02"), RegValue(0x1234, b"\x01\x02")),
])
def test_registry_value_round_trip(registry, written, read_back):
    key = r"HKCU\Software\brightwell\tarvo\selfcheck"
    registry.write(key, "Name", written)
    assert registry.read(key, "Name") == read_back


def test_registry_keys_values_and_deletion(registry):
    key = r"HKLM\SOFTWARE\JavaSoft\Java Runtime Environment"
    registry.write(key, "CurrentVersion", "1.8")
    registry.write(key + r"\1.8", "JavaHome", r"C:\jre")
    registry.write(key + r"\1.8", "", "default")
    assert registry.subkeys(key) == ["1.8"]
    assert registry.values(key + r"\1.8") == {"JavaHome": r"C:\jre", "": "default"}
    registry.delete_value(key, "CurrentVersion")
    assert registry.read(key, "CurrentVersion") is None
    registry.delete_key(key)
    assert not registry.exists(key)
    assert registry.read(r"HKCU\Software\NoSuchKey", "x") is None


def test_registry_cleanup_removes_what_a_test_left(wine_session, test_dir):
    first = Registry(wine_session, work_dir=test_dir)
    first.write(r"HKCU\Software\brightwell\tarvo\jvms\c:/x/java.exe", "Version", "1.8.0_1")
    first.write(r"HKCU\Software\SelfCheck\deeper", "v", 1)
    first.cleanup()
    assert not first.exists(r"HKCU\Software\brightwell")
    assert not first.exists(r"HKCU\Software\SelfCheck")
    assert first.exists(r"HKCU\Software\Wine")


# ---- PE images ----

def _pe_image(machine, magic, subsystem, symbols):
    """A minimal PE header with one section of 0x200 raw bytes at 0x200."""
    optional = bytearray(0xF0 if magic == 0x20B else 0xE0)
    struct.pack_into("<H", optional, 0, magic)
    struct.pack_into("<H", optional, 68, subsystem)
    coff = struct.pack("<HHIIIHH", machine, 1, 0, 0x400 if symbols else 0,
                       5 if symbols else 0, len(optional), 0x22)
    section = bytearray(40)
    struct.pack_into("<II", section, 16, 0x200, 0x200)
    head = bytearray(0x40)
    head[:2] = b"MZ"
    struct.pack_into("<I", head, 0x3C, 0x40)
    image = bytes(head) + b"PE\0\0" + coff + bytes(optional) + bytes(section)
    return image.ljust(0x400, b"\0") + b"payload"


@pytest.mark.parametrize("machine, magic, subsystem, symbols, expected", [
    (0x8664, 0x20B, 2, False, ("x64", "PE32+", "gui", False)),
    (0x014C, 0x10B, 3, True, ("x86", "PE32", "console", True)),
    (0x8664, 0x20B, 3, True, ("x64", "PE32+", "console", True)),
])
def test_pe_headers(machine, magic, subsystem, symbols, expected):
    info = read_pe(_pe_image(machine, magic, subsystem, symbols))
    assert (info.machine, info.format, info.subsystem, info.has_symbol_table) == expected
    assert (info.image_end, info.overlay_size) == (0x400, len(b"payload"))


@pytest.mark.parametrize("data", [b"", b"ZM" + bytes(100), b"MZ" + bytes(0x3A) + b"\x40\0\0\0"
                                  + b"NE\0\0" + bytes(40)])
def test_not_a_pe_image(data):
    with pytest.raises(NotPE):
        read_pe(data)


def test_built_tools_are_pe32_plus(tools):
    assert_pe(tools["runner"], machine="x64", subsystem="console")
    assert_pe(tools["msgbox-probe"], machine="x64", subsystem="gui")
    with pytest.raises(AssertionError):
        assert_pe(tools["runner"], machine="x86", subsystem="console")
