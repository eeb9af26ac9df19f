"""The start-up cache on real runtimes 17 and 25: a first start records, a detached maker
makes the archive after it ended, later starts map it; anything that no longer fits makes a
new one; damage and odd cache folders never change what the application does. Included
files are extracted once into the cache."""

import contextlib
import os
import shutil
import subprocess
import time
from pathlib import Path

import pytest

from harness import winpath
from harness.paths import linux_path
from service_support import launcher_pids, wait_for
from harness.java_side import RUNTIME_JAR, ROOT
from test_real_jvm import printed, probe_jars  # noqa: F401 (fixture)
from test_single_instance import holder, holder_exe  # noqa: F401 (fixtures)

RUNTIMES = {"17": "17.0.9.2", "25": "25.0.2.1"}
# kind: runtime, value of QUILLON_STARTUP_CACHE, archive file. Java 25 makes a class-data
# archive from a class list unless the AOT cache is asked for.
KINDS = {"17": ("17", None, "app.jsa"), "25": ("25", None, "app.jsa"),
         "25-aot": ("25", "aot", "app.aot")}
# The maker waits for the start, then runs java.exe at low priority on two shared cores.
MAKE_BOUND = 300


@pytest.fixture(scope="session")
def runtime_homes(wine_session):
    homes = {}
    for major, version in RUNTIMES.items():
        done = subprocess.run(["bash", str(ROOT / "scripts" / "fetch-jdk.sh"), version],
                              env=wine_session.env(), capture_output=True, text=True,
                              timeout=1800)
        assert done.returncode == 0, done.stderr
        homes[major] = Path(done.stdout.strip().splitlines()[-1])
    return homes


@pytest.fixture
def cache_app(pack, probe_jars, runtime_homes, test_dir):  # noqa: F811
    def pack_app(major, name="app.exe", **settings):
        config = {"applicationName": "Probe", "applicationType": "console",
                  "mainClass": "probe.Probe",
                  "classPath": [{"type": "S", "required": True, "value": "lib"}],
                  "searchSequence": [{"type": "A", "value": winpath(runtime_homes[major])}],
                  "includedFiles": [{"name": "runtime.jar", "source": str(RUNTIME_JAR)}],
                  **settings}
        return pack(config, name=name, files=probe_jars)

    return pack_app


@pytest.fixture
def local(test_dir):
    path = test_dir / "local"
    path.mkdir()
    return path


def cache_env(local, kind="17", **extra):
    return {"LOCALAPPDATA": winpath(local), "QUILLON_STARTUP_CACHE": KINDS[kind][1],
            "QUILLON_LOG": "yes", **extra}


def entries(local):
    """The cache entry folders of every launcher, by name."""
    root = local / "quillon" / "startup-cache"
    return sorted(p for p in root.glob("*/*") if p.is_dir() and not p.name.startswith("files-"))


def wait_for_archive(entry: Path, kind):
    deadline = time.monotonic() + MAKE_BOUND
    while time.monotonic() < deadline:
        failed = entry / "failed.txt"
        assert not failed.exists(), failed.read_text() + (entry / "make.out").read_text()
        archive = entry / KINDS[kind][2]
        if archive.exists() and not (entry / "make.job").exists():
            return archive
        time.sleep(0.5)
    pytest.fail(f"no archive in {entry} within {MAKE_BOUND} s")


# Notices of Wine, and of Java 25 about calls Wine lacks; they come with or without a cache.
WINE_NOTICES = ("wine:", "OpenJDK 64-Bit Server VM warning: Attempt to")


def console_errors(result):
    """Standard error without Wine's own notices."""
    return [line for line in result.stderr_text.splitlines()
            if not line.startswith(WINE_NOTICES)]


def app_lines(result):
    """What the probe printed, without the class-loading log lines."""
    return [line for line in printed(result) if not line.startswith("[")
            and not line.startswith("property tarvo.tempDir")
            and not line.startswith("property java.class.path")]


def start_with_archive(cache_app, run, local, kind, **settings):
    """Packs the probe, records and waits for the archive; the first result and the entry."""
    exe = cache_app(KINDS[kind][0], **settings)
    first = run(exe, args=["one"], env=cache_env(local, kind), timeout=180)
    assert first.exit_code == 0, first.stderr_text
    assert "startup cache: recording into" in first.log
    [entry] = entries(local)
    wait_for_archive(entry, kind)
    return exe, first, entry


@pytest.mark.parametrize("kind", KINDS)
def test_second_start_maps_the_archive_the_first_one_recorded(cache_app, run, local, kind):
    exe, first, entry = start_with_archive(cache_app, run, local, kind)
    assert console_errors(first) == []

    second = run(exe, args=["one"], timeout=180,
                 env=cache_env(local, kind, JAVA_TOOL_OPTIONS="-Xlog:class+load=info"))
    assert second.exit_code == 0, second.stderr_text
    assert f"startup cache: using {winpath(entry)}\\{KINDS[kind][2]}" in second.log
    # The application's own class comes out of the archive.
    assert any("probe.Probe source: shared objects file" in line for line in printed(second))
    assert app_lines(second) == app_lines(first)


@pytest.mark.parametrize("change", ["jar", "option", "runtime"])
def test_a_changed_class_path_option_or_runtime_makes_a_new_archive(cache_app, run, local,
                                                                    test_dir, runtime_homes,
                                                                    change):
    # The runtime is found through a link, so that another one can take its place unseen by
    # the launcher's configuration.
    runtime = test_dir / "jre"
    runtime.symlink_to(runtime_homes["17"], target_is_directory=True)
    exe, first, entry = start_with_archive(
        cache_app, run, local, "17", searchSequence=[{"type": "A", "value": winpath(runtime)}])
    if change == "runtime":
        runtime.unlink()
        runtime.symlink_to(runtime_homes["25"], target_is_directory=True)
    elif change == "jar":
        helper = test_dir / "lib" / "helper.jar"
        os.utime(helper, (time.time() + 10, time.time() + 10))
    else:
        (test_dir / "app.vmoptions").write_text("-Xmx200m\n")
    again = run(exe, args=["one"], env=cache_env(local), timeout=180)
    assert again.exit_code == 0, again.stderr_text
    assert "startup cache: recording into" in again.log
    assert app_lines(again) == app_lines(first)
    new = [e for e in entries(local) if e != entry]
    assert len(new) == 1
    wait_for_archive(new[0], "17")
    # Once the new archive exists, the old entry is removed.
    # The maker removes it right after it placed the new archive.
    deadline = time.monotonic() + MAKE_BOUND
    while entry.exists() and time.monotonic() < deadline:
        time.sleep(0.5)
    assert not entry.exists()
    third = run(exe, args=["one"], env=cache_env(local), timeout=180)
    assert "startup cache: using" in third.log
    assert app_lines(third) == app_lines(first)


@pytest.mark.parametrize("kind", KINDS)
@pytest.mark.parametrize("damage", ["truncated", "garbage"])
def test_a_damaged_archive_changes_nothing_the_application_sees(cache_app, run, local, kind,
                                                                damage):
    exe, first, entry = start_with_archive(cache_app, run, local, kind)
    archive = entry / KINDS[kind][2]
    archive.chmod(0o644)
    data = archive.read_bytes()
    archive.write_bytes(data[:len(data) // 3] if damage == "truncated" else b"\x00" * 4096)
    result = run(exe, args=["one"], env=cache_env(local, kind), timeout=180)
    assert result.exit_code == 0
    assert console_errors(result) == []
    assert app_lines(result) == app_lines(first)


def test_unusable_cache_folders_only_mean_no_archive(cache_app, run, local, test_dir):
    exe = cache_app("17")
    (local / "quillon").write_text("a file where the cache folder would be")
    result = run(exe, args=["one"], env=cache_env(local), timeout=180)
    assert result.exit_code == 0, result.stderr_text
    assert "startup cache skipped:" in result.log
    assert "helper: found in a scanned directory" in printed(result)


def test_without_the_variable_the_cache_is_in_the_profile(cache_app, run, wine_session):
    """An empty LOCALAPPDATA (a service's environment may lack it) leaves the folder to the
    shell, which the launcher binds only then."""
    exe = cache_app("17")
    result = run(exe, args=["one"], env=cache_env(Path("/unused"), LOCALAPPDATA=""),
                 timeout=180)
    assert result.exit_code == 0, result.stderr_text
    [line] = [line for line in result.log.splitlines()
              if line.startswith("startup cache: recording into ")]
    entry = linux_path(line.split(" into ", 1)[1], wine_session.drive_c).parent
    profile = next((wine_session.drive_c / "users").glob("*/AppData/Local"))
    assert entry.parents[2] == profile / "quillon"
    wait_for_archive(entry, "17")
    shutil.rmtree(entry.parent)


@contextlib.contextmanager
def immutable(directory: Path):
    """Nothing can be created, removed or renamed in `directory`, not even by root (the tests
    run as root, to whom file modes are no obstacle)."""
    subprocess.run(["chattr", "+i", str(directory)], check=True)
    try:
        yield
    finally:
        subprocess.run(["chattr", "-i", str(directory)], check=True)


@pytest.mark.parametrize("when", ["before the first start", "after the first start"])
def test_a_read_only_cache_folder_only_means_no_archive(cache_app, run, local, test_dir, when):
    exe = cache_app("17")
    env = cache_env(local)
    if when == "before the first start":
        locked = local / "quillon"
        locked.mkdir()
        reference = None
    else:
        reference = run(exe, args=["one"], env=env, timeout=180)
        assert reference.exit_code == 0, reference.stderr_text
        [entry] = entries(local)
        wait_for_archive(entry, "17")
        locked = entry.parent
        # A changed option needs a new entry beside the old one.
        (test_dir / "app.vmoptions").write_text("-Xmx200m\n")
    with immutable(locked):
        result = run(exe, args=["one"], env=env, timeout=180)
        assert result.exit_code == 0, result.stderr_text
        assert console_errors(result) == []
        assert "startup cache skipped:" in result.log
        assert "startup cache: recording" not in result.log
        assert "helper: found in a scanned directory" in printed(result)
        if reference is not None:
            assert app_lines(result) == app_lines(reference)
        assert wait_for(lambda: not launcher_pids(test_dir), timeout=60), "a process is left"


def test_two_starts_at_once_make_one_archive(cache_app, start, run, local, tmp_dir):
    exe = cache_app("17")
    runs = [start(exe, args=["one"], env=cache_env(local), timeout=180) for _ in range(2)]
    results = [r.wait() for r in runs]
    for result in results:
        assert result.exit_code == 0, result.stderr_text
        assert "helper: found in a scanned directory" in printed(result)
    # Side by side, a run's log is told apart from the other's by nothing but its content.
    logs = [p.read_text(errors="replace") for p in sorted(tmp_dir.glob("qln_nlog_*"))]
    assert len(logs) == 2
    assert sum("startup cache: recording into" in log for log in logs) == 1
    # The later of the two waited for the extraction of the other instead of making its own.
    assert len(included_dirs(local)) == 1
    [entry] = entries(local)
    wait_for_archive(entry, "17")


@pytest.mark.parametrize("switch", ["setting", "environment"])
def test_switched_off_behaves_as_without_the_cache(cache_app, run, local, tmp_dir, switch):
    if switch == "setting":
        exe = cache_app("17", startupCache=False)
        env = cache_env(local)
    else:
        exe = cache_app("17")
        env = cache_env(local, QUILLON_STARTUP_CACHE="off")
    result = run(exe, args=["one"], env=env, timeout=180)
    assert result.exit_code == 0, result.stderr_text
    assert "startup cache skipped: switched off" in result.log
    assert "startup cache option" not in result.log
    assert not (local / "quillon").exists()
    temp_dir = [line for line in printed(result) if line.startswith("property tarvo.tempDir")]
    assert temp_dir[0].split(": ", 1)[1].startswith(winpath(tmp_dir) + "\\")


def included_dirs(local):
    return sorted(p for p in (local / "quillon" / "startup-cache").glob("*/files-*")
                  if p.is_dir())


def test_included_files_are_extracted_once_and_repaired(cache_app, run, local, test_dir):
    exe = cache_app("17", startupCache=True)
    env = cache_env(local)
    first = run(exe, args=["one"], env=env, timeout=180)
    assert first.exit_code == 0, first.stderr_text
    [files] = included_dirs(local)
    jar = files / "runtime.jar"
    stamp = jar.stat().st_mtime_ns
    assert f"property tarvo.tempDir: {winpath(files)}" in printed(first)
    [entry] = entries(local)
    wait_for_archive(entry, "17")

    second = run(exe, args=["one"], env=env, timeout=180)
    assert "included files found complete" in second.log
    assert jar.stat().st_mtime_ns == stamp
    assert app_lines(second) == app_lines(first)

    jar.write_bytes(jar.read_bytes()[:100])
    repaired = run(exe, args=["one"], env=env, timeout=180)
    assert repaired.exit_code == 0, repaired.stderr_text
    assert "included files extracted" in repaired.log
    assert app_lines(repaired) == app_lines(first)
    # The damaged copy went once the new one was complete.
    [fresh] = included_dirs(local)
    assert fresh != files
    assert (fresh / "runtime.jar").stat().st_size == RUNTIME_JAR.stat().st_size


def test_two_launcher_builds_keep_their_included_files_apart(cache_app, run, local, test_dir):
    a = cache_app("17", name="a.exe")
    b = cache_app("17", name="b.exe", applicationName="Other build")
    for exe in (a, b):
        result = run(exe, args=["one"], env=cache_env(local), timeout=180)
        assert result.exit_code == 0, result.stderr_text
    assert len(included_dirs(local)) == 2
    # Each launcher has its own archive too; both makers finish.
    both = entries(local)
    assert len({entry.parent for entry in both}) == 2
    for entry in both:
        wait_for_archive(entry, "17")


def test_an_extraction_in_progress_is_left_alone(cache_app, run, local, holder):
    """Another build of the same launcher that is still extracting holds its folder's lock:
    the removal of unused extractions passes it by, and takes it once the lock is free."""
    exe = cache_app("17")
    env = cache_env(local)
    assert run(exe, args=["one"], env=env, timeout=180).exit_code == 0
    [files] = included_dirs(local)
    other = files.parent / "files-0123456789abcdef"
    other.mkdir()
    (other / "runtime.jar").write_bytes(b"half written")
    extracting = holder(notify=False, window=False, lock_file=winpath(other) + ".lock")

    again = run(exe, args=["one"], env=env, timeout=180)
    assert again.exit_code == 0, again.stderr_text
    assert (other / "runtime.jar").read_bytes() == b"half written"

    extracting.stop()
    assert run(exe, args=["one"], env=env, timeout=180).exit_code == 0
    assert included_dirs(local) == [files]
    assert not Path(f"{other}.lock").exists()
    [entry] = entries(local)
    wait_for_archive(entry, "17")


@pytest.mark.parametrize("args, code", [(["one"], 0), (["--exit", "7"], 7)],
                         ids=["main returns", "System.exit"])
def test_a_run_served_from_the_cache_removes_its_own_temp_directory(cache_app, run, local,
                                                                    tmp_dir, args, code):
    # No helper copy may do the launcher's work here: the seam keeps any copy from starting,
    # so what is gone at the exit went with the process itself.
    env = cache_env(local, QLN_TEST_NO_CLEANUP_AFTER_EXIT="1")
    result = run(cache_app("17"), args=args, env=env, timeout=180)
    assert result.exit_code == code, result.stderr_text
    assert "included files extracted" in result.log
    assert "Temp dir3:" in result.log
    assert sorted(p.name for p in tmp_dir.glob("tvo*")) == []
    [entry] = entries(local)
    wait_for_archive(entry, "17")

    # Without the cache the runtime holds the extracted jars to the end: only the copy
    # could remove them, and the seam kept it from starting.
    env["QUILLON_STARTUP_CACHE"] = "off"
    result = run(cache_app("17"), args=args, env=env, timeout=180)
    assert result.exit_code == code, result.stderr_text
    assert list(tmp_dir.glob("tvo*.tmp_dir*"))
