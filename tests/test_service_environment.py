"""The service process itself, in prefixes whose services start with the diagnostic log on
and, where a case needs it, a test seam: its log lines and its failure to make its pipes."""

import pytest

from harness import RegValue, winpath
from harness.registry import REG_DWORD
from service_support import (keep_services_up, launcher_pids, service_logs,  # noqa: F401
                             service_wine_session, services)
from test_service_java import java_service, service_jars, wait_for  # noqa: F401

PRIORITY_KEY = "HKLM\\SOFTWARE\\brightwell\\tarvo\\priority"


@pytest.fixture(scope="session")
def wine_session(service_wine_session):
    return service_wine_session


def service_process_log(session, name):
    """The log of the service process (not of its child) of the service `name`."""
    found = [text for text in service_logs(session).values()
             if f"service name is '{name}'" in text]
    assert len(found) == 1, f"no single service log for {name}: {list(service_logs(session))}"
    return found[0]


def assert_in_order(text, expected):
    position = 0
    for line in expected:
        found = text.find(line, position)
        assert found >= 0, f"{line!r} missing after position {position} in:\n{text}"
        position = found + len(line)


@pytest.mark.parametrize("service_wine_session", [{}], indirect=True, ids=["log"])
def test_service_process_logs_start_stop_and_end(java_service, services, registry, wine_session):
    exe, name, files = java_service(raw=True)
    registry.write(PRIORITY_KEY, name, RegValue(REG_DWORD, 0x80))
    assert services.command(exe, "/install").exit_code == 0
    assert services.command(exe, "/start").exit_code == 0
    assert wait_for(lambda: (files / "started").is_file())
    assert services.command(exe, "/stop").exit_code == 0
    assert wait_for(lambda: not launcher_pids(services.test_dir), timeout=60)
    log = service_process_log(wine_session, name)
    assert_in_order(log, [
        "calling StartServiceCtrlDispatcher",
        "service main",
        f"service name is '{name}'",
        "using priority 128",
        "registering ConsoleCtrlHandler",
        "control handler request 1",
        "sending shutdown1 0",
        "shutdown sent",
        "process terminated with exit code 0",
        "service stopped set",
        "exiting",
    ])
    assert "consuming output done" in log
    assert "sending shutdown failed" not in log


PIPE_SEAM = "QLN_TEST_SERVICE_PIPE_FAILURE"


@pytest.mark.parametrize("service_wine_session, logged", [
    ({PIPE_SEAM: "1"}, "CreatePipe error (8)"),
    ({PIPE_SEAM: "2"}, "SetHandleInformation error (6)"),
    ({PIPE_SEAM: "3"}, "CreatePipe error 2 (8)"),
    ({PIPE_SEAM: "4"}, "SetHandleInformation error 2 (6)"),
], indirect=["service_wine_session"], ids=["output-pipe", "output-end", "input-pipe", "input-end"])
def test_pipe_failure_leaves_the_service_stopped_with_an_error(pack, services, wine_session,
                                                                logged):
    name = services.name()
    exe = pack({"applicationName": name}, stub="service-launcher", name="svc.exe")
    assert services.command(exe, "/install").exit_code == 0
    services.sc("start", name)
    # Never shown as running while nothing runs: stopped, with the reason in the exit codes.
    query = services.wait_for_state(name, 1)
    assert query, services.query(name)
    assert (query["WIN32_EXIT_CODE"], query["SERVICE_EXIT_CODE"]) == (1066, 5001)
    assert wait_for(lambda: not launcher_pids(services.test_dir), timeout=60), "a launcher is left"
    log = service_process_log(wine_session, name)
    assert_in_order(log, ["service main", f"service name is '{name}'", logged])
    assert "could not start process" not in log
    # No child was started: no log names the restart marker.
    assert not any("__qln_restart" in text for text in service_logs(wine_session).values())
    status = services.command(exe, "/status")
    assert (status.stdout_text, status.exit_code) == ("Not running.\n", 3)
