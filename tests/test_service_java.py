"""Services that run a real Java application on the real Java runtime under Wine's service
control manager: start, status, the stop line on standard input, the stop listeners, and no
process left afterwards."""

import struct
import time

import pytest

from harness import RegValue, winpath
from harness.registry import REG_BINARY, REG_DWORD, REG_QWORD
from harness.java_side import RUNTIME_JAR, compile_java
from service_support import keep_services_up, launcher_pids, services, wait_for  # noqa: F401

SERVICE_APP = r'''
package svc;

import com.quillon.runtime.launcher.ServiceControl;
import java.io.File;
import java.io.FileOutputStream;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

public class Service {
    /** A file written anew appears whole: the tests read it as soon as it exists. */
    static void write(File file, String text, boolean append) {
        File target = append ? file : new File(file.getPath() + ".part");
        try (FileOutputStream out = new FileOutputStream(target, append)) {
            out.write(text.getBytes(StandardCharsets.UTF_8));
        } catch (Exception e) {
            e.printStackTrace();
            return;
        }
        if (!append) {
            try {
                Files.move(target.toPath(), file.toPath(), StandardCopyOption.ATOMIC_MOVE);
            } catch (Exception e) {
                e.printStackTrace();
            }
        }
    }

    static void sleep(long ms) {
        try {
            Thread.sleep(ms);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }

    public static void main(String[] args) throws Exception {
        if (args[0].equals("--kill")) {
            // As a user would end it from outside: TerminateProcess with exit code 1.
            Class<?> handles = Class.forName("java.lang.ProcessHandle");
            Object found = handles.getMethod("of", long.class).invoke(null, Long.parseLong(args[1]));
            Object handle = found.getClass().getMethod("get").invoke(found);
            handles.getMethod("destroyForcibly").invoke(handle);
            return;
        }
        final File dir = new File(args[0]);
        dir.mkdirs();
        List<String> words = Arrays.asList(args);
        String pid = ManagementFactory.getRuntimeMXBean().getName().split("@")[0];
        StringBuilder text = new StringBuilder("isService=" + ServiceControl.isService() + "\n");
        text.append("pid: ").append(pid).append('\n');
        for (Map.Entry<String, String> e : new TreeMap<>(System.getenv()).entrySet()) {
            if (e.getKey().startsWith("SVC_")) {
                text.append("env: ").append(e.getKey()).append('=').append(e.getValue()).append('\n');
            }
        }
        for (String arg : args) {
            text.append("arg: ").append(arg).append('\n');
        }
        for (String option : ManagementFactory.getRuntimeMXBean().getInputArguments()) {
            if (option.startsWith("-XX:SharedArchiveFile") || option.startsWith("-XX:DumpLoadedClassList")) {
                text.append("archive option: ").append(option).append('\n');
            }
        }
        write(new File(dir, "started"), text.toString(), false);
        write(new File(dir, "starts"), pid + "\n", true);
        System.out.println("service output line");
        System.err.println("service error line");
        final boolean slow = words.contains("--slow");
        final boolean ignoreStop = words.contains("--ignore-stop");
        final boolean gated = words.contains("--stop-gate");
        ServiceControl.addStopListener(() -> {
            if (gated) {
                // Runs until the test has looked: "stopping" says it began, "go" lets it end.
                write(new File(dir, "stopping"), "listener began\n", false);
                for (int i = 0; i < 1200 && !new File(dir, "go").exists(); i++) {
                    try {
                        Thread.sleep(100);
                    } catch (InterruptedException e) {
                        Thread.currentThread().interrupt();
                    }
                }
            }
            if (slow) {
                sleep(3000);
            }
            while (ignoreStop) {
                sleep(1000);
            }
            // Appended, so that a listener run twice shows as two lines.
            write(new File(dir, "stopped"), "listener ran\n", true);
        });
        if (words.contains("--spawn")) {
            // A second JVM that the application starts: it must not outlive the service.
            File second = new File(dir, "second");
            second.mkdirs();
            String java = System.getProperty("java.home") + File.separator + "bin" + File.separator + "java.exe";
            new ProcessBuilder(java, "-cp", System.getProperty("java.class.path"), "svc.Service",
                    second.getPath()).redirectErrorStream(true)
                    .redirectOutput(new File(second, "output.txt")).start();
        }
        int lines = words.indexOf("--lines");
        if (lines >= 0) {
            int count = Integer.parseInt(args[lines + 1]);
            for (int i = 0; i < count; i++) {
                System.out.println(String.format("line %05d of the output, padded to forty", i));
            }
            System.out.flush();
            write(new File(dir, "lines-done"), "done\n", false);
        }
        if (words.contains("--spam")) {
            Thread spam = new Thread(() -> {
                String line = new String(new char[200]).replace('\0', 'x');
                while (true) {
                    System.out.println(line);
                    System.err.println(line);
                }
            });
            spam.setDaemon(true);
            spam.start();
        }
        int exit = words.indexOf("--exit");
        if (exit >= 0) {
            Thread.sleep(1000);
            System.exit(Integer.parseInt(args[exit + 1]));
        }
        while (true) {
            write(new File(dir, "heartbeat"), "beat\n", true);
            Thread.sleep(200);
        }
    }
}
'''

# Stands in for the runtime library's launcher class: records its parameters and exactly what
# standard input delivers up to its end, then ends with 0.
RAW_INPUT_LAUNCHER = r'''
package com.quillon.runtime.launcher;

import java.io.File;
import java.io.FileOutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.StandardCopyOption;

public final class WinLauncher {
    public static void main(String[] args) throws Exception {
        File dir = new File(args[6]);
        StringBuilder text = new StringBuilder();
        for (String arg : args) {
            text.append("arg: ").append(arg).append('\n');
        }
        String runtimeName = java.lang.management.ManagementFactory.getRuntimeMXBean().getName();
        text.append("pid: ").append(runtimeName.split("@")[0]).append('\n');
        write(new File(dir, "started"), text.toString());
        StringBuilder input = new StringBuilder();
        int next;
        while ((next = System.in.read()) >= 0) {
            input.append(String.format("%02x", next));
        }
        write(new File(dir, "stdin"), input.toString());
        System.exit(0);
    }

    /** Appears whole: the tests read it as soon as it exists. */
    static void write(File file, String text) throws Exception {
        File part = new File(file.getPath() + ".part");
        try (FileOutputStream out = new FileOutputStream(part)) {
            out.write(text.getBytes(StandardCharsets.UTF_8));
        }
        Files.move(part.toPath(), file.toPath(), StandardCopyOption.ATOMIC_MOVE);
    }
}
'''


@pytest.fixture(scope="module")
def service_jars(tmp_path_factory):
    if not RUNTIME_JAR.is_file():
        pytest.skip(f"{RUNTIME_JAR} is not built (make build)")
    work = tmp_path_factory.mktemp("service-build")
    app = compile_java({"svc/Service.java": SERVICE_APP}, work / "app.jar", work / "a",
                       classpath=[RUNTIME_JAR])
    raw = compile_java({"com/quillon/runtime/launcher/WinLauncher.java": RAW_INPUT_LAUNCHER},
                       work / "raw.jar", work / "r")
    return {"app": app.read_bytes(), "raw": raw.read_bytes(), "app_path": app}


@pytest.fixture
def java_service(pack, java_home, service_jars, services, test_dir):
    """java_service(raw=False, name=None, **settings) -> (exe, name, files folder)."""

    def pack_service(raw=False, name=None, exe_name="svc.exe", **settings):
        name = services.track(name) if name else services.name()
        files = test_dir / "files"
        files.mkdir(exist_ok=True)
        config = {"applicationName": name, "applicationType": "console",
                  "mainClass": "svc.Service",
                  "classPath": [{"type": "S", "required": True, "value": "lib"}],
                  "searchSequence": [{"type": "A", "value": winpath(java_home)}],
                  "arguments": [winpath(files)], **settings}
        jars = {"lib/app.jar": service_jars["raw" if raw else "app"]}
        if not raw:
            config["includedFiles"] = [{"name": "runtime.jar", "source": str(RUNTIME_JAR)}]
        return pack(config, stub="service-launcher", name=exe_name, files=jars), name, files

    return pack_service


def started_arguments(files):
    return [line[5:] for line in (files / "started").read_text().splitlines()
            if line.startswith("arg: ")]


def started_value(files, field):
    return [line[len(field) + 2:] for line in (files / "started").read_text().splitlines()
            if line.startswith(field + ": ")][0]


def beats(files):
    path = files / "heartbeat"
    return path.read_text().count("beat") if path.is_file() else 0


@pytest.mark.parametrize("slow", [False, True], ids=["prompt-stop", "slow-stop"])
def test_service_runs_the_application_and_stops_it(java_service, services, test_dir, slow):
    exe, name, files = java_service(arguments=[winpath(test_dir / "files")] + (["--slow"] if slow else []),
                                    outputLog="out.log", errorLog="err.log")
    assert services.command(exe, "/install").exit_code == 0
    started = services.command(exe, "/start")
    assert (started.stdout_text, started.exit_code) == (f"Starting service '{name}'.\n", 0)
    assert wait_for(lambda: beats(files) >= 3), "the application never ran"
    first = beats(files)
    assert wait_for(lambda: beats(files) > first + 2), "the heartbeat stopped"
    assert "isService=true\n" in (files / "started").read_text()

    status = services.command(exe, "/status")
    pid = started_value(files, "pid")
    assert (status.stdout_text, status.exit_code) == (
        f"Running.\nChild process id: {pid}\nRestarts: 0\n", 0)

    stopped = services.command(exe, "/stop")
    assert stopped.stdout_text == f"Stopping service '{name}'.\nService stopped\n"
    assert stopped.exit_code == 0
    assert (files / "stopped").read_text() == "listener ran\n"
    status = services.command(exe, "/status")
    assert (status.stdout_text, status.exit_code) == ("Not running.\n", 3)
    # The output settings reach the Java side of the child.
    assert "service output line" in (test_dir / "out.log").read_text(encoding="cp1252")
    assert "service error line" in (test_dir / "err.log").read_text(encoding="cp1252")

    after = beats(files)
    time.sleep(1)
    assert beats(files) == after, "the application outlived its service"
    removed = services.command(exe, "/uninstall")
    assert (removed.stdout_text, removed.exit_code) == (
        f"Service is already stopped.\nUninstalled service '{name}'.\n", 0)
    assert wait_for(lambda: not launcher_pids(test_dir), timeout=30), "a launcher is left"


def test_child_gets_quoted_name_start_parameters_and_exactly_the_stop_line(
        java_service, services, test_dir):
    stem = services.name("Qln Raw ")
    # Both with a blank: the image path is quoted, and so is the name in the child's line.
    exe, name, files = java_service(raw=True, name=stem, exe_name="my service.exe")
    assert services.command(exe, "/install").exit_code == 0
    code, out = services.sc("start", name, "one", "two words")
    assert code == 0, out
    assert wait_for(lambda: (files / "started").is_file())
    arguments = started_arguments(files)
    # Five launcher parameters, then the service name where the program path would be, the
    # configured argument and the start parameters.
    assert arguments[5:] == [name, winpath(files), "one", "two words"]

    stopped = services.command(exe, "/stop")
    assert stopped.stdout_text == f"Stopping service '{name}'.\nService stopped\n"
    assert (files / "stdin").read_text() == "300a"


@pytest.mark.parametrize("exit_code", [0, 7])
def test_application_that_ends_by_itself(java_service, services, test_dir, exit_code):
    # Without restarts, as the services of earlier versions behave.
    exe, name, files = java_service(arguments=[winpath(test_dir / "files"), "--exit",
                                               str(exit_code)], serviceRestart=False)
    assert services.command(exe, "/install").exit_code == 0
    assert services.command(exe, "/start").exit_code == 0
    assert wait_for(lambda: (files / "started").is_file())
    assert wait_for(lambda: not launcher_pids(test_dir), timeout=60), "a launcher is left"
    state = services.state(name)
    if exit_code == 0:
        assert state == 1
        assert services.query(name)["WIN32_EXIT_CODE"] == 0
    else:
        # No stopped report: the manager is left with the last one it got, from a process
        # that no longer exists, which is how an unexpected end shows.
        assert state == 4


def test_second_stop_request_changes_nothing(java_service, services, test_dir):
    exe, name, files = java_service(arguments=[winpath(test_dir / "files"), "--slow"])
    assert services.command(exe, "/install").exit_code == 0
    assert services.command(exe, "/start").exit_code == 0
    assert wait_for(lambda: beats(files) >= 2)
    services.sc("stop", name)
    services.sc("stop", name)
    assert wait_for(lambda: services.state(name) == 1)
    # Exactly one line: the second request neither ran the listeners again nor cut them short.
    assert (files / "stopped").read_text().splitlines() == ["listener ran"]
    assert wait_for(lambda: not launcher_pids(test_dir), timeout=30), "a launcher is left"


def test_stop_pending_while_the_listeners_run(java_service, services, test_dir):
    exe, name, files = java_service(arguments=[winpath(test_dir / "files"), "--stop-gate"])
    assert services.command(exe, "/install").exit_code == 0
    assert services.command(exe, "/start").exit_code == 0
    assert wait_for(lambda: beats(files) >= 2)
    services.sc("stop", name)
    assert wait_for(lambda: (files / "stopping").exists()), "the listener did not begin"
    # SERVICE_STOP_PENDING, for as long as the listener holds the stop.
    assert services.state(name) == 3
    (files / "go").write_text("")
    assert wait_for(lambda: services.state(name) == 1)
    assert (files / "stopped").read_text().splitlines() == ["listener ran"]


PRIORITY_KEY = "HKLM\\SOFTWARE\\brightwell\\tarvo\\priority"
NORMAL, IDLE, HIGH = 0x20, 0x40, 0x80


def child_priority(run, probe, files):
    """The priority class of the service's child, found by the pid its Java side recorded."""
    pid = [line[5:] for line in (files / "started").read_text().splitlines()
           if line.startswith("pid: ")][0]
    out = run(probe, args=["priority", pid]).stdout.decode()
    return int(out.split("priority=")[1].split()[0], 16)


@pytest.mark.parametrize("value, expected", [
    pytest.param(RegValue(REG_DWORD, HIGH), HIGH, id="dword"),
    # Only the size counts, not the type.
    pytest.param(RegValue(REG_BINARY, struct.pack("<I", IDLE)), IDLE, id="binary-4-bytes"),
    pytest.param(RegValue(REG_QWORD, HIGH), NORMAL, id="qword-ignored"),
    pytest.param(RegValue(REG_BINARY, b"\x80\x00"), NORMAL, id="2-bytes-ignored"),
])
def test_priority_value_sets_the_childs_priority_class(java_service, services, registry, run,
                                                       probe, value, expected):
    exe, name, files = java_service(raw=True)
    registry.write(PRIORITY_KEY, name, value)
    assert services.command(exe, "/install").exit_code == 0
    assert services.command(exe, "/start").exit_code == 0
    assert wait_for(lambda: (files / "started").is_file())
    assert child_priority(run, probe, files) == expected
    assert services.command(exe, "/stop").exit_code == 0


def service_cache_entry(wine_session, test_dir):
    """The start-up cache entry whose class path lies in this test's folder, in the profile
    of whichever user the service ran as."""
    roots = ("users/*/AppData/Local/quillon/startup-cache/*/*",
             "windows/system32/config/systemprofile/AppData/Local/quillon/startup-cache/*/*")
    for root in roots:
        for entry in wine_session.drive_c.glob(root):
            record = entry / "fingerprint.txt"
            if record.is_file() and winpath(test_dir) in record.read_text(errors="replace"):
                return entry
    return None


def read_or_empty(path):
    return path.read_text() if path.is_file() else ""


def archive_options(files):
    return [line[len("archive option: "):] for line in (files / "started").read_text().splitlines()
            if line.startswith("archive option: ")]


def test_service_child_records_then_maps_its_start_up_archive(java_service, services,
                                                              wine_session, test_dir):
    # Services take their environment from the registry, where the cache is not switched off.
    exe, name, files = java_service()
    assert services.command(exe, "/install").exit_code == 0
    assert services.command(exe, "/start").exit_code == 0
    assert wait_for(lambda: beats(files) >= 2), "the application never ran"
    [recording] = archive_options(files)
    assert recording.startswith("-XX:DumpLoadedClassList=")
    first_pid = started_value(files, "pid")
    assert services.command(exe, "/stop").exit_code == 0

    # The maker runs once the child has ended.
    assert wait_for(lambda: (e := service_cache_entry(wine_session, test_dir)) is not None
                    and (e / "app.jsa").is_file() and not (e / "make.job").exists(),
                    timeout=300), "no archive was made"
    entry = service_cache_entry(wine_session, test_dir)

    (files / "started").unlink()
    before = beats(files)
    assert services.command(exe, "/start").exit_code == 0
    assert wait_for(lambda: "pid: " in read_or_empty(files / "started")
                    and beats(files) >= before + 2), "the application never ran again"
    assert started_value(files, "pid") != first_pid
    # The service names the profile by its drive letter, the test by the prefix's folder.
    [mapped] = archive_options(files)
    assert mapped.startswith("-XX:SharedArchiveFile=")
    assert mapped.endswith("\\" + "\\".join(entry.parts[-4:]) + "\\app.jsa")
    assert services.command(exe, "/stop").exit_code == 0
    assert (files / "stopped").read_text() == "listener ran\nlistener ran\n"
    assert services.command(exe, "/uninstall").exit_code == 0
    assert wait_for(lambda: not launcher_pids(test_dir), timeout=60), "a process is left"
