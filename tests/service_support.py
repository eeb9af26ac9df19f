"""Fixtures of the service tests: packed service launchers whose services and processes are
gone after each test, queries of Wine's service control manager, and the service logs."""

import itertools
import os
import re
import signal
import subprocess
import time
from pathlib import Path

import pytest

from harness import winpath

_numbers = itertools.count()

def launcher_pids(test_dir: Path) -> list:
    """Linux ids of the Wine processes whose command line names a file of the test folder."""
    marks = (str(test_dir), winpath(test_dir))
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            cmdline = (entry / "cmdline").read_bytes().replace(b"\0", b" ").decode(errors="replace")
        except OSError:
            continue
        if any(mark in cmdline for mark in marks):
            found.append(int(entry.name))
    return found


def wait_for(condition, timeout=120):
    """True once `condition()` holds, polled every half second; False after `timeout` s."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.5)
    return False


class Services:
    """Names, commands and cleanup of the services one test installs."""

    def __init__(self, wine_session, run, test_dir):
        self.wine_session = wine_session
        self._run = run
        self.test_dir = test_dir
        self.names = []

    def name(self, stem="QlnTest") -> str:
        name = f"{stem}{os.getpid()}x{next(_numbers)}"
        self.names.append(name)
        return name

    def track(self, name: str) -> str:
        self.names.append(name)
        return name

    def command(self, exe, tail, timeout=120):
        """Runs the launcher with the command tail, verbatim after the quoted program path."""
        return self._run(exe, cmdline=f'"{winpath(exe)}" {tail}', timeout=timeout)

    def sc(self, *args):
        done = self.wine_session.wine("sc.exe", *args, check=False, timeout=120)
        return done.returncode, done.stdout.decode(errors="replace")

    def query(self, name, attempts=3) -> dict:
        """What `sc query` says: STATE as a number and the exit codes; {} when unknown.

        Wine's sc.exe now and then answers nothing for a service that exists; such an answer
        is asked again."""
        for _ in range(attempts):
            _, out = self.sc("query", name)
            fields = {}
            for key, value in re.findall(r"^\s*([A-Z0-9_]+)\s*:\s*(\S+)", out, re.M):
                fields[key] = int(value, 0) if re.fullmatch(r"(0x)?[0-9a-fA-F]+", value) else value
            if "WAIT_HINT" in fields:
                return fields
            time.sleep(0.2)
        return fields

    def state(self, name):
        return self.query(name).get("STATE")

    def wait_for_state(self, name, state, timeout=90) -> dict:
        """The first answer of `query` that shows `state`, exit codes included; {} if none
        does in time."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            query = self.query(name)
            if query.get("STATE") == state:
                return query
            time.sleep(0.5)
        return {}

    def cleanup(self):
        for name in self.names:
            if self.state(name) not in (None, 1):
                self.sc("stop", name)
                for _ in range(20):
                    if self.state(name) in (None, 1):
                        break
                    time.sleep(0.5)
            self.sc("delete", name)
        # Only what this test's services started: processes of its own folder.
        for pid in launcher_pids(self.test_dir):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass


@pytest.fixture(scope="session")
def keep_services_up(wine_session, tools):
    """The session prefix's services.exe, kept up by an idle process."""
    keeper = subprocess.Popen(["wine", str(tools["msgbox-probe"]), "sleep", "86400000"],
                              env=wine_session.env(), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    time.sleep(1)
    yield
    keeper.kill()
    keeper.wait()


@pytest.fixture
def services(wine_session, run, test_dir, keep_services_up):
    keeper = Services(wine_session, run, test_dir)
    yield keeper
    keeper.cleanup()


@pytest.fixture(scope="session")
def service_wine_session(request, tmp_path_factory):
    """A prefix of its own whose services get a Windows environment from the start: the
    diagnostic log on, TMP in a known folder (`session.service_tmp`), the start-up cache off
    (as for every other launcher the tests start), and the test seams that
    request.param names ({"QLN_TEST_...": value}). Tests take it through indirect
    parametrization of `wine_session`."""
    from harness import WineSession
    service_tmp = tmp_path_factory.mktemp("service-tmp")
    environment = {"QUILLON_LOG": "yes", "TMP": winpath(service_tmp),
                   "TEMP": winpath(service_tmp), "QUILLON_STARTUP_CACHE": "off",
                   **getattr(request, "param", {})}
    session = WineSession(environment=environment)
    session.service_tmp = service_tmp
    try:
        session.start()
        yield session
    finally:
        session.close()


def service_logs(session) -> dict:
    """The logs in the service TMP folder by name, each as text; the logs stay."""
    return {path.name: path.read_text(encoding="utf-8", errors="replace")
            for path in sorted(session.service_tmp.glob("qln_nlog_*"))}
