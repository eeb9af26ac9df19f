"""What the launch tests put behind a launcher: the JNI stand-in runtime of tests/tools, a real
Java runtime fetched by scripts/fetch-jdk.sh, and small Java programs compiled for it."""

import json
import os
import shutil
import subprocess
import zipfile
from pathlib import Path

from .paths import DIST, ROOT

JNI_STAND_IN_TARGETS = ("jni-stand-in", "jni-stand-in-java", "jni-stand-in-javaw")
JNI_STAND_IN_HOMES = (DIST / "win64" / "test-tools" / "jni-stand-in",
                      ROOT / "build" / "win64" / "tests" / "tools" / "jni-stand-in")
RUNTIME_JAR = DIST / "runtime.jar"


def _stand_in_complete(home: Path) -> bool:
    return all((home / p).is_file()
               for p in ("bin/java.exe", "bin/javaw.exe", "bin/server/jvm.dll"))


def find_jni_stand_in():
    """The newest complete stand-in runtime home, or None."""
    homes = [h for h in JNI_STAND_IN_HOMES if _stand_in_complete(h)]
    if not homes:
        return None
    return max(homes, key=lambda h: (h / "bin/server/jvm.dll").stat().st_mtime)


def build_jni_stand_in() -> str:
    steps = (["cmake", "--preset", "win64"],
             ["cmake", "--build", "--preset", "win64", "--target", *JNI_STAND_IN_TARGETS])
    output = []
    for step in steps:
        done = subprocess.run(step, cwd=ROOT, capture_output=True, text=True)
        output.append(done.stdout + done.stderr)
        if done.returncode != 0:
            break
    return "".join(output)


def read_record(path: Path) -> list:
    """The stand-in's calls, one dict each, in order; [] when it recorded nothing."""
    if not path.is_file():
        return []
    return [json.loads(line) for line in path.read_text(encoding="utf-8").splitlines() if line]


def fetch_real_runtime(wine_env: dict):
    """Home of a Windows Java runtime that runs under this Wine (scripts/fetch-jdk.sh), and
    the script's log; the home is None when none could be fetched."""
    done = subprocess.run(["bash", str(ROOT / "scripts" / "fetch-jdk.sh")], env=wine_env,
                          capture_output=True, text=True, timeout=1800)
    lines = done.stdout.strip().splitlines()
    if done.returncode != 0 or not lines:
        return None, done.stderr
    return Path(lines[-1]), done.stderr


def compile_java(sources: dict, jar: Path, work: Path, classpath=()) -> Path:
    """Compiles {relative .java path: source} as Java 8 bytecode into `jar`."""
    src = work / "src"
    classes = work / "classes"
    for name, text in sources.items():
        path = src / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text, encoding="utf-8")
    classes.mkdir(parents=True, exist_ok=True)
    command = ["javac", "--release", "8", "-Xlint:-options", "-encoding", "UTF-8",
               "-d", str(classes)]
    if classpath:
        command += ["-cp", os.pathsep.join(str(p) for p in classpath)]
    command += [str(src / name) for name in sources]
    subprocess.run(command, check=True, capture_output=True, text=True)
    jar.parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(jar, "w") as out:
        for path in sorted(classes.rglob("*.class")):
            out.write(path, path.relative_to(classes).as_posix())
    shutil.rmtree(src)
    shutil.rmtree(classes)
    return jar
