"""What keeps a Java service running and stops it for good, on the real runtime under Wine's
service control manager: the stop time-out and the job that ends the child's processes,
restarts after a crash, the output logs, and what install stores."""

import os
import struct
import signal
import time
from datetime import datetime

import pytest

from harness import winpath
from service_support import keep_services_up, launcher_pids, services  # noqa: F401
from test_service_java import (beats, java_service, service_jars, started_value,  # noqa: F401
                               wait_for)

SERVICES_KEY = "HKLM\\System\\CurrentControlSet\\Services\\"


def service_log(test_dir, name, suffix=".service.log"):
    path = test_dir / "logs" / f"{name}{suffix}"
    return path.read_text(encoding="cp1252", errors="replace") if path.is_file() else ""


def events(test_dir, name):
    """(time, text) of each line of the service log."""
    found = []
    for line in service_log(test_dir, name).splitlines():
        stamp, _, text = line.partition(" ")
        clock, _, text = text.partition(" ")
        found.append((datetime.strptime(f"{stamp} {clock}", "%Y-%m-%d %H:%M:%S.%f"), text))
    return found


def service_process_pids(test_dir, exe_name):
    found = []
    for pid in launcher_pids(test_dir):
        try:
            cmdline = open(f"/proc/{pid}/cmdline", "rb").read()
        except OSError:
            continue
        # The child and the launcher's own helper copies (cleanup after exit, cache maker)
        # run the same exe; the service process is the one without a marker.
        markers = (b"__qln_restart", b"__qln_cleanup", b"__qln_startup_cache")
        if exe_name.encode() in cmdline and not any(m in cmdline for m in markers):
            found.append(pid)
    return found


def start_service(services, exe, name):
    assert services.command(exe, "/install").exit_code == 0
    started = services.command(exe, "/start")
    assert (started.stdout_text, started.exit_code) == (f"Starting service '{name}'.\n", 0)


@pytest.mark.parametrize("ending", ["stop", "service-process-killed"])
def test_a_child_that_ignores_the_stop_is_ended_with_what_it_started(java_service, services,
                                                                     test_dir, ending):
    files = test_dir / "files"
    exe, name, _ = java_service(arguments=[winpath(files), "--ignore-stop", "--spawn"],
                                serviceStopTimeout=3)
    start_service(services, exe, name)
    second = files / "second"
    assert wait_for(lambda: beats(second) >= 2), "the second JVM never ran"
    if ending == "stop":
        stopped = services.command(exe, "/stop")
        assert stopped.stdout_text == f"Stopping service '{name}'.\nService stopped\n"
        assert services.query(name)["WIN32_EXIT_CODE"] == 0
        lines = [text for _, text in events(test_dir, name)]
        assert "stop asked" in lines
        assert ("the child did not end within 3 s; ending it and every process it started"
                in lines), lines
        assert lines[-1] == "service stopped"
        assert not (files / "stopped").exists()
    else:
        service_process = service_process_pids(test_dir, "svc.exe")
        assert len(service_process) == 1
        os.kill(service_process[0], signal.SIGKILL)
    assert wait_for(lambda: not launcher_pids(test_dir), timeout=60), "a process is left"
    after = beats(second)
    time.sleep(1)
    assert beats(second) == after, "the second JVM outlived the service"


def test_stop_pending_shows_progress_until_the_kill(java_service, services, test_dir):
    files = test_dir / "files"
    exe, name, _ = java_service(arguments=[winpath(files), "--ignore-stop"],
                                serviceStopTimeout=8)
    start_service(services, exe, name)
    assert wait_for(lambda: beats(files) >= 2)
    services.sc("stop", name)
    seen = []

    def pending_with_progress():
        query = services.query(name)
        if query.get("STATE") == 3:
            seen.append((query["CHECKPOINT"], query["WAIT_HINT"]))
        return len({checkpoint for checkpoint, _ in seen}) >= 3

    assert wait_for(pending_with_progress, timeout=60), seen
    # The hint covers what is left of the 8 s, never more than the time-out and a margin.
    assert all(0 < hint <= 8000 + 5000 for _, hint in seen), seen
    checkpoints = [checkpoint for checkpoint, _ in seen]
    assert checkpoints == sorted(checkpoints), seen
    assert wait_for(lambda: services.state(name) == 1, timeout=60)
    assert wait_for(lambda: not launcher_pids(test_dir), timeout=60)


def test_crashing_child_is_restarted_after_each_delay_until_the_limit(java_service, services,
                                                                       test_dir):
    files = test_dir / "files"
    exe, name, _ = java_service(arguments=[winpath(files), "--exit", "3"],
                                serviceRestart={"delays": [1, 3], "resetAfter": 600, "limit": 2})
    start_service(services, exe, name)
    query = services.wait_for_state(name, 1, timeout=180)
    assert query, services.query(name)
    assert (query["WIN32_EXIT_CODE"], query["SERVICE_EXIT_CODE"]) == (1066, 5002)
    log = events(test_dir, name)
    texts = [text for _, text in log]
    starts = [i for i, text in enumerate(texts) if text.startswith("child started")]
    assert len(starts) == 3, texts
    assert texts.count("child ended with exit code 3") == 3
    assert "restarting in 1 s (restart 1 of at most 2)" in texts
    assert "restarting in 3 s (restart 2 of at most 2)" in texts
    assert texts[-1] == "service stopped: the child failed again after 2 restarts"
    # Each restart waited at least its delay after the crash before it.
    for start, delay in zip(starts[1:], [1, 3]):
        ended = max(t for t, text in log[:start] if text == "child ended with exit code 3")
        assert (log[start][0] - ended).total_seconds() >= delay - 0.05
    assert len((files / "starts").read_text().split()) == 3
    assert wait_for(lambda: not launcher_pids(test_dir), timeout=60)


def test_stop_during_a_restart_delay_stops_for_good(java_service, services, test_dir):
    files = test_dir / "files"
    exe, name, _ = java_service(arguments=[winpath(files), "--exit", "3"],
                                serviceRestart={"delays": [120]})
    start_service(services, exe, name)
    assert wait_for(lambda: "restarting in 120 s (restart 1 of at most 5)"
                    in service_log(test_dir, name))
    status = services.command(exe, "/status")
    assert (status.stdout_text, status.exit_code) == (
        "Running.\nChild process id: none, waiting to restart\nRestarts: 1\n", 0)
    stopped = services.command(exe, "/stop")
    assert stopped.stdout_text == f"Stopping service '{name}'.\nService stopped\n"
    assert services.query(name)["WIN32_EXIT_CODE"] == 0
    assert wait_for(lambda: not launcher_pids(test_dir), timeout=60)
    assert len((files / "starts").read_text().split()) == 1
    assert service_log(test_dir, name).count("child started") == 1


def test_child_killed_from_outside_is_restarted(java_service, services, test_dir, java_home,
                                                service_jars, wine_session):
    files = test_dir / "files"
    exe, name, _ = java_service(arguments=[winpath(files)], serviceRestart={"delays": [1]})
    start_service(services, exe, name)
    assert wait_for(lambda: beats(files) >= 2)
    first = started_value(files, "pid")
    # Wine gives a process killed from Linux the exit code 0; Windows tools use 1.
    java = winpath(java_home / "bin" / "java.exe")
    done = wine_session.wine(java, "-cp", winpath(service_jars["app_path"]), "svc.Service",
                             "--kill", first, check=False, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    assert wait_for(lambda: (files / "starts").read_text().split()[-1] != first)
    second = started_value(files, "pid")
    assert services.state(name) == 4
    status = services.command(exe, "/status")
    assert (status.stdout_text, status.exit_code) == (
        f"Running.\nChild process id: {second}\nRestarts: 1\n", 0)
    stopped = services.command(exe, "/stop")
    assert stopped.stdout_text == f"Stopping service '{name}'.\nService stopped\n"
    # The stop itself never leads to a restart.
    texts = [text for _, text in events(test_dir, name)]
    assert texts.count("child started, process id " + second) == 1
    assert sum(text.startswith("restarting") for text in texts) == 1


@pytest.mark.parametrize("settings, expected, log", [
    # HotSpot writes its own start-up errors to standard output unless told otherwise.
    pytest.param({"jvmOptions": ["-Xmx1k"]}, "Too small maximum heap", ".out.log",
                 id="heap-too-small"),
    pytest.param({"jvmOptions": ["-XX:+DisplayVMOutputToStderr", "-Xmx1k"]},
                 "Too small maximum heap", ".err.log", id="heap-too-small-to-stderr"),
    pytest.param({"mainClass": "svc.Missing"}, "svc.Missing", ".err.log",
                 id="missing-main-class"),
])
def test_what_a_jvm_says_before_main_is_kept(java_service, services, test_dir, settings,
                                             expected, log):
    exe, name, _ = java_service(serviceRestart=False, **settings)
    start_service(services, exe, name)
    assert wait_for(lambda: "child ended with exit code 1" in service_log(test_dir, name))
    assert wait_for(lambda: expected in service_log(test_dir, name, log), timeout=30), (
        service_log(test_dir, name, ".err.log"), service_log(test_dir, name, ".out.log"))


def test_output_rotates_keeping_the_configured_number_of_files(java_service, services,
                                                                test_dir):
    files = test_dir / "files"
    count = 400
    exe, name, _ = java_service(arguments=[winpath(files), "--lines", str(count)],
                                serviceLog="rotated", serviceLogMaxSize=2000, serviceLogKeep=3)
    start_service(services, exe, name)
    assert wait_for(lambda: (files / "lines-done").is_file())
    stopped = services.command(exe, "/stop")
    assert stopped.exit_code == 0
    directory = test_dir / "rotated"
    current = directory / f"{name}.out.log"
    old = [directory / f"{name}.out.log.{n}" for n in (3, 2, 1)]
    assert all(path.is_file() for path in old)
    assert not (directory / f"{name}.out.log.4").exists()
    # Oldest first, the kept files hold one unbroken run of lines that ends with the newest.
    lines = [line for path in old + [current]
             for line in path.read_text(encoding="cp1252").splitlines()]
    numbers = [int(line.split()[1]) for line in lines if line.startswith("line ")]
    assert numbers[-1] == count - 1
    assert numbers == list(range(numbers[0], count))
    assert "line %05d" % (count - 1) in current.read_text(encoding="cp1252")


def test_a_child_writing_fast_keeps_running_when_its_logs_cannot_be_written(
        java_service, services, test_dir):
    files = test_dir / "files"
    # A file where the log folder should be: neither folder nor logs can be made.
    (test_dir / "blocked").write_text("not a folder")
    exe, name, _ = java_service(arguments=[winpath(files), "--spam"],
                                serviceLog=winpath(test_dir / "blocked" / "logs"))
    start_service(services, exe, name)
    assert wait_for(lambda: beats(files) >= 3)
    first = beats(files)
    assert wait_for(lambda: beats(files) > first + 10), "the child was blocked by its output"
    assert services.state(name) == 4
    stopped = services.command(exe, "/stop")
    assert stopped.stdout_text == f"Stopping service '{name}'.\nService stopped\n"


def test_install_stores_account_start_timing_and_recovery(java_service, services, registry,
                                                           run, test_dir):
    files = test_dir / "files"
    exe, name, _ = java_service(
        arguments=[winpath(files)], serviceAccount="LocalService", serviceStart="delayed",
        serviceInteractive=False, serviceStopTimeout=20, servicePreshutdownTimeout=45,
        serviceRestart={"delays": [2, 7, 60], "resetAfter": 900, "limit": 4},
        serviceEnvironment={"SVC_PLAIN": "one two", "SVC_EXPANDED": "${SVC_PLAIN};x"})
    result = run(exe, cmdline=f'"{winpath(exe)}" /install', env={"QUILLON_LOG": "yes"})
    assert (result.stdout_text, result.exit_code) == (f"Installed service '{name}'.\n", 0)
    stored = registry.values(SERVICES_KEY + name)
    assert stored["ObjectName"] == "NT AUTHORITY\\LocalService"
    assert (stored["Start"], stored["Type"]) == (2, 0x10)
    assert stored["PreshutdownTimeout"] == 45000
    # Wine's service manager accepts failure actions and delayed start without storing them,
    # and its sc knows neither qc nor qfailure: what install asked for is read from its log.
    assert ("failure actions: restart after 2000 7000 60000 ms, reset after 900 s, "
            "error stops count") in result.log
    assert "delayed automatic start" in result.log
    # The log folder is there, and LocalService may write it.
    assert (test_dir / "logs").is_dir()
    assert (f"log folder {winpath(test_dir / 'logs')} granted: (A;OICI;0x13019f;;;S-1-5-19)"
            in result.log), result.log

    # The variables reach the child, expanded in order.
    assert services.command(exe, "/start").exit_code == 0
    assert wait_for(lambda: (files / "started").is_file())
    started = (files / "started").read_text()
    assert "env: SVC_PLAIN=one two\n" in started
    assert "env: SVC_EXPANDED=one two;x\n" in started


@pytest.mark.parametrize("settings, word, service_type", [
    pytest.param({}, "install", 0x110, id="interactive-as-before"),
    pytest.param({"serviceInteractive": False}, "install", 0x10, id="setting-off"),
    pytest.param({"serviceAccount": "virtual"}, "install", 0x10, id="not-localsystem"),
])
def test_interactive_flag(java_service, services, registry, settings, word, service_type):
    exe, name, _ = java_service(**settings)
    assert services.command(exe, "/" + word).exit_code == 0
    stored = registry.values(SERVICES_KEY + name)
    assert stored["Type"] == service_type
    if settings.get("serviceAccount") == "virtual":
        assert stored["ObjectName"] == f"NT SERVICE\\{name}"


def test_password_comes_from_the_named_variable_only(java_service, services, registry, run,
                                                     test_dir, wine_session):
    exe, name, _ = java_service(serviceAccount=".\\svcuser")
    secret = "Qln-Secret-7731"
    result = run(exe, cmdline=f'"{winpath(exe)}" /install /password-env QLN_SVC_PW',
                 env={"QLN_SVC_PW": secret, "QUILLON_LOG": "yes"})
    # Wine knows no such account, so the log folder cannot be opened to it; install says so.
    assert (result.stdout_text, result.exit_code) == (
        f"Note: .\\svcuser may not be able to write its logs in {winpath(test_dir / 'logs')}.\n"
        f"Installed service '{name}'.\n", 0)
    assert registry.values(SERVICES_KEY + name)["ObjectName"] == ".\\svcuser"
    missing = run(exe, cmdline=f'"{winpath(exe)}" /install /password-env QLN_NOT_SET')
    assert (missing.stdout_text, missing.exit_code) == (
        "The environment variable QLN_NOT_SET is not set.\n", 1)
    # Everything but the harness's own records of the runs, which hold the environment.
    written = [path for path in test_dir.rglob("*")
               if path.is_file() and ".runs" not in path.parts]
    assert result.log is not None
    for path in written:
        assert secret.encode() not in path.read_bytes(), path


def test_restart_command_gives_a_new_child(java_service, services, test_dir):
    files = test_dir / "files"
    exe, name, _ = java_service(arguments=[winpath(files)])
    start_service(services, exe, name)
    assert wait_for(lambda: (files / "started").is_file())
    first = started_value(files, "pid")
    restarted = services.command(exe, "/restart")
    assert restarted.stdout_text == (f"Stopping service '{name}'.\nService stopped\n"
                                     f"Starting service '{name}'.\n")
    assert restarted.exit_code == 0
    assert wait_for(lambda: len((files / "starts").read_text().split()) == 2)
    second = started_value(files, "pid")
    assert second != first
    status = services.command(exe, "/status")
    assert (status.stdout_text, status.exit_code) == (
        f"Running.\nChild process id: {second}\nRestarts: 0\n", 0)


def test_start_parameter_with_quotes_stays_one_word(java_service, services, test_dir):
    files = test_dir / "files"
    exe, name, _ = java_service(raw=True, jvmOptionsFromCommandLine=True)
    assert services.command(exe, "/install").exit_code == 0
    word = 'a" -J-Dx=1 "b'
    code, out = services.sc("start", name, word, "back\\slash\\", "tab\there")
    assert code == 0, out
    assert wait_for(lambda: (files / "started").is_file())
    arguments = [line[5:] for line in (files / "started").read_text().splitlines()
                 if line.startswith("arg: ")]
    assert arguments[5:] == [name, winpath(files), word, "back\\slash\\", "tab\there"]
