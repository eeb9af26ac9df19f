"""The installer launcher end to end on a real Java runtime under Wine: the runtime of
scripts/fetch-jdk.sh bundled as "jre.tar.gz", a small Java installer compiled here, the
progress dialog under Xvfb, Cancel, the hand-over value and the Swing window that ends the
launcher's wait."""

import json
import tarfile
import time
from pathlib import Path

import pytest

from conftest import require_built
from harness import winpath
from harness.java_side import RUNTIME_JAR, compile_java
from test_installer import PICK_JAVA_TITLE, locate_runtime_by_hand

ROOT = Path(__file__).resolve().parent.parent
HAND_OVER = r"HKCU\SOFTWARE\brightwell\tarvo"
TEXTS = {"20007": "Preparing the installation...", "20012": "Stop", "20013": "Setup Test",
         "20014": "The installer did not start in time."}

INSTALLER = r'''
package setup;

import com.tarvo.runtime.InstallStarted;
import java.io.FileOutputStream;
import java.io.OutputStreamWriter;
import java.io.Writer;
import java.nio.charset.StandardCharsets;
import javax.swing.JFrame;
import javax.swing.SwingUtilities;

/** Works through its arguments: mark FILE, sleep MS, handover, window, exit CODE. */
public class Main {
    static String marker;

    static void note(String line) throws Exception {
        if (marker == null) {
            return;
        }
        try (Writer out = new OutputStreamWriter(new FileOutputStream(marker, true),
                StandardCharsets.UTF_8)) {
            out.write(line + "\n");
        }
    }

    public static void main(String[] args) throws Exception {
        for (int i = 0; i < args.length; i++) {
            switch (args[i]) {
                case "mark":
                    marker = args[++i];
                    note("java.home=" + System.getProperty("java.home"));
                    note("manual=" + System.getProperty("tarvo.manualJre"));
                    break;
                case "sleep":
                    Thread.sleep(Long.parseLong(args[++i]));
                    break;
                case "handover":
                    note("handover=" + InstallStarted.endLauncherWait());
                    break;
                case "window":
                    SwingUtilities.invokeAndWait(() -> {
                        JFrame frame = new JFrame("Java Installer");
                        frame.setSize(320, 200);
                        frame.setVisible(true);
                    });
                    note("window");
                    break;
                case "exit":
                    System.exit(Integer.parseInt(args[++i]));
                    break;
                default:
                    break;
            }
        }
    }
}
'''


@pytest.fixture(scope="session")
def runtime_archive(java_home):
    """The real runtime as "jre.tar.gz", cached under build/ across sessions."""
    cache = ROOT / "build" / "installer-tests" / f"jre-{java_home.name}.tar.gz"
    if not cache.is_file():
        cache.parent.mkdir(parents=True, exist_ok=True)
        partial = cache.with_suffix(".part")
        with tarfile.open(partial, "w:gz", compresslevel=1) as archive:
            for entry in sorted(java_home.iterdir()):
                archive.add(entry, arcname=entry.name)
        partial.rename(cache)
    return cache


@pytest.fixture(scope="session")
def setup_jar(tmp_path_factory):
    if not RUNTIME_JAR.is_file():
        pytest.skip("runtime.jar is not built (make build)")
    work = tmp_path_factory.mktemp("setup-jar")
    return compile_java({"setup/Main.java": INSTALLER}, work / "setup.jar", work,
                        classpath=[RUNTIME_JAR])


@pytest.fixture
def real_setup(pack, setup_jar):
    """real_setup(archive=None, keys=None): an installer with the Java installer and, given
    an archive, a bundled runtime."""

    def make(archive=None, keys=None, **extra):
        files = [{"name": "setup.jar", "source": str(setup_jar)},
                 {"name": "runtime.jar", "source": str(RUNTIME_JAR)}]
        if archive:
            files.append({"name": "jre.tar.gz", "source": str(archive)})
        config = {"flavor": "t", "applicationType": "gui", "mainClass": "setup.Main",
                  "localizedTexts": TEXTS, "includedFiles": files,
                  "keys": {"159": "1", **(keys or {})}, **extra}
        return pack(config, stub="setup-launcher", name="setup.exe")

    return make


def wait_for(condition, what, timeout=120):
    limit = time.monotonic() + timeout
    while time.monotonic() < limit:
        value = condition()
        if value:
            return value
        time.sleep(0.1)
    pytest.fail("timed out waiting for " + what)


def marks(path):
    return path.read_text(encoding="utf-8").splitlines() if path.exists() else []


def probe(run, test_dir, *args, name="dialog"):
    """dialog-probe: (exit code, report or None)."""
    tool = require_built("win64/test-tools/dialog-probe")
    out = test_dir / f"{name}.json"
    result = run(tool, args=[args[0], "MyDialogClass", args[1], winpath(out), *args[2:]],
                 timeout=120)
    report = json.loads(out.read_text(encoding="utf-8")) if out.exists() else None
    return result.exit_code, report


# The tests look at the unpacked runtime after the run: it stays until the next start.
ENV = {"TARVO_LOG": "yes", "QLN_TEST_NO_CLEANUP_AFTER_EXIT": "1"}


def test_quiet_install_runs_on_the_bundled_runtime(real_setup, run, test_dir, runtime_archive):
    marker = test_dir / "marks.txt"
    exe = real_setup(runtime_archive)
    result = run(exe, args=["-q", "mark", winpath(marker), "exit", "7"], env=ENV, timeout=300)
    assert result.exit_code == 7, result.log
    assert "untaring JRE was successful" in result.log
    home = marks(marker)[0][len("java.home="):]
    assert "_dir" in home and home.lower().endswith("\\jre")
    assert marks(marker)[1] == "manual=null"
    unpacked = list((test_dir / "tmp").glob("*_dir*/jre"))
    assert len(unpacked) == 1 and (unpacked[0] / "bin" / "server" / "jvm.dll").is_file()
    assert not list((test_dir / "tmp").glob("*_dir*/jre.tar.gz"))


def test_an_installed_runtime_is_preferred_with_key_161(real_setup, run, test_dir, java_home,
                                                        runtime_archive):
    marker = test_dir / "marks.txt"
    exe = real_setup(runtime_archive, keys={"161": "1"})
    result = run(exe, args=["-q", "mark", winpath(marker), "exit", "0"],
                 env={**ENV, "TARVO_JAVA_HOME": winpath(java_home)}, timeout=300)
    assert result.exit_code == 0, result.log
    assert "JRE included" in result.log and "extracting JRE" not in result.log
    assert marks(marker)[0].lower() == ("java.home=" + winpath(java_home)).lower()


def test_manual_switch_reaches_the_java_side(real_setup, start, run, test_dir, java_home):
    marker = test_dir / "marks.txt"
    exe = real_setup(keys={"128": "A" + winpath(java_home)})
    # "-manual" skips the search; without a runtime quiet mode aborts before Java runs.
    result = run(exe, args=["-q", "-manual", "mark", winpath(marker)], env=ENV, timeout=300)
    assert result.exit_code == 83
    assert not marker.exists()
    # With a dialog the user locates the runtime by hand, and the Java side is told so.
    exe = real_setup(keys={"128": "A" + winpath(java_home)},
                     localizedTexts={**TEXTS, "20004": PICK_JAVA_TITLE})
    running = start(exe, args=["-manual", "mark", winpath(marker), "exit", "0"], env=ENV,
                    timeout=300)
    locate_runtime_by_hand(run, test_dir, java_home / "bin" / "java.exe")
    result = running.wait()
    assert result.exit_code == 0, result.log
    home, manual = marks(marker)
    assert (home.lower(), manual) == ("java.home=" + winpath(java_home).lower(), "manual=true")


def test_cancel_ends_with_0_and_deletes_both_values(real_setup, start, run, registry, test_dir,
                                                    java_home):
    marker = test_dir / "marks.txt"
    exe = real_setup()
    running = start(exe, args=["mark", winpath(marker), "sleep", "60000"],
                    env={**ENV, "TARVO_JAVA_HOME": winpath(java_home)}, timeout=300)
    wait_for(lambda: marks(marker), "the Java installer to run")
    values = registry.values(HAND_OVER)
    assert values.get("InstallStarted") == 1
    per_process = [name for name in values if name.startswith("InstallStarted_")]
    assert len(per_process) == 1 and values[per_process[0]] == 1
    code, report = probe(run, test_dir, "live", "60000", "cancel")
    assert code == 0
    result = running.wait()
    assert result.exit_code == 0
    assert "Canceled installer" in result.log
    assert registry.values(HAND_OVER) == {}


def launcher_dirs(test_dir):
    return list((test_dir / "tmp").glob("*_dir*"))


def unpacked_files(test_dir):
    return sum(len(list(jre.rglob("*"))) for jre in (test_dir / "tmp").glob("*_dir*/jre"))


def current_log(test_dir):
    logs = sorted((test_dir / "tmp").glob("qln_nlog_*"))
    return logs[-1].read_text(encoding="cp1252", errors="replace") if logs else ""


# Cancel while the worker is inside a step: the seam holds the worker in the step (the 41st
# file of the runtime for "unpack") until the press has landed. A worker that went on
# writing while the directory is deleted would turn the cancel into a failure (a box, exit
# code 1) or leave files behind.
@pytest.mark.parametrize("step, pause, mode, inside", [
    ("integrity", "integrity:hold:1", [], lambda d: not launcher_dirs(d)),
    ("extract", "extract:hold:1", [], lambda d: launcher_dirs(d)),
    ("unpack", "unpack:hold:41", [], lambda d: unpacked_files(d) >= 40),
    ("unpack-console-errors", "unpack:hold:41", ["-q", "-splash"],
     lambda d: unpacked_files(d) >= 40),
], ids=lambda v: v if isinstance(v, str) else "")
def test_cancel_inside_a_step_ends_with_0_and_leaves_nothing(real_setup, start, run, registry,
                                                             test_dir, runtime_archive, step,
                                                             pause, mode, inside):
    marker = test_dir / "marks.txt"
    exe = real_setup(runtime_archive, integrityCheck=step == "integrity")
    running = start(exe, args=[*mode, "mark", winpath(marker), "exit", "9"],
                    env={**ENV, "QLN_TEST_STEP_PAUSE": pause}, timeout=300)
    held = "Test seam holds the worker at " + step.split("-")[0]
    wait_for(lambda: held in current_log(test_dir), f"the worker held in the {step} step")
    assert inside(test_dir)
    code, _ = probe(run, test_dir, "live", "60000", "cancel")
    assert code == 0
    result = running.wait()
    assert (result.exit_code, result.boxes) == (0, []), result.log
    assert not marker.exists()
    assert list((test_dir / "tmp").glob("tvo*")) == []
    assert registry.values(HAND_OVER) == {}
    log = result.log.splitlines()
    assert "untaring JRE was successful" not in log
    assert "Canceled installer" in log and "Worker stopped after cancel" in log


def test_the_java_side_ends_the_wait_before_any_window(real_setup, start, run, registry,
                                                       test_dir, java_home):
    marker = test_dir / "marks.txt"
    exe = real_setup()
    running = start(exe, args=["mark", winpath(marker), "handover", "sleep", "5000", "exit", "0"],
                    env={**ENV, "TARVO_JAVA_HOME": winpath(java_home)}, timeout=300)
    wait_for(lambda: "handover=true" in marks(marker), "the hand-over")
    # No Java window exists yet, and the progress dialog is already hidden.
    code, _ = probe(run, test_dir, "live", "1000")
    assert code == 2
    assert not any(name.startswith("InstallStarted_") for name in registry.values(HAND_OVER))
    result = running.wait()
    assert result.exit_code == 0
    assert "Java window visible" in result.log
    assert "timeout" not in result.log


def test_progress_dialog_until_the_swing_window_shows(real_setup, start, run, test_dir,
                                                      runtime_archive):
    marker = test_dir / "marks.txt"
    exe = real_setup(runtime_archive)
    running = start(exe, args=["mark", winpath(marker), "sleep", "3000", "window", "sleep",
                               "3000", "exit", "0"], env=ENV, timeout=300)
    rects = ["rect=22,17,233,79", "rect=46,6,176,34", "rect=6,61,162,10", "rect=6,50,154,8",
             "rect=173,59,50,14"]
    shot = test_dir / "progress.bmp"
    code, report = probe(run, test_dir, "live", "120000", *rects, "samples=8", "interval=400",
                         f"shot={winpath(shot)}")
    assert code == 0
    assert report["caption"] == "Setup Test"
    controls = {c["id"]: c for c in report["controls"]}
    assert controls[1003]["text"] == "Preparing the installation..."
    assert controls[2]["text"] == "Stop"
    assert not controls[1002]["visible"]
    # MapDialogRect works only inside the dialog's process: the probe converts the same
    # rectangles on a copy of the template it creates itself.
    tool = require_built("win64/test-tools/dialog-probe")
    converted = test_dir / "converted.json"
    assert run(tool, args=["template", winpath(exe), "103", winpath(converted), *rects]).exit_code == 0
    mapped = json.loads(converted.read_text(encoding="utf-8"))["mapped"]
    for ident, (x, y, w, h) in zip([1003, 1001, 1002, 2], mapped[1:]):
        assert controls[ident]["rect"] == [x, y, x + w, y + h], ident
    # Centred on the screen: the dialog has no parent.
    left, top, right, bottom = report["window"]
    screen_w, screen_h = report["screen"]
    assert left == (screen_w - (right - left)) // 2
    assert top == (screen_h - (bottom - top)) // 2
    positions = report["positions"]
    assert positions == sorted(positions) and positions[-1] > positions[0], positions
    # Without the integrity check the bar starts after the check's share.
    assert report["range"] == [100, 400]
    assert shot.read_bytes()[:2] == b"BM"

    wait_for(lambda: "window" in marks(marker), "the Swing window")
    code, _ = probe(run, test_dir, "live", "1000", name="after")
    assert code == 2
    result = running.wait()
    assert result.exit_code == 0
    log = result.log
    assert "untaring JRE was successful" in log
    assert log.index("untaring JRE was successful") < log.index("Java window visible")


@pytest.mark.parametrize("no_timeout", [False, True], ids=["timeout", "key-159"])
def test_start_timeout_of_the_window_wait(real_setup, run, test_dir, java_home, no_timeout):
    marker = test_dir / "marks.txt"
    exe = real_setup(keys={"159": "1" if no_timeout else "0"})
    # The test build waits 20 polls (2 s) instead of 2400 before it gives up.
    result = run(exe, args=["mark", winpath(marker), "sleep", "6000", "exit", "5"],
                 env={**ENV, "TARVO_JAVA_HOME": winpath(java_home),
                      "QLN_TEST_WATCHER_POLLS": "20"}, timeout=300)
    if no_timeout:
        assert result.exit_code == 5
        assert "timeout" not in result.log.splitlines()
    else:
        assert result.exit_code == 1
        assert "timeout" in result.log.splitlines()
        assert result.box.text.startswith(TEXTS["20014"])


def test_narrow_text_setters_keep_what_the_code_page_shows(start, run, test_dir, java_home, pack,
                                                           setup_jar):
    marker = test_dir / "marks.txt"
    files = [{"name": "setup.jar", "source": str(setup_jar)},
             {"name": "runtime.jar", "source": str(RUNTIME_JAR)}]
    exe = pack({"flavor": "t", "applicationType": "gui", "mainClass": "setup.Main",
                "includedFiles": files, "keys": {"159": "1"},
                "localizedTexts": {**TEXTS, "20007": "Caf\u00e9 \u4e2d ready"}},
               stub="setup-launcher", name="setup.exe")
    running = start(exe, args=["mark", winpath(marker), "sleep", "4000", "exit", "0"],
                    env={**ENV, "TARVO_JAVA_HOME": winpath(java_home),
                         "QLN_TEST_NARROW_SETTERS": "1"}, timeout=300)
    code, report = probe(run, test_dir, "live", "120000")
    assert code == 0
    label = {c["id"]: c for c in report["controls"]}[1003]["text"]
    # cp1252 has the e acute but nothing for a Chinese character.
    assert label == "Caf\u00e9 ? ready"
    assert running.wait().exit_code == 0


def test_locate_a_java_exe_in_the_missing_runtime_dialog(pack, setup_jar, start, run, test_dir,
                                                         java_home):
    marker = test_dir / "marks.txt"
    files = [{"name": "setup.jar", "source": str(setup_jar)},
             {"name": "runtime.jar", "source": str(RUNTIME_JAR)}]
    exe = pack({"flavor": "t", "applicationType": "gui", "mainClass": "setup.Main",
                "includedFiles": files, "keys": {"159": "1"},
                "searchSequence": [{"type": "A", "value": "Z:\\nowhere"}],
                "localizedTexts": {**TEXTS, "20004": "Find java.exe"}},
               stub="setup-launcher", name="setup.exe")
    fake = test_dir / "fake" / "java.exe"
    fake.parent.mkdir()
    fake.write_bytes(b"not a program")
    running = start(exe, args=["mark", winpath(marker), "exit", "4"], env=ENV, timeout=300)

    # A file that is no runtime: the launcher says so and dialog 104 stays.
    open_dialog = "#32770|Find java.exe"
    tool = require_built("win64/test-tools/dialog-probe")
    out = test_dir / "open.json"
    assert run(tool, args=["live", "#32770|Setup Test", "60000", winpath(out), "press=1005"],
               timeout=120).exit_code == 0
    assert run(tool, args=["live", open_dialog, "60000", winpath(out), f"filename={winpath(fake)}",
                           "press=1"], timeout=120).exit_code == 0
    time.sleep(3)
    assert not marker.exists()
    # The real java.exe goes on with that runtime.
    assert run(tool, args=["live", "#32770|Setup Test", "60000", winpath(out), "press=1005"],
               timeout=120).exit_code == 0
    java_exe = java_home / "bin" / "java.exe"
    assert run(tool, args=["live", open_dialog, "60000", winpath(out),
                           f"filename={winpath(java_exe)}", "press=1"], timeout=120).exit_code == 0
    result = running.wait()
    assert result.exit_code == 4, result.log
    assert marks(marker)[0].lower() == ("java.home=" + winpath(java_home)).lower()
    assert ("registered located JVM " + winpath(java_exe)).lower() in result.log.lower()
    assert len(result.boxes) == 1  # what the launcher said about the fake java.exe
