"""Fixtures for the Wine integration tests; tests/README.md shows how to use them."""

import shutil
from pathlib import Path

import pytest

from ci_skips import in_ci, pytest_configure, pytest_make_collect_report, \
    pytest_runtest_makereport, pytest_sessionfinish, pytest_terminal_summary  # noqa: F401
from harness import Registry, Running, WineSession, pack as pack_exe
from harness.java_side import build_jni_stand_in, fetch_real_runtime, find_jni_stand_in
from harness.packer import missing_packer_parts
from harness.paths import build_tools, launcher_path, tool_path


@pytest.fixture(scope="session")
def tools() -> dict:
    """Paths of runner.exe and msgbox-probe.exe, built first when the build has none."""
    names = ("runner", "msgbox-probe")
    if any(tool_path(n) is None for n in names):
        output = build_tools()
        if any(tool_path(n) is None for n in names):
            pytest.fail("cannot build the test tools:\n" + output)
    return {n: tool_path(n) for n in names}


@pytest.fixture(scope="session")
def wine_session():
    """Xvfb, a fresh prefix and a persistent wineserver for the whole run."""
    session = WineSession()
    try:
        session.start()
        yield session
    finally:
        session.close()


@pytest.fixture
def test_dir(tmp_path) -> Path:
    """The test's own folder: default working directory, home of packed exes and specs."""
    return tmp_path


@pytest.fixture
def tmp_dir(test_dir) -> Path:
    """The folder that TMP and TEMP name in the default environment; logs land here."""
    path = test_dir / "tmp"
    path.mkdir()
    return path


@pytest.fixture
def registry(wine_session, test_dir):
    """Registry access; afterwards the launchers' keys and every key written here are gone."""
    reg = Registry(wine_session, work_dir=test_dir)
    yield reg
    reg.cleanup()


DLL_OVERRIDES = r"HKCU\Software\Wine\DllOverrides"


@pytest.fixture
def prefer_native_dll(registry):
    """prefer_native_dll("wininet"): Wine then loads a wininet.dll that the search finds before
    its own copy, as Windows would, for the rest of the test. This is the way to stage a
    planted DLL: WINEDLLOVERRIDES in a run's environment does not reach Wine's loader."""
    names = []

    def prefer(name):
        registry.write(DLL_OVERRIDES, name, "native,builtin")
        names.append(name)

    yield prefer
    for name in names:
        registry.delete_value(DLL_OVERRIDES, name)


@pytest.fixture
def start(wine_session, tools, test_dir, tmp_dir, registry):
    """start(exe, ...) -> Running, for programs that run beside each other; takes the same
    arguments as `run`. Whatever is still running at the end of the test is killed."""
    started = []

    def start_program(exe, **options) -> Running:
        running = Running(wine_session, tools["runner"], test_dir, tmp_dir, exe=exe, **options)
        started.append(running)
        return running

    yield start_program
    for running in started:
        running.kill()
    # A log that fell back to c:\ must not be found by the next test.
    for leftover in wine_session.drive_c.glob("qln_nlog*"):
        leftover.unlink()


@pytest.fixture
def run(start):
    """run(exe, args=None, cmdline=None, env=None, cwd=None, lc_all="en_US.UTF-8",
    answers=(), timeout=30, stdin=None, default_environment=True, inherit=(),
    check_answers=True) -> Result. Starts `exe` through the runner and waits for it."""

    def run_program(exe, **options):
        return start(exe, **options).wait()

    return run_program


@pytest.fixture
def probe(tools) -> Path:
    return tools["msgbox-probe"]


def require_built(stub: str) -> Path:
    """The path of a built launcher; skips the test when the build has not made it."""
    path = launcher_path(stub)
    if not path.is_file():
        pytest.skip(f"{path} is not built (make build)")
    return path


@pytest.fixture
def launcher():
    """launcher("app-launcher") -> Path of the unpacked stub; skips when it is not built."""
    return require_built


@pytest.fixture
def pack(test_dir):
    """pack(config, stub="app-launcher", name="app.exe", files=None) -> Path of the packed exe
    in the test folder. Skips when the packer or the stub is not built."""

    def pack_in_test_dir(config, stub="app-launcher", name="app.exe", files=None):
        missing = missing_packer_parts(stub)
        if missing:
            pytest.skip("not built: " + ", ".join(missing) + " (make build)")
        return pack_exe(test_dir, config, stub=stub, name=name, files=files)

    return pack_in_test_dir


@pytest.fixture
def windows_temp(wine_session):
    """C:\\windows\\temp on Linux, for tests whose launcher falls back to it; whatever the
    test adds there is removed afterwards."""
    directory = wine_session.drive_c / "windows" / "temp"
    before = set(directory.iterdir())
    yield directory
    for leftover in set(directory.iterdir()) - before:
        if leftover.is_dir():
            shutil.rmtree(leftover, ignore_errors=True)
        else:
            leftover.unlink(missing_ok=True)


@pytest.fixture
def pack_probe(pack):
    """pack_probe(config, name="probe.exe", files=None) -> Path of core-probe.exe packed like a launcher:
    it runs the launcher core and prints what the core saw as JSON (its commands are listed
    at the top of tests/tools/core_probe.cpp)."""

    def pack_core_probe(config, name="probe.exe", files=None):
        return pack(config, stub="win64/test-tools/core-probe", name=name, files=files)

    return pack_core_probe


@pytest.fixture(scope="session")
def java_home(wine_session):
    """A Windows Java runtime that runs under this Wine. Without one the tests skip, except
    in CI, where a missing runtime fails them: CI must show what it could not test."""
    home, log = fetch_real_runtime(wine_session.env())
    if home is None:
        message = "no Java runtime for Windows could be fetched or run:\n" + log
        if in_ci():
            pytest.fail("CI needs the real Java runtime; " + message, pytrace=False)
        pytest.skip(message)
    return home


@pytest.fixture(scope="session")
def stand_in_home():
    """The JNI stand-in runtime (bin\\java.exe, bin\\server\\jvm.dll), built when missing."""
    home = find_jni_stand_in()
    if home is None:
        output = build_jni_stand_in()
        home = find_jni_stand_in()
        if home is None:
            pytest.fail("cannot build the JNI stand-in:\n" + output)
    return home

