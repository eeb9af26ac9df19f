"""Java runtime homes for the runtime tests, built from the stand-ins of tests/tools.

The search tests need runtimes that print chosen versions, fail on purpose or are of the
other processor type, which no real runtime does on demand (the tests on the real runtime use
conftest's java_home). A home here holds java_stand_in.cpp as
bin\\java.exe (and javaw.exe) with a "stand-in.cfg" saying what it prints and how it ends,
jvm_stand_in.c as bin\\<type>\\jvm.dll (or a 32-bit copy, or one without JNI_CreateJavaVM),
and unpack200_stand_in.cpp as bin\\unpack200.exe when asked.
"""

import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from harness import ROOT, winpath
from harness.paths import TOOL_DIRS

STAND_INS = {
    "java": "java-stand-in.exe",
    "unpack200": "unpack200-stand-in.exe",
    "jvm": "jvm-stand-in.dll",
    "jvm-without-entry": "jvm-without-entry.dll",
    "jvm-x86": "jvm-x86.dll",
}
TARGETS = ("java-stand-in", "unpack200-stand-in", "jvm-stand-in", "jvm-without-entry", "jvm-x86",
           "runtime-probe")
CACHE_KEY = r"HKCU\SOFTWARE\brightwell\tarvo\jvms"
# Seconds between 1601 and 1970 in the 100 ns ticks of a FILETIME.
FILETIME_EPOCH = 116444736000000000


def _find(file_name):
    present = [d / file_name for d in TOOL_DIRS if (d / file_name).is_file()]
    return max(present, key=lambda p: p.stat().st_mtime) if present else None


@pytest.fixture(scope="session")
def stand_ins() -> dict:
    """{name: path} of the stand-ins; builds them when the build has not."""
    if any(_find(f) is None for f in STAND_INS.values()):
        done = subprocess.run(["cmake", "--build", "--preset", "win64", "--target", *TARGETS],
                              cwd=ROOT, capture_output=True, text=True)
        if any(_find(f) is None for f in STAND_INS.values()):
            pytest.fail("cannot build the runtime stand-ins:\n" + done.stdout + done.stderr)
    return {name: _find(f) for name, f in STAND_INS.items()}


def version_line(version: str) -> str:
    return f'java version "{version}"'


class RuntimeHome:
    """A runtime home directory with stand-ins in it."""

    def __init__(self, root: Path, stand_ins: dict):
        self.root = root
        self._stand_ins = stand_ins

    @property
    def bin(self) -> Path:
        return self.root / "bin"

    @property
    def java_exe(self) -> Path:
        return self.bin / "java.exe"

    def win(self, relative="") -> str:
        """The Windows path of the home or of a file in it."""
        return winpath(self.root / relative) if relative else winpath(self.root)

    def checked_path(self, relative=r"bin\java.exe") -> str:
        """The path as the launcher normalizes it: full and lower-case."""
        return winpath(self.root).lower() + "\\" + relative.lower()

    def set_output(self, lines=(), exit_code=0, hang=False, linger_ms=0):
        """What java.exe prints on standard error and how it ends; with `linger_ms` it leaves
        a process behind that holds its inherited handles that long."""
        config = [f"err {line}" for line in lines] + [f"exit {exit_code}"]
        if hang:
            config.append("hang")
        if linger_ms:
            config.append(f"linger {linger_ms}")
        (self.bin / "stand-in.cfg").write_text("\n".join(config) + "\n", encoding="utf-8")

    def probe_runs(self) -> list:
        """The command lines java.exe was started with, oldest first."""
        runs = self.bin / "stand-in-runs.txt"
        return runs.read_text(encoding="utf-8").splitlines() if runs.exists() else []

    def add_jvm(self, sub_dir="client", kind="jvm"):
        """bin\\<sub_dir>\\jvm.dll: "jvm", "jvm-x86" or "jvm-without-entry"."""
        target = self.bin.joinpath(*sub_dir.split("\\"), "jvm.dll")
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(self._stand_ins[kind], target)

    def add_file(self, relative: str, content=b""):
        path = self.root / Path(*relative.split("\\"))
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content if isinstance(content, bytes) else content.encode())
        return path

    def touch_later(self, seconds=60):
        """Moves java.exe's last-write time on, as an update of the runtime would."""
        stat = self.java_exe.stat()
        os.utime(self.java_exe, ns=(stat.st_atime_ns, stat.st_mtime_ns + seconds * 10**9))

    def last_write_time(self) -> bytes:
        """java.exe's last-write time as the 8 bytes of a FILETIME."""
        ticks = self.java_exe.stat().st_mtime_ns // 100 + FILETIME_EPOCH
        return ticks.to_bytes(8, "little")

    def cache_key(self, relative=r"bin\java.exe") -> str:
        return CACHE_KEY + "\\" + self.checked_path(relative).replace("\\", "/")


def make_home(root: Path, stand_ins: dict, version="1.8.0_45", *, lines=None, exit_code=0,
              hang=False, java=True, javaw=True, jvms=("client",), jvm_kind="jvm",
              unpack200=False) -> RuntimeHome:
    """A runtime home at `root`. java.exe prints `java version "<version>"` unless `lines`
    gives the whole output; `jvms` names the sub-directories of bin that get a jvm.dll."""
    home = RuntimeHome(Path(root), stand_ins)
    home.bin.mkdir(parents=True, exist_ok=True)
    if java:
        shutil.copyfile(stand_ins["java"], home.java_exe)
        home.set_output([version_line(version)] if lines is None else lines, exit_code, hang)
    if javaw:
        shutil.copyfile(stand_ins["java"], home.bin / "javaw.exe")
    for sub_dir in jvms:
        home.add_jvm(sub_dir, jvm_kind)
    if unpack200:
        shutil.copyfile(stand_ins["unpack200"], home.bin / "unpack200.exe")
    return home


@pytest.fixture
def runtime_home(stand_ins, test_dir):
    """runtime_home(relative_dir, version="1.8.0_45", **make_home options) -> RuntimeHome
    under the test directory."""

    def make(relative, version="1.8.0_45", **options):
        return make_home(test_dir / relative, stand_ins, version, **options)

    return make


def log_lines(result, prefix: str) -> list:
    """The log lines starting with `prefix`, without it."""
    return [line[len(prefix):] for line in result.log.splitlines() if line.startswith(prefix)]


def path_settings(result) -> list:
    """The values LoadDLL set PATH to, in order."""
    return [line for line in log_lines(result, "Setting PATH ")
            if not line.startswith("(native libs)")]


def probe_values(result) -> dict:
    """The "name=value" lines runtime-probe.exe printed."""
    return dict(line.split("=", 1) for line in result.stdout_text.splitlines() if "=" in line)


def checked_exes(result) -> list:
    """The java.exe paths checkJavaExe was given, in order, lower-cased."""
    pattern = re.compile(r"checkJavaExe \((.*), \[out\], .*\)$")
    return [m.group(1).lower() for m in map(pattern.match, result.log.splitlines()) if m]


def shown_messages(result) -> list:
    """The texts of the message boxes, without the log line appended to them."""
    return [re.sub(r"\n\nLog: .*\Z", "", box.text, flags=re.S) for box in result.boxes]


def runtime_loaded(result) -> bool:
    """Whether LoadDLL loaded a JVM library; otherwise the launcher must have ended with 83.
    What a launcher does with a loaded library is not the business of these tests."""
    if "Loading of JVM-DLL successful" in result.log:
        assert result.exit_code != 83
        return True
    assert result.exit_code == 83
    return False


@pytest.fixture
def runtime_probe(pack):
    """runtime_probe(keys, name="probe.exe") -> runtime-probe.exe packed with the keys (and
    key 107 = 0 unless given); its commands are listed at the top of runtime_probe.cpp."""

    def make(keys, name="probe.exe"):
        return pack({"keys": {"107": "0", **keys}}, stub="win64/test-tools/runtime-probe",
                    name=name)

    return make
