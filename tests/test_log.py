"""The diagnostic log: who asks for it, where it goes, what it looks like."""

import re

import pytest

from harness import pack as pack_exe, winpath

HEADER = re.compile(r"Started executable (.+) at [A-Z][a-z]{2} [A-Z][a-z]{2} \d\d "
                    r"\d\d:\d\d:\d\d \d{4}$")
LOG_PROMPT = ("The following log file will be created:\n\n{}\n\n"
              "Do you want to open an Explorer window?")


def app(pack, flavor="q"):
    return pack({"keys": {"107": "0", "2001": flavor}})


def log_files(directory):
    return sorted(p.name for p in directory.glob("qln_nlog*"))


def test_no_log_without_a_request(pack, run, tmp_dir, wine_session):
    result = run(app(pack))
    assert result.exit_code == 83
    assert log_files(tmp_dir) == [] and log_files(wine_session.drive_c) == []
    # Error messages then carry no log line.
    assert "Log:" not in result.stderr_text


@pytest.mark.parametrize("env, wanted", [
    ({"QUILLON_LOG": "yes"}, True),
    ({"TARVO_LOG": "yes"}, True),
    ({"QUILLON_LOG": "yes", "TARVO_LOG": "no"}, True),
    ({"TARVO_LOG": "yes", "QUILLON_LOG": "no"}, True),
    ({"QUILLON_LOG": "YES"}, False),
    ({"QUILLON_LOG": "yes "}, False),
    ({"TARVO_LOG": "1"}, False),
])
def test_environment_requests(pack, run, env, wanted):
    result = run(app(pack), env=env)
    assert (result.log is not None) == wanted


@pytest.mark.parametrize("switch", ["-create-qln-log", "-create-tvo-log", "/create-qln-log",
                                    "/create-tvo-log"])
@pytest.mark.parametrize("flavor, product", [("q", "quillon"), ("t", "tarvo"), ("tq", "tarvo"),
                                             ("x", "quillon"), ("", "quillon"),
                                             (None, "quillon")])
def test_switch_as_first_argument_asks_to_show_the_log(pack, run, switch, flavor, product):
    result = run(app(pack, flavor), args=[switch, "more"], answers=["NO"])
    assert result.log is not None
    box = result.box
    assert box.caption == product
    assert box.buttons == ("YES", "NO")
    assert box.text == LOG_PROMPT.format(winpath(result.log_path))
    assert "calling" not in result.log


@pytest.mark.parametrize("args", [["first", "-create-qln-log"], ["-CREATE-QLN-LOG"]])
def test_switch_elsewhere_is_an_ordinary_argument(pack, run, args):
    result = run(app(pack), args=args)
    assert result.log is None
    assert result.boxes == []


@pytest.mark.parametrize("user", ["Łukasz", "Временные", "临时文件"])
def test_paths_outside_the_code_page_are_logged_in_utf8(pack, run, test_dir, user):
    """Lines that format UTF-16 text came out cut or empty for such a user; the log is UTF-8
    now."""
    home = test_dir / "Users" / user
    (home / "work").mkdir(parents=True)
    exe = home / "app.exe"
    pack({"keys": {"107": "0", "146": "${HOME_DIR}\\work"}}).rename(exe)
    result = run(exe, env={"QUILLON_LOG": "yes", "HOME_DIR": winpath(home)})
    assert result.exit_code == 83
    lines = result.log_path.read_bytes().decode("utf-8").split("\r\n")
    assert HEADER.match(lines[0]).group(1) == winpath(exe)
    assert f"change working directory to {winpath(home / 'work')}" in lines


def test_header_and_line_format(pack, run, tmp_dir):
    exe = app(pack)
    result = run(exe, env={"QUILLON_LOG": "yes"})
    raw = result.log_path.read_bytes()
    lines = raw.decode("utf-8").split("\r\n")
    # Every line ends with CR LF on disk; the header is followed by an empty line.
    assert b"\n" not in raw.replace(b"\r\n", b"")
    assert HEADER.match(lines[0]).group(1) == winpath(exe)
    assert lines[1] == ""
    assert "sun.locale.formatasdefault is true" in lines
    assert result.log_path.parent == tmp_dir


@pytest.mark.parametrize("tmp_value, existing, expected", [
    ("{tmp}", [], "{tmp}\\qln_nlog_2"),
    ("{tmp}\\", [], "{tmp}\\qln_nlog_2"),
    ("{tmp}", ["qln_nlog_2", "qln_nlog_3"], "{tmp}\\qln_nlog_4"),
])
def test_log_name_in_tmp(pack, run, tmp_dir, tmp_value, existing, expected):
    for name in existing:
        (tmp_dir / name).write_text("earlier run")
    tmp = winpath(tmp_dir)
    result = run(app(pack), env={"QUILLON_LOG": "yes", "TMP": tmp_value.format(tmp=tmp)})
    assert winpath(result.log_path) == expected.format(tmp=tmp)
    for name in existing:
        assert (tmp_dir / name).read_text() == "earlier run"


@pytest.mark.parametrize("tmp_value", [None, "Z:\\no\\such\\directory"])
def test_log_falls_back_to_drive_c(pack, run, wine_session, tmp_value):
    result = run(app(pack), env={"QUILLON_LOG": "yes", "TMP": tmp_value})
    assert result.log_path.parent == wine_session.drive_c
    assert re.fullmatch(r"qln_nlog_\d+", result.log_path.name)
    assert result.log.startswith("Started executable")


def test_two_threads_never_interleave_lines(test_dir, run):
    exe = pack_exe(test_dir, {"keys": {"107": "0"}}, stub="win64/test-tools/core-probe")
    result = run(exe, args=["log-threads", "300"], env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 0
    line = re.compile(r"thread ([AB]) line (\d+) with some text to make the line long enough")
    seen = {"A": [], "B": []}
    for text in result.log.splitlines():
        if text.startswith("thread "):
            match = line.fullmatch(text)
            assert match, f"broken line: {text!r}"
            seen[match.group(1)].append(int(match.group(2)))
    assert seen == {"A": list(range(300)), "B": list(range(300))}


def test_service_launcher_takes_only_the_environment(pack, run):
    exe = pack({"keys": {"107": "0"}}, stub="service-launcher", name="service.exe")
    assert run(exe, args=["-create-qln-log"]).log is None
    assert run(exe, env={"QUILLON_LOG": "yes"}).log is not None


def test_installer_log_is_deleted_at_a_normal_end(pack, run, tmp_dir, stand_in_home):
    # A normal end needs a runtime: the search finds the JNI stand-in.
    exe = pack({"keys": {"107": "0", "128": "A" + winpath(stand_in_home)}},
               stub="setup-launcher", name="setup.exe")
    result = run(exe)
    assert result.exit_code == 0
    assert log_files(tmp_dir) == []
    kept = run(exe, env={"QUILLON_LOG": "yes"})
    assert kept.log is not None and log_files(tmp_dir) == [kept.log_path.name]


def test_installer_log_stays_after_a_fatal_error(pack, run, tmp_dir):
    exe = pack({"keys": {"107": "0"}}, stub="setup-launcher", name="setup.exe")
    exe.write_bytes(exe.read_bytes()[:-40])
    result = run(exe)
    assert result.exit_code == 1
    assert result.log is not None
    assert result.box.text.endswith(f"\n\nLog: {winpath(result.log_path)}")
