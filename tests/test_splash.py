"""The launcher's own splash window, driven from the inside by splash-probe.exe (packed like a
launcher; the commands are at the top of tests/tools/splash_probe.cpp) and started by the
application launcher. Screenshots come from the Xvfb display."""

import json
import re
import shutil

import pytest

from harness import winpath
from runtime_homes import stand_ins  # noqa: F401
from splash_support import (HEIGHT, RED, SECOND, STATUS, WHITE, WIDTH, Image, bounding_box,
                            centred, current_log, differing, icon_file, pattern_image, pixels_near,
                            reference_shot, shows, splash_config, wait_until, window_on_screen)
from splash_support import splash_files, splash_probe_stub  # noqa: F401


def events(result, name):
    lines = [json.loads(line) for line in result.stdout_text.splitlines() if line.startswith("{")]
    return [line for line in lines if line["event"] == name]


def _inside(point, box, margin):
    return box[0] - margin <= point[0] < box[2] + margin and \
        box[1] - margin <= point[1] < box[3] + margin


def test_the_window_shows_the_image_and_both_texts(pack, start, wine_session, test_dir,
                                                    splash_probe_stub, splash_files):
    config = {**splash_config(),
              "resources": [{"type": "ICON", "id": "ID_SPLASH_ICON", "source": "splash.ico"}]}
    exe = pack(config, stub=splash_probe_stub, files={**splash_files, "splash.ico": icon_file()})
    go = test_dir / "go"
    running = start(exe, args=["show", "wait-visible", "wait-file", winpath(go), "report"])
    expected = pattern_image(WIDTH, HEIGHT)

    # The window is painted a little after it became visible: wait for the image.
    def painted():
        shot = window_on_screen(wine_session.display)
        return shot if shot.get(WIDTH - 1, HEIGHT - 1) == expected.get(WIDTH - 1, HEIGHT - 1) and \
            len(pixels_near(shot, RED)) > 20 else None

    shot = wait_until(painted, what="the splash window on the screen")
    go.touch()
    result = running.wait()
    assert result.exit_code == 0, result.stderr_text

    red = bounding_box(pixels_near(shot, RED))
    white = bounding_box(pixels_near(shot, WHITE))
    assert red is not None and white is not None
    # Each text starts at its position; the cell of the first letter may begin a pixel or two
    # inside it.
    assert STATUS["x"] <= red[0] <= STATUS["x"] + 3 and STATUS["y"] <= red[1] <= STATUS["y"] + 8
    assert SECOND["x"] <= white[0] <= SECOND["x"] + 3 and SECOND["y"] <= white[1] <= SECOND["y"] + 6
    assert red[3] - red[1] > white[3] - white[1], "the status font is the larger one"
    # Apart from the two texts the window is exactly the image.
    changed = differing(shot, expected)
    outside = [p for p in changed if not (_inside(p, red, 2) or _inside(p, white, 2))]
    assert outside == []

    window = events(result, "window")[-1]
    left, top = centred(WIDTH, HEIGHT)
    assert window["rect"] == [left, top, left + WIDTH, top + HEIGHT]
    assert window["title"] == "Splash Test"
    assert window["popup"] and not window["owner"] and not window["topmost"]
    assert window["classStyle"] == 0x23 and window["classBackground"] == 6
    assert window["classIcon"], "the class has the icon ID_SPLASH_ICON"


def test_without_an_image_the_window_is_light_gray(pack, start, wine_session, test_dir,
                                                   splash_probe_stub):
    # The splash keys alone, without bitmap 10000.
    exe = pack({"keys": {"108": "1", "141": str(WIDTH), "142": str(HEIGHT)}},
               stub=splash_probe_stub)
    go = test_dir / "go"
    running = start(exe, args=["show", "wait-visible", "wait-file", winpath(go)])
    gray = Image(WIDTH, HEIGHT, bytearray(bytes((192, 192, 192)) * (WIDTH * HEIGHT)))
    wait_until(lambda: differing(window_on_screen(wine_session.display), gray) == [],
               what="a light gray window")
    go.touch()
    assert running.wait().exit_code == 0


def test_a_hide_request_before_the_window_exists_keeps_it_away(pack, start, test_dir, tmp_dir,
                                                                splash_probe_stub, splash_files):
    exe = pack(splash_config(), stub=splash_probe_stub, files=splash_files)
    go = test_dir / "go"
    running = start(exe, args=["hide", "show", "wait-file", winpath(go), "report"],
                    env={"QUILLON_LOG": "yes"})
    # The splash thread has run once it logged; it must end without a window.
    wait_until(lambda: "Showing splash screen" in current_log(tmp_dir), what="the splash thread")
    go.touch()
    result = running.wait()
    assert result.exit_code == 0
    assert events(result, "window") == [{"event": "window", "exists": False, "visible": False}]
    assert "Initializing splash screen" not in result.log
    assert result.log.index("Hiding splash screen") < result.log.index("Showing splash screen")


@pytest.mark.parametrize("on_top", [False, True], ids=["normal", "always-on-top"])
def test_a_hide_request_hides_the_window_for_good(pack, run, splash_probe_stub, splash_files,
                                                   on_top):
    exe = pack(splash_config(alwaysOnTop=on_top), stub=splash_probe_stub, files=splash_files)
    result = run(exe, args=["show", "wait-visible", "hide", "report", "hide", "status", "x",
                            "report"], env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 0, result.stderr_text
    shown, hidden, still_hidden = events(result, "window")
    assert shown["visible"] and shown["topmost"] == on_top
    assert not shown["classIcon"], "no icon ID_SPLASH_ICON in this launcher"
    # Hidden, not destroyed; a second hide and a new status text change nothing.
    assert hidden["exists"] and not hidden["visible"]
    assert still_hidden["exists"] and not still_hidden["visible"]
    assert result.log.count("Hiding splash screen") == 2
    assert "Starting splash screen thread" in result.log


@pytest.mark.parametrize("text, shown", [
    ("Loading modules, please wait", "Loading modules, please wait"),
    ("Caf\u00e9 \u00fcber \u20ac 5", "Caf\u00e9 \u00fcber "),
], ids=["latin", "cut-before-euro-sign"])
def test_a_new_status_text_replaces_the_line(pack, start, wine_session, test_dir,
                                              splash_probe_stub, splash_files, text, shown):
    expected = reference_shot(pack, start, wine_session, test_dir, splash_probe_stub,
                              splash_files, shown, "reference.exe")
    exe = pack(splash_config(), stub=splash_probe_stub, files=splash_files)
    go = test_dir / "go"
    running = start(exe, args=["show", "wait-visible", "status", text, "wait-file", winpath(go)])
    wait_until(lambda: differing(window_on_screen(wine_session.display), expected) == [],
               what="the new status line")
    go.touch()
    assert running.wait().exit_code == 0


def test_auto_off_hides_the_window_when_the_process_shows_another(pack, run, splash_probe_stub,
                                                                   splash_files):
    exe = pack(splash_config(autoOff=True), stub=splash_probe_stub, files=splash_files)
    result = run(exe, args=["show", "wait-visible", "window", "wait-hidden"],
                 env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 0, result.stderr_text
    assert not events(result, "window")[-1]["visible"]
    assert "Splash screen auto off" in result.log


def test_a_fatal_error_hides_the_window_before_its_box_which_it_owns(pack, run,
                                                                      splash_probe_stub,
                                                                      splash_files):
    exe = pack({**splash_config(), "applicationType": "gui"}, stub=splash_probe_stub,
               files=splash_files)
    result = run(exe, args=["show", "wait-visible", "fatal", "Something broke"])
    assert result.exit_code == 1
    assert result.box.text == "Something broke" and result.box.icon == "error"
    assert events(result, "box") == [{"event": "box", "owner": True, "ownerIsSplash": True,
                                      "splashVisible": False}]


@pytest.fixture(scope="session")
def real_runtime(java_home):
    """The session's Windows Java runtime (conftest's java_home: in CI, no runtime fails)."""
    return java_home


def test_the_runtime_library_gets_the_image_and_closes_on_a_hide_request(
        pack, start, wine_session, test_dir, splash_probe_stub, real_runtime):
    image = pattern_image(WIDTH, HEIGHT, frame=(255, 0, 255))
    exe = pack({"splashScreen": {"image": "splash.png", "runtimeLibrary": True}},
               stub=splash_probe_stub, files={"splash.png": image.png()})
    shown, hidden = test_dir / "shown", test_dir / "hidden"
    running = start(exe, args=["jvm-home", winpath(real_runtime), "show", "wait-file",
                               winpath(shown), "hide", "wait-file", winpath(hidden)],
                    env={"QUILLON_LOG": "yes"})
    # The runtime's library centres its own window on the screen, as the launcher does.
    wait_until(lambda: differing(window_on_screen(wine_session.display), image) == [],
               what="the image in the runtime's splash window")
    shown.touch()
    wait_until(lambda: not shows(wine_session.display, image), what="the splash to close")
    hidden.touch()
    result = running.wait()
    assert result.exit_code == 0, result.stderr_text
    library = winpath(real_runtime) + r"\bin\..\bin\splashscreen.dll"
    assert f"loading splashscreen dll from {library}" in result.log
    assert re.search(r"splash load memory returned 1 \(\w+, \w+, %d\)" % len(image.png()),
                     result.log)


def test_without_a_usable_runtime_library_there_is_no_splash(pack, run, test_dir,
                                                             splash_probe_stub, stand_ins):
    home = test_dir / "jre"
    (home / "bin").mkdir(parents=True)
    other = test_dir / "other"
    (other / "bin").mkdir(parents=True)
    shutil.copyfile(stand_ins["jvm"], other / "bin" / "splashscreen.dll")
    exe = pack({"splashScreen": {"image": "splash.png", "runtimeLibrary": True}},
               stub=splash_probe_stub, files={"splash.png": pattern_image(8, 8).png()})
    for runtime, error in ((home, "ERROR: Could not load splashscreen.dll"),
                           (other, "ERROR: Could not find functions in splashscreen.dll")):
        result = run(exe, args=["jvm-home", winpath(runtime), "show", "hide", "report"],
                     env={"QUILLON_LOG": "yes"})
        assert result.exit_code == 0, result.stderr_text
        assert f"loading splashscreen dll from {winpath(runtime)}\\bin\\..\\bin\\splashscreen.dll" \
            in result.log
        assert error in result.log
        assert "splash load memory" not in result.log
        assert not events(result, "window")[0]["exists"]
