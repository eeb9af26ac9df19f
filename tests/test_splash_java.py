"""The splash screen of the application launcher with a Java application behind it: the
controller class of the runtime library on a real Java runtime, the start-up steps that show
the splash screen (against the JNI stand-in runtime of tests/tools), and the runtime's own
splash library."""

import io
import zipfile

import pytest

from harness import winpath
from harness.java_side import RUNTIME_JAR, compile_java
from harness.paths import tool_path
from splash_support import (HEIGHT, RED, WIDTH, bounding_box, differing, pattern_image,
                            pixels_near, reference_shot, shows, splash_config, wait_until,
                            window_on_screen)
from splash_support import splash_files, splash_probe_stub  # noqa: F401

CONTROLLER_CLASS = "com/tarvo/runtime/TarvoController.class"

# Works through its arguments after the first, a folder: "text:T" sets a status text, "hide"
# hides the splash window, "frame" opens a window, "started" creates the file "started", "wait"
# waits for the file "step<n>" (n counts the waits), "exit" ends the process.
APP = '''
package splash;

import com.tarvo.runtime.TarvoController;
import java.awt.Frame;
import java.io.File;

public class App {
    public static void main(String[] args) throws Exception {
        File dir = new File(args[0]);
        int waits = 0;
        for (int i = 1; i < args.length; i++) {
            String step = args[i];
            if (step.startsWith("text:")) {
                TarvoController.setSplashStatusText(step.substring(5));
            } else if (step.equals("hide")) {
                TarvoController.hideSplashScreen();
            } else if (step.equals("frame")) {
                Frame frame = new Frame("application window");
                frame.setBounds(20, 20, 200, 100);
                frame.setVisible(true);
            } else if (step.equals("started")) {
                new File(dir, "started").createNewFile();
            } else if (step.equals("wait")) {
                File next = new File(dir, "step" + (++waits));
                while (!next.exists()) {
                    Thread.sleep(20);
                }
            } else if (step.equals("exit")) {
                System.exit(0);
            }
        }
    }
}
'''


@pytest.fixture(scope="session")
def app_jars(tmp_path_factory):
    """The application, the runtime library, and the runtime library without the controller."""
    if not RUNTIME_JAR.is_file():
        pytest.skip(f"{RUNTIME_JAR} is not built (make build)")
    work = tmp_path_factory.mktemp("splash-app")
    app = compile_java({"splash/App.java": APP}, work / "app.jar", work / "a",
                       classpath=[RUNTIME_JAR])
    without = io.BytesIO()
    with zipfile.ZipFile(RUNTIME_JAR) as source, zipfile.ZipFile(without, "w") as target:
        names = source.namelist()
        assert CONTROLLER_CLASS in names
        for name in names:
            if name != CONTROLLER_CLASS:
                target.writestr(name, source.read(name))
    return {"app": app.read_bytes(), "runtime": RUNTIME_JAR.read_bytes(),
            "runtime-without-controller": without.getvalue()}


@pytest.fixture
def splash_app(pack, java_home, app_jars, splash_files):
    """splash_app(controller=True, **splash) packs the application with a splash screen for
    the real runtime; the runtime library goes in as an included file."""

    def pack_app(controller=True, files=None, **splash):
        runtime = app_jars["runtime" if controller else "runtime-without-controller"]
        config = {**splash_config(**splash), "applicationType": "gui", "mainClass": "splash.App",
                  "classPath": [{"type": "A", "required": True, "value": "app.jar"}],
                  "searchSequence": [{"type": "A", "value": winpath(java_home)}],
                  "includedFiles": [{"name": "runtime.jar", "source": "runtime.jar"}]}
        return pack(config, files={"app.jar": app_jars["app"], "runtime.jar": runtime,
                                   **splash_files, **(files or {})})

    return pack_app


def painted_status(display):
    """The box of the status text once the window shows the image, else None."""
    shot = window_on_screen(display)
    if not shows(display, pattern_image(WIDTH, HEIGHT)):
        return None
    return bounding_box(pixels_near(shot, RED))


def test_the_controller_sets_the_status_line_tick_by_tick_and_hides_the_window(
        splash_app, pack, start, wine_session, test_dir, splash_probe_stub, splash_files):
    texts = ["Step one", "The second step, a longer one"]
    expected = [reference_shot(pack, start, wine_session, test_dir, splash_probe_stub,
                               splash_files, text, f"ref{i}.exe") for i, text in enumerate(texts)]
    exe = splash_app()
    running = start(exe, args=[winpath(test_dir), f"text:{texts[0]}", "wait",
                               f"text:{texts[1]}", "wait", "hide", "wait"],
                    env={"QUILLON_LOG": "yes"}, timeout=180)
    for step, shot in enumerate(expected, 1):
        wait_until(lambda: differing(window_on_screen(wine_session.display), shot) == [],
                   timeout=120, what=f"status text {step}")
        (test_dir / f"step{step}").touch()
    wait_until(lambda: not shows(wine_session.display, pattern_image(WIDTH, HEIGHT)),
               what="the hidden window")
    (test_dir / "step3").touch()
    result = running.wait()
    assert result.exit_code == 0, result.stderr_text
    assert "Hiding splash screen" in result.log


def test_main_returning_while_the_window_shows_ends_the_launcher_with_0(
        splash_app, start, wine_session, test_dir):
    exe = splash_app()
    running = start(exe, args=[winpath(test_dir), "text:Attached to the JVM and polling", "wait"],
                    env={"QUILLON_LOG": "yes"}, timeout=180)
    first = wait_until(lambda: painted_status(wine_session.display), timeout=120,
                       what="the splash window")
    # The longer text on the screen shows the splash thread attached to the JVM.
    wait_until(lambda: (painted_status(wine_session.display) or first)[2] > first[2] + 20,
               timeout=120, what="the new status text")
    (test_dir / "step1").touch()
    result = running.wait()
    assert not result.timed_out, "the JVM waited for the splash thread"
    assert result.exit_code == 0, result.stderr_text
    assert "dest JVM" in result.log and "launch done" in result.log
    assert "Hiding splash screen" not in result.log


def test_without_the_controller_class_the_window_stays_until_auto_off(
        splash_app, start, wine_session, test_dir):
    exe = splash_app(controller=False, autoOff=True)
    running = start(exe, args=[winpath(test_dir), "started", "wait", "frame", "wait", "exit"],
                    env={"QUILLON_LOG": "yes"}, timeout=180)
    wait_until(lambda: shows(wine_session.display, pattern_image(WIDTH, HEIGHT)), timeout=120,
               what="the splash window")
    wait_until(lambda: (test_dir / "started").exists(), timeout=120, what="main")
    # main runs, and nothing has hidden the window.
    assert shows(wine_session.display, pattern_image(WIDTH, HEIGHT))
    (test_dir / "step1").touch()
    wait_until(lambda: not shows(wine_session.display, pattern_image(WIDTH, HEIGHT)),
               timeout=120, what="auto off")
    (test_dir / "step2").touch()
    result = running.wait()
    assert result.exit_code == 0, result.stderr_text
    assert "Splash screen auto off" in result.log


def test_the_runtime_library_shows_the_image_after_the_runtime_was_found(
        splash_app, start, wine_session, test_dir):
    image = pattern_image(WIDTH, HEIGHT, frame=(255, 0, 255))
    exe = splash_app(image="splash.png", runtimeLibrary=True, files={"splash.png": image.png()})
    running = start(exe, args=[winpath(test_dir), "wait"], env={"QUILLON_LOG": "yes"},
                    timeout=180)
    wait_until(lambda: differing(window_on_screen(wine_session.display), image) == [],
               timeout=120, what="the image in the runtime's splash window")
    (test_dir / "step1").touch()
    result = running.wait()
    assert result.exit_code == 0, result.stderr_text
    log = result.log
    assert log.index("Loading of JVM-DLL successful") < log.index("loading splashscreen dll") \
        < log.index("splash load memory returned 1") < log.index("Creating JVM")
    assert "Starting splash screen thread" not in log


@pytest.fixture
def stand_in_launch(pack, run, splash_probe_stub, stand_in_home, splash_files):
    """stand_in_launch(splash, show=None, fail=()) packs a GUI application with the splash
    setting `splash` and runs it on the stand-in runtime with a log; with `show` it is started
    by splash-probe.exe with that show command. Returns the Result."""

    def launch(splash, show=None, fail=(), keys=None):
        config = {**splash_config(**splash), "applicationType": "gui", "mainClass": "app.Main",
                  "messages": {"1005": "Could not start the application"}, "keys": keys or {}}
        exe = pack(config, files={**splash_files, "splash.png": pattern_image(8, 8).png()})
        env = {"QUILLON_JAVA_HOME": winpath(stand_in_home), "QUILLON_LOG": "yes",
               "JNI_STAND_IN_FAIL": ",".join(fail)}
        if show is None:
            return run(exe, env=env)
        probe = tool_path("splash-probe")
        return run(probe, args=["spawn", str(show), winpath(exe)], env=env)

    return launch


def ordered(log, *lines):
    """Whether each line occurs in the log, in this order."""
    positions = [log.find(line) for line in lines]
    return -1 not in positions and positions == sorted(positions)


def test_the_own_window_starts_before_the_runtime_search(stand_in_launch):
    result = stand_in_launch({})
    assert result.exit_code == 0, result.stderr_text
    assert ordered(result.log, "Starting splash screen thread", "extracting files", "LoadDLL (",
                   "Creating JVM")
    assert "splashscreen.dll" not in result.log


def test_the_runtime_library_comes_after_the_runtime_search_and_may_be_missing(
        stand_in_launch, stand_in_home):
    result = stand_in_launch({"image": "splash.png", "runtimeLibrary": True})
    assert result.exit_code == 0, result.stderr_text
    # The search gives the runtime's home in lower case. The launch goes on without a splash.
    library = (winpath(stand_in_home) + r"\bin\..\bin\splashscreen.dll").lower()
    lines = ("LoadDLL (", f"loading splashscreen dll from {library}",
             "ERROR: Could not load splashscreen.dll", "Creating JVM", "launch done")
    assert ordered(result.log.lower(), *(line.lower() for line in lines))
    assert "Starting splash screen thread" not in result.log


STARTED = "Starting splash screen thread"
HIDDEN = "Hiding splash screen"
LIBRARY = "loading splashscreen dll"
RUNTIME_LIBRARY = {"image": "splash.png", "runtimeLibrary": True}


@pytest.mark.parametrize("splash, show, keys, logged", [
    pytest.param({}, None, {"108": "0"}, [], id="splash-off"),
    pytest.param(RUNTIME_LIBRARY, None, {"108": "0"}, [], id="splash-off-runtime-library"),
    pytest.param({}, 1, {}, [STARTED], id="normal-start"),
    pytest.param({}, 0, {}, [HIDDEN], id="hidden-start"),
    pytest.param(RUNTIME_LIBRARY, 0, {}, [], id="hidden-start-runtime-library"),
])
def test_whether_a_splash_screen_starts(stand_in_launch, splash, show, keys, logged):
    result = stand_in_launch(splash, show=show, keys=keys)
    assert result.exit_code == 0, result.stderr_text
    assert "launch done" in result.log
    assert [line for line in (STARTED, HIDDEN, LIBRARY) if line in result.log] == logged
    if show == 0:
        assert '"splashSeen":false' in result.stdout_text


def test_a_failed_launch_hides_the_window_before_its_message(stand_in_launch):
    result = stand_in_launch({}, fail=["create"])
    assert result.exit_code == 1
    assert result.box.text.startswith("Could not start the application")
    assert ordered(result.log, "Starting splash screen thread", "could not initialize JVM",
                   "Hiding splash screen")
