"""A console application packed with the console subsystem shares the console of the prompt
that starts it: the prompt waits for it, sees what it prints and gets its exit code."""

import subprocess

import pytest

from harness import winpath
from harness.java_side import RUNTIME_JAR, compile_java

pefile = pytest.importorskip("pefile")

TOOL = r'''
package tool;

public class Tool {
    public static void main(String[] args) {
        System.out.println("tool says hello to the console");
        System.exit(Integer.parseInt(args[0]));
    }
}
'''


@pytest.fixture(scope="module")
def tool_jar(tmp_path_factory):
    if not RUNTIME_JAR.is_file():
        pytest.skip(f"{RUNTIME_JAR} is not built (make build)")
    work = tmp_path_factory.mktemp("tool")
    return compile_java({"tool/Tool.java": TOOL}, work / "lib" / "tool.jar", work / "w",
                        classpath=[RUNTIME_JAR]).read_bytes()


def prompt(wine_session, cwd, command):
    """Runs `command` as cmd.exe's command line (the rules of its prompt: it waits only for
    console programs) and returns what the console showed."""
    done = subprocess.run(["wine", "cmd", "/v:on", "/c", command], stdin=subprocess.DEVNULL,
                          env=wine_session.env(), cwd=cwd, capture_output=True, timeout=180)
    return done.stdout.decode("cp1252", errors="replace").replace("\r\n", "\n")


def test_console_tool_writes_to_the_prompt_and_returns_its_exit_code(
        pack, wine_session, tool_jar, java_home, test_dir):
    exe = pack({"applicationName": "Tool", "applicationType": "console", "mainClass": "tool.Tool",
                "classPath": [{"type": "S", "required": True, "value": "lib"}],
                "searchSequence": [{"type": "A", "value": winpath(java_home)}],
                "includedFiles": [{"name": "runtime.jar", "source": str(RUNTIME_JAR)}]},
               name="tool.exe", files={"lib/tool.jar": tool_jar})
    shown = prompt(wine_session, exe.parent, f"{exe.name} 42 & echo exit code !errorlevel!")
    assert "tool says hello to the console" in shown
    assert "exit code 42" in shown
    # The prompt waited: the tool's line comes before the echo.
    assert shown.index("tool says hello") < shown.index("exit code 42")
    assert pefile.PE(str(exe), fast_load=True).OPTIONAL_HEADER.Subsystem == 3

