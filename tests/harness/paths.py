"""Where the build puts what the tests run, and how Wine names Linux paths."""

import os
import subprocess
from pathlib import Path, PureWindowsPath

ROOT = Path(__file__).resolve().parents[2]
DIST = ROOT / "build" / "dist"
PACKER_JAR = DIST / "packer.jar"
# `make build` copies the tools here; a plain cmake build leaves them in the build tree.
TOOL_DIRS = (DIST / "win64" / "test-tools", ROOT / "build" / "win64" / "tests" / "tools")
TOOL_TARGETS = ("runner", "msgbox-probe")


def winpath(path) -> str:
    """The Windows form of a Linux path: Wine maps the Linux root to drive Z:."""
    return "Z:" + str(Path(path).absolute()).replace("/", "\\")


def linux_path(windows: str, drive_c: Path):
    """Where a Windows path on drive C: or Z: lies on Linux; None for other drives."""
    drive, _, rest = windows.partition(":")
    parts = [p for p in rest.split("\\") if p]
    if drive.upper() == "Z":
        return Path("/", *parts)
    if drive.upper() == "C":
        return Path(drive_c, *parts)
    return None


def is_windows_path(text: str) -> bool:
    return bool(PureWindowsPath(text).drive)


def launcher_path(stub: str) -> Path:
    """A built launcher: "app-launcher" means win64; "win32/setup-launcher" names the folder."""
    relative = stub if "/" in stub else f"win64/{stub}"
    # The tests run the seamed twin of a shipped stub when the build made one.
    folder, _, name = relative.rpartition("/")
    seamed = DIST / folder / "test-stubs" / f"{name}.exe"
    if seamed.is_file():
        return seamed
    return DIST / f"{relative}.exe"


def _newest(candidates):
    present = [p for p in candidates if p.is_file()]
    return max(present, key=lambda p: p.stat().st_mtime) if present else None


def tool_path(name: str):
    """The newest built copy of a test tool, or None."""
    return _newest(d / f"{name}.exe" for d in TOOL_DIRS)


def build_tools() -> str:
    """Builds the test tools with cmake; returns the build output for error messages."""
    steps = (
        ["cmake", "--preset", "win64"],
        ["cmake", "--build", "--preset", "win64", "--target", *TOOL_TARGETS],
    )
    output = []
    for step in steps:
        done = subprocess.run(step, cwd=ROOT, capture_output=True, text=True,
                              env={**os.environ, "LC_ALL": "C.UTF-8"})
        output.append(done.stdout + done.stderr)
        if done.returncode != 0:
            break
    return "".join(output)
