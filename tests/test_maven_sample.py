"""The Maven sample: samples/hello-maven built by Maven with the plugin of this tree, and its
exe started on a real Java runtime under Wine."""

import shutil
import subprocess
from pathlib import Path

import pytest

from harness.paths import ROOT, launcher_path

STUBS = ("app-launcher", "setup-launcher", "service-launcher", "win32/setup-launcher")
# A local repository of its own, so that the test never installs into the user's; what is
# not built here comes from the user's repository (read as a file repository) or Central.
REPO = ROOT / "build" / "maven-sample-repo"


def mvn(settings, *args, cwd=ROOT):
    done = subprocess.run(["mvn", "-B", "-q", "-s", str(settings), *args], cwd=cwd,
                          capture_output=True, text=True, timeout=900)
    assert done.returncode == 0, f"mvn {' '.join(args)} failed:\n{done.stdout}{done.stderr}"


@pytest.fixture(scope="module")
def sample_exe(tmp_path_factory):
    missing = [str(launcher_path(s)) for s in STUBS if not launcher_path(s).is_file()]
    if missing:
        pytest.skip("not built: " + ", ".join(missing) + " (make native)")
    if shutil.which("mvn") is None:
        pytest.skip("mvn is not installed")
    REPO.mkdir(parents=True, exist_ok=True)
    user_repo = (Path.home() / ".m2" / "repository").as_uri()
    repository = (f"<repository><id>user-repository</id><url>{user_repo}</url>"
                  "<snapshots><enabled>false</enabled></snapshots></repository>")
    plugin_repository = repository.replace("repository>", "pluginRepository>")
    settings = REPO / "settings.xml"
    settings.write_text(
        f"<settings><localRepository>{REPO}</localRepository><profiles><profile><id>sample</id>"
        f"<repositories>{repository}</repositories>"
        f"<pluginRepositories>{plugin_repository}</pluginRepositories>"
        "</profile></profiles><activeProfiles><activeProfile>sample</activeProfile>"
        "</activeProfiles></settings>", encoding="utf-8")
    mvn(settings, "-f", "java/pom.xml", "-DskipTests", "install")
    project = tmp_path_factory.mktemp("maven-sample") / "hello-maven"
    shutil.copytree(ROOT / "samples" / "hello-maven", project,
                    ignore=shutil.ignore_patterns("target"))
    mvn(settings, "package", cwd=project)
    return project / "target" / "hello-maven-1.0.0.exe"


def test_the_sample_greets_on_the_real_runtime(sample_exe, java_home, run, test_dir):
    exe = test_dir / sample_exe.name
    shutil.copy(sample_exe, exe)
    # The sample's search sequence looks in "jre" beside the exe first.
    (test_dir / "jre").symlink_to(java_home)
    result = run(exe, args=["from the test"], timeout=120)
    assert result.exit_code == 0, result.stdout_text + result.stderr_text
    lines = result.stdout_text.splitlines()
    assert lines[0] == "Hello from Maven"
    assert any(line.startswith("Started by ") and line.endswith("\\" + exe.name) for line in lines), lines
    assert "  [from the test]" in lines
