"""Single-instance mode: the instance semaphore, the pid value, bringing the first instance
forward and handing a second start's arguments over through the notification file.

The first instance is instance-holder.exe: it holds the semaphore a launcher computes for its
path, registers its pid, shows a window and reads notification files like the Java side."""

import os
import subprocess
import time
from pathlib import Path

import pytest

from harness import RegValue, winpath
from harness.paths import ROOT, tool_path
from harness.registry import REG_QWORD

PIDS_KEY = r"HKCU\SOFTWARE\brightwell\tarvo\pids"
ERROR_ALREADY_EXISTS = 183
INTERNAL_ERROR = "internal error {0}"
LOG = {"QUILLON_LOG": "yes"}


@pytest.fixture(scope="session")
def holder_exe(tools) -> Path:
    path = tool_path("instance-holder")
    if path is None:
        for step in (["cmake", "--preset", "win64"],
                     ["cmake", "--build", "--preset", "win64", "--target", "instance-holder"]):
            subprocess.run(step, cwd=ROOT, capture_output=True,
                           env={**os.environ, "LC_ALL": "C.UTF-8"})
        path = tool_path("instance-holder")
        if path is None:
            pytest.fail("cannot build instance-holder.exe")
    return path


def instance_name(exe, prefix="Local\\") -> str:
    """The semaphore name a launcher at `exe` computes: lower-cased full path, with every
    backslash and blank made "_"."""
    return prefix + winpath(exe).lower().replace("\\", "_").replace(" ", "_")


def pid_value_name(exe) -> str:
    return winpath(exe).lower()


def wait_for(condition, what, timeout=120.0):
    """Polls `condition` until it gives something true; fails after `timeout` seconds.
    `what` describes the wait, or is called for the description when it fails."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            pytest.fail(f"timed out waiting for {what() if callable(what) else what}")
        time.sleep(0.05)


def running_logs(tmp_dir) -> str:
    """The text of every launcher log in the temp folder, also while launchers still run."""
    return "".join(p.read_text(encoding="utf-8", errors="replace")
                   for p in sorted(tmp_dir.glob("qln_nlog_*")))


def app_config(**keys) -> dict:
    return {"keys": {"107": "1", "10005": "1", "1009": INTERNAL_ERROR, **keys}}


class Holder:
    """One running instance-holder.exe with its own folder of files."""

    def __init__(self, start, exe, folder: Path, options):
        folder.mkdir()
        self.folder = folder
        self.notify_path = folder / "notifications"
        self.events_path = folder / "events"
        self.stop_path = folder / "stop"
        ready = folder / "ready"
        args = [*options, "--events", winpath(self.events_path), "--ready", winpath(ready),
                "--stop", winpath(self.stop_path)]
        self.running = start(exe, args=args, timeout=1200)
        text = wait_for(lambda: ready.exists() and ready.read_text().endswith("\n") and
                        ready.read_text(),
                        lambda: f"the holder to be ready (events: {self.events()})", timeout=60)
        assert not text.startswith("failed"), f"instance-holder {options}: {text}"
        self.pid = int(text)

    def notifications(self) -> bytes:
        return self.notify_path.read_bytes() if self.notify_path.exists() else b""

    def events(self) -> list:
        if not self.events_path.exists():
            return []
        return self.events_path.read_text().splitlines()

    def stop(self):
        self.stop_path.write_text("")
        result = self.running.wait()
        assert result.exit_code == 0


@pytest.fixture
def holder(start, holder_exe, test_dir):
    """holder(semaphore=None, register=None, notify=True, window=True, keep=False,
    minimized=False, hold=None, watch_pid=None, lock_file=None) -> a running Holder."""
    count = [0]

    def start_holder(semaphore=None, register=None, notify=True, window=True, keep=False,
                     minimized=False, hold=None, watch_pid=None, lock_file=None):
        count[0] += 1
        folder = test_dir / f"holder{count[0]}"
        options = []
        for flag, value in (("--semaphore", semaphore), ("--register", register),
                            ("--hold", hold), ("--watch-pid", watch_pid),
                            ("--lock-file", lock_file)):
            if value is not None:
                options += [flag, str(value)]
        if notify:
            options += ["--notify", winpath(folder / "notifications")]
        options += [flag for flag, wanted in (("--window", window), ("--keep", keep),
                                              ("--minimized", minimized)) if wanted]
        return Holder(start, holder_exe, folder, options)

    return start_holder


@pytest.fixture
def first_instance(holder):
    """first_instance(exe, **holder options): a holder that owns `exe`'s instance semaphore
    and pid value."""

    def start_first(exe, prefix="Local\\", **options):
        return holder(semaphore=instance_name(exe, prefix), register=pid_value_name(exe),
                      **options)

    return start_first


def notification_file(tmp_dir, pid) -> Path:
    return tmp_dir / f"tvo_p{pid}.tmp"


# ---- hand-over ----

@pytest.mark.parametrize("cmdline, expected", [
    ('"{exe}" alpha beta', "alpha beta\n"),
    ('"{exe}"   spaced   out  ', "spaced   out  \n"),
    ('"{exe}" "quoted word" -x', '"quoted word" -x\n'),
    ('"{exe}" grüße 日本 €', "grüße 日本 €\n"),
    ("{exe} unquoted  program", "unquoted  program\n"),
    ('"{exe}"', "\n"),
    ('"{exe}"    ', "\n"),
    ('"{exe} never closed', "\n"),
], ids=["words", "blanks", "quotes", "non-ascii", "unquoted-program", "program-only",
        "program-and-blanks", "unclosed-quote"])
def test_second_start_hands_its_arguments_over(pack, run, first_instance, tmp_dir, cmdline,
                                               expected):
    exe = pack(app_config())
    first = first_instance(exe)
    result = run(exe, cmdline=cmdline.format(exe=winpath(exe)))
    assert (result.exit_code, result.boxes) == (0, [])
    assert first.notifications() == expected.encode("utf-16-le")
    assert not notification_file(tmp_dir, first.pid).exists()


@pytest.mark.parametrize("name, keys, prefix", [
    ("app.exe", {}, "Local\\"),
    ("My Apps/my app.exe", {}, "Local\\"),
    ("My Apps/my app.exe", {"158": "1"}, "Global\\"),
])
def test_instance_name_from_the_launcher_path(pack, run, first_instance, name, keys, prefix):
    exe = pack(app_config(**keys), name=name)
    expected = instance_name(exe, prefix)
    first = first_instance(exe, prefix=prefix)
    result = run(exe, args=["x"], env=LOG)
    assert result.exit_code == 0
    assert f"semaphore name {expected}, code {ERROR_ALREADY_EXISTS}, value " in result.log
    assert first.notifications() == "x\n".encode("utf-16-le")


@pytest.mark.parametrize("minimized", [False, True], ids=["shown", "minimized"])
def test_second_start_brings_the_first_forward(pack, run, first_instance, holder, minimized):
    exe = pack(app_config())
    first = first_instance(exe, minimized=minimized)
    # Another program's window takes the foreground away from the first instance.
    other = holder(notify=False)
    wait_for(lambda: "main activate" in other.events(), "the other window to come forward")
    wait_for(lambda: [e for e in first.events() if e.endswith("activate")][-1:] ==
             ["main deactivate"], "the first instance to lose the foreground")
    before = len(first.events())

    result = run(exe, args=["x"], env=LOG)
    assert result.exit_code == 0
    # Activation comes before the hand-over: the notification finds the window in front.
    assert "notified main" in first.events()[before:]
    wait_for(lambda: "main activate" in first.events()[before:], "WM_ACTIVATE")
    if minimized:
        wait_for(lambda: "main restored" in first.events()[before:], "the window restored")
        assert "\nrestore\n" in result.log
    assert result.log.count("found window ") == 1
    assert "\nforeground\npopup\ndone\n" in result.log


@pytest.mark.parametrize("value", [None, "qword"], ids=["missing", "eight-bytes"])
def test_unreadable_pid_value_reads_as_zero(pack, run, holder, registry, tmp_dir, value):
    exe = pack(app_config())
    # The holder owns the semaphore but has to watch the file a launcher names after pid 0.
    first = holder(semaphore=instance_name(exe), watch_pid=0)
    if value == "qword":
        # Its low half is the holder's pid: a launcher that ignored the size would find it.
        registry.write(PIDS_KEY, pid_value_name(exe), RegValue(REG_QWORD, first.pid))
    result = run(exe, args=["zero"], env=LOG)
    assert result.exit_code == 0
    assert "\nother pid 0\n" in result.log
    assert "found window" not in result.log
    assert first.notifications() == "zero\n".encode("utf-16-le")


# ---- the first instance ends or does not answer ----

def test_first_instance_registers_its_pid(pack, start, registry, holder, holder_exe, tmp_dir,
                                          test_dir):
    exe = pack(app_config(**{"107": "0"}))
    # An instance that has ended leaves its pid value, but its semaphore is gone.
    ended = holder(semaphore=instance_name(exe), register=pid_value_name(exe))
    ended.stop()
    assert registry.read(PIDS_KEY, pid_value_name(exe)) == ended.pid

    report = test_dir / "spawned"
    spawner = start(holder_exe, args=["spawn", winpath(report), f'"{winpath(exe)}" x'],
                    env=LOG)
    result = spawner.wait()
    assert result.exit_code == 83
    pid = int(report.read_text().split()[1])
    assert registry.read(PIDS_KEY, pid_value_name(exe)) == pid
    assert "single instance mode" in result.log
    assert f"semaphore name {instance_name(exe)}, code 0, value " in result.log
    assert not notification_file(tmp_dir, ended.pid).exists()


def test_first_instance_ends_while_the_second_waits_for_deletion(pack, start, first_instance,
                                                                 tmp_dir):
    exe = pack(app_config())
    first = first_instance(exe, keep=True)
    second = start(exe, args=["late"], env=LOG)
    wait_for(first.notifications, "the notification")
    first.stop()
    result = second.wait()
    assert result.exit_code == 0
    assert "main process already released semaphore." in result.log
    assert not notification_file(tmp_dir, first.pid).exists()
    assert first.notifications() == "late\n".encode("utf-16-le")


def test_first_instance_ends_before_the_hand_over(pack, start, first_instance, holder,
                                                  tmp_dir):
    exe = pack(app_config())
    first = first_instance(exe)
    # Another second instance is busy: the notification semaphore is taken.
    busy = holder(hold=instance_name(exe) + "_notification", notify=False, window=False)
    second = start(exe, args=["nobody"], env=LOG)
    wait_for(lambda: "waiting for notification semaphore" in running_logs(tmp_dir),
             "the second instance to queue")
    first.stop()
    busy.stop()
    result = second.wait()
    assert (result.exit_code, result.boxes) == (0, [])
    assert "main process already released semaphore." in result.log
    assert "waiting for file deletion" not in result.log
    assert first.notifications() == b""
    assert not notification_file(tmp_dir, first.pid).exists()


def test_first_instance_ends_while_an_old_file_is_in_the_way(pack, start, first_instance,
                                                             tmp_dir):
    exe = pack(app_config())
    first = first_instance(exe, notify=False)
    old = notification_file(tmp_dir, first.pid)
    old.write_bytes("old\n".encode("utf-16-le"))
    second = start(exe, args=["new"], env=LOG)
    wait_for(lambda: "wait returned" in running_logs(tmp_dir), "the second instance to wait")
    first.stop()
    result = second.wait()
    assert result.exit_code == 0
    assert "main process already released semaphore." in result.log
    # Only a file of its own is deleted; the old one was never replaced.
    assert old.read_bytes() == "old\n".encode("utf-16-le")


def test_first_instance_that_never_reads_keeps_the_file(pack, run, first_instance, tmp_dir):
    # The second instance gives up waiting for the deletion after about 10 s.
    exe = pack(app_config())
    first = first_instance(exe, keep=True)
    result = run(exe, args=["unread"], env=LOG)
    assert (result.exit_code, result.boxes) == (0, [])
    assert "waiting for file deletion" in result.log
    assert notification_file(tmp_dir, first.pid).read_bytes() == "unread\n".encode("utf-16-le")
    assert first.notifications() == "unread\n".encode("utf-16-le")


def test_file_that_never_goes_away_fails_without_blocking_the_next(pack, start, first_instance,
                                                                   tmp_dir):
    # Each second instance waits about 10 s for the old file, then cannot create its own.
    exe = pack(app_config(**{"107": "0"}))
    first = first_instance(exe, notify=False)
    notification_file(tmp_dir, first.pid).write_bytes("old\n".encode("utf-16-le"))
    second = start(exe, args=["two"], env=LOG, timeout=300)
    wait_for(lambda: "wait returned" in running_logs(tmp_dir), "the second instance to wait",
             timeout=120)
    third = start(exe, args=["three"], timeout=300)
    for result in (second.wait(), third.wait()):
        assert result.exit_code == 1
        assert result.stderr_text.startswith("internal error 21\n")
    assert "CreateFile failed 80" in running_logs(tmp_dir)


# ---- many second instances ----

def test_twenty_second_instances_at_once(pack, start, first_instance, tmp_dir):
    exe = pack(app_config())
    first = first_instance(exe)
    arguments = [f"load {i:02d} {'x' * i}" for i in range(20)]
    # They queue behind one another, so the last may wait for all the others: the limit
    # is for a hang, not for a slow machine.
    seconds = [start(exe, cmdline=f'"{winpath(exe)}" {text}', timeout=900)
               for text in arguments]
    results = [s.wait() for s in seconds]
    assert [(r.exit_code, r.boxes) for r in results] == [(0, [])] * 20
    received = first.notifications().decode("utf-16-le").split("\n")
    assert received[-1] == ""
    assert sorted(received[:-1]) == arguments, (first.events(), running_logs(tmp_dir))
    assert not notification_file(tmp_dir, first.pid).exists()


# ---- multi-instance mode ----

@pytest.mark.parametrize("held, number", [
    ([], 0),
    ([0], 1),
    ([0, 1], 2),
    ([1], 0),
])
def test_multi_instance_takes_the_first_free_number(pack, run, holder, held, number):
    exe = pack({"keys": {"107": "0"}})
    for n in held:
        holder(semaphore=f"{instance_name(exe)}{n}", notify=False, window=False)
    result = run(exe, env=LOG)
    assert result.exit_code == 83
    assert f"semaphore name {instance_name(exe)}{number}, code 0, value " in result.log
    assert "single instance mode" not in result.log
