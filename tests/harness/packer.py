"""Packing launchers with the Java packer for a test."""

import json
import shutil
import subprocess
from pathlib import Path

from .paths import PACKER_JAR, launcher_path


class PackError(RuntimeError):
    pass


def missing_packer_parts(stub: str) -> list:
    """What a pack with this stub needs and the build has not made."""
    missing = [] if shutil.which("java") else ["java"]
    for path in (PACKER_JAR, launcher_path(stub)):
        if not path.is_file():
            missing.append(str(path))
    return missing


def write_files(directory: Path, files) -> None:
    """Writes {relative path: str or bytes}; str is written as UTF-8."""
    for name, content in (files or {}).items():
        path = directory / name
        path.parent.mkdir(parents=True, exist_ok=True)
        if isinstance(content, str):
            path.write_text(content, encoding="utf-8")
        else:
            path.write_bytes(content)


def pack(directory: Path, config: dict, stub: str = "app-launcher", name: str = "app.exe",
         files=None) -> Path:
    """Writes `files` and the config into `directory`, packs `stub` into `directory/name`
    and returns that path. Relative paths in the config are relative to `directory`."""
    directory = Path(directory)
    write_files(directory, files)
    exe = directory / name
    exe.parent.mkdir(parents=True, exist_ok=True)
    config_path = directory / f"{name}.pack.json"
    config_path.write_text(json.dumps(config, ensure_ascii=False, indent=1), encoding="utf-8")
    done = subprocess.run(
        ["java", "-jar", str(PACKER_JAR), "pack", "--stub", str(launcher_path(stub)),
         "--config", str(config_path), "--out", str(exe)],
        cwd=directory, capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise PackError(f"packer failed ({done.returncode}): {done.stdout}{done.stderr}")
    return exe


def inspect(exe) -> dict:
    """The packer's JSON description of a packed executable."""
    done = subprocess.run(["java", "-jar", str(PACKER_JAR), "inspect", "--json", str(exe)],
                          capture_output=True, text=True, timeout=120)
    if done.returncode != 0:
        raise PackError(f"inspect failed ({done.returncode}): {done.stdout}{done.stderr}")
    return json.loads(done.stdout)
