"""Starting programs under Wine through runner.exe and collecting what they did."""

import json
import os
import re
import signal
import subprocess
import tempfile
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional

from .paths import is_windows_path, linux_path, winpath
from .wine import DEFAULT_LOCALE, WineSession

# The runner's exit code when the timeout ended the child (STILL_ACTIVE).
TIMED_OUT = 259
# Wine puts these into every process's environment, whatever block its parent passed, and it
# overrides SystemRoot with its own value.
WINE_ADDED_ENV = ("SystemDrive", "SystemRoot")
WINE_ADDED_ENV_PREFIX = "WINE"

# ANSI code pages of the locales the tests use: narrow console and log text is in these.
ANSI_CODE_PAGES = {"en_US": "cp1252", "en_IN": "cp1252", "de_AT": "cp1252", "de_DE": "cp1252",
                   "fr_FR": "cp1252"}

LOG_NAME = re.compile(r"qln_nlog_(\d+)$")


def decode_text(data: bytes, encoding: str) -> str:
    return data.decode(encoding, errors="replace").replace("\r\n", "\n")


class HarnessError(RuntimeError):
    """The runner could not do what the test asked (bad spec, program did not start)."""


def is_wine_added(name: str) -> bool:
    return name.upper().startswith(WINE_ADDED_ENV_PREFIX) or name in WINE_ADDED_ENV


def default_env(tmp_dir) -> dict:
    """A minimal environment: temp directories in the test's own folder, the system
    directories on PATH."""
    temp = winpath(tmp_dir)
    return {
        "TMP": temp,
        "TEMP": temp,
        "PATH": r"C:\windows\system32;C:\windows",
        "SystemRoot": r"C:\windows",
        "windir": r"C:\windows",
        "SystemDrive": "C:",
        # Tests of the start-up cache switch it on; elsewhere it would start background
        # makers and move the included files out of the test's temp directory.
        "QUILLON_STARTUP_CACHE": "off",
    }


def quote_arg(arg: str) -> str:
    """Quotes one argument the way CommandLineToArgvW and the C runtime read it back."""
    if arg and not re.search(r'[ \t\n\v"]', arg):
        return arg
    out, backslashes = '"', 0
    for ch in arg:
        if ch == "\\":
            backslashes += 1
        elif ch == '"':
            out += "\\" * (2 * backslashes + 1) + '"'
            backslashes = 0
        else:
            out += "\\" * backslashes + ch
            backslashes = 0
    return out + "\\" * (2 * backslashes) + '"'


def build_cmdline(exe: str, args=()) -> str:
    return " ".join([f'"{exe}"', *(quote_arg(a) for a in args)])


def _escape(value: str) -> str:
    # The spec format percent-encodes only what would break a line, and '%' itself.
    return value.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")


def write_spec(path: Path, *, exe=None, cmdline=None, cwd=None, env=(), inherit=(),
               timeout=None, answers=(), result=None):
    lines = []

    def add(key, value):
        lines.append(f"{key}={_escape(str(value))}")

    if exe is not None:
        add("exe", exe)
    if cmdline is not None:
        add("cmdline", cmdline)
    if cwd is not None:
        add("cwd", cwd)
    for name, value in env.items() if isinstance(env, dict) else env:
        add("env", f"{name}={value}")
    for name in inherit:
        add("inherit", name)
    if timeout:
        add("timeout", timeout)
    for answer in answers:
        add("answer", answer.upper())
    if result is not None:
        add("result", result)
    path.write_text("\n".join(lines) + "\n", encoding="utf-8")


@dataclass(frozen=True)
class Box:
    """A message box as the runner saw it. `icon` is "error", "warning", "question",
    "information", "unknown" or None; `answered` is False when no answer was queued and the
    default button was pressed; `expected` names a queued answer the box had no button for."""
    caption: str
    text: str
    buttons: tuple
    default: Optional[str]
    icon: Optional[str]
    pressed: Optional[str]
    answered: bool
    expected: Optional[str]


@dataclass
class Result:
    exit_code: Optional[int]
    stdout: bytes
    stderr: bytes
    boxes: list
    log: Optional[str]
    log_path: Optional[Path]
    timed_out: bool = False
    dialogs: list = field(default_factory=list)
    unused_answers: list = field(default_factory=list)
    logs: list = field(default_factory=list)
    encoding: str = "cp1252"

    def _text(self, data: bytes) -> str:
        return decode_text(data, self.encoding)

    @property
    def stdout_text(self) -> str:
        """Standard output in the locale's ANSI code page, CR LF turned into LF."""
        return self._text(self.stdout)

    @property
    def stderr_text(self) -> str:
        return self._text(self.stderr)

    @property
    def box(self) -> Box:
        """The only message box; fails when there was not exactly one."""
        assert len(self.boxes) == 1, f"expected one message box, got {self.boxes}"
        return self.boxes[0]


def _log_files(directory) -> dict:
    found = {}
    if directory is not None and directory.is_dir():
        for entry in directory.iterdir():
            if LOG_NAME.match(entry.name) and entry.is_file():
                stat = entry.stat()
                found[entry] = (stat.st_mtime_ns, stat.st_size)
    return found


class Running:
    """A started program; `wait` collects its Result."""

    def __init__(self, session: WineSession, runner: Path, run_dir: Path, tmp_dir: Path, *,
                 exe, args=None, cmdline=None, env=None, default_environment=True, inherit=(),
                 cwd=None, lc_all=DEFAULT_LOCALE, answers=(), timeout=30, stdin=None,
                 check_answers=True):
        session.check_locale(lc_all)
        self._check_answers = check_answers
        self._timeout = timeout
        self._encoding = ANSI_CODE_PAGES.get(lc_all.split(".")[0], "cp1252")
        exe_text = self._windows(run_dir, exe)
        if cmdline is None:
            cmdline = build_cmdline(exe_text, args or ())
        elif args:
            raise ValueError("give either args or cmdline")
        environment = default_env(tmp_dir) if default_environment else {}
        for name, value in (env or {}).items():
            if value is None:
                environment.pop(name, None)
            else:
                environment[name] = value
        # The log lies in the directory TMP names, or directly under C:\ when TMP is unset or
        # names no directory.
        self._log_dir = linux_path(environment.get("TMP", "C:\\"), session.drive_c)
        if self._log_dir is None or not self._log_dir.is_dir():
            self._log_dir = session.drive_c
        # The runner's own files stay out of the way of tests that look at the folder.
        files_dir = run_dir / ".runs"
        files_dir.mkdir(parents=True, exist_ok=True)
        handle, name = tempfile.mkstemp(prefix="run-", suffix=".spec", dir=files_dir)
        os.close(handle)
        spec = Path(name)
        self._result_path = spec.with_suffix(".json")
        self._out_path = spec.with_suffix(".out")
        self._err_path = spec.with_suffix(".err")
        if cwd is None:
            cwd = run_dir
        write_spec(spec, exe=exe_text, cmdline=cmdline,
                   cwd=self._windows(run_dir, cwd),
                   env=environment, inherit=inherit, timeout=timeout, answers=answers,
                   result=winpath(self._result_path))
        self._logs_before = _log_files(self._log_dir)
        stdin_file = None
        if stdin is not None:
            stdin_path = spec.with_suffix(".in")
            stdin_path.write_bytes(stdin)
            stdin_file = open(stdin_path, "rb")
        # Wine takes its DLL overrides from the Linux environment a process inherits, never
        # from the Windows block: the runner gets them there, and passes them on.
        unix_env = session.env(lc_all)
        if environment.get("WINEDLLOVERRIDES"):
            unix_env["WINEDLLOVERRIDES"] = environment["WINEDLLOVERRIDES"]
        # Output goes to files: processes the child leaves behind may hold it open.
        with open(self._out_path, "wb") as out, open(self._err_path, "wb") as err:
            self._process = subprocess.Popen(
                ["wine", winpath(runner), winpath(spec)], env=unix_env, cwd=run_dir,
                stdin=stdin_file or subprocess.DEVNULL, stdout=out, stderr=err,
                start_new_session=True)
        if stdin_file:
            stdin_file.close()

    @staticmethod
    def _windows(run_dir: Path, value) -> str:
        """Windows paths pass unchanged; Linux paths are relative to the test directory."""
        if isinstance(value, str) and is_windows_path(value):
            return value
        return winpath(Path(run_dir, value))

    def wait(self) -> Result:
        # The runner ends the child itself at the timeout; the margin covers Wine's start-up.
        limit = self._timeout + 60 if self._timeout else None
        try:
            self._process.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            self.kill()
            raise HarnessError(f"runner did not end within {limit} s")
        if not self._result_path.exists():
            raise HarnessError("runner wrote no result: "
                               + self._err_path.read_bytes().decode(errors="replace"))
        report = json.loads(self._result_path.read_text(encoding="ascii"))
        if report["error"]:
            raise HarnessError("runner: " + report["error"])
        boxes = [Box(b["caption"], b["text"], tuple(b["buttons"]), b["default"], b["icon"],
                     b["pressed"], b["answered"], b["expected"]) for b in report["boxes"]]
        logs = self._new_logs()
        log_path = logs[-1] if logs else None
        result = Result(
            exit_code=report["exitCode"], stdout=self._out_path.read_bytes(),
            stderr=self._err_path.read_bytes(), boxes=boxes,
            log=decode_text(log_path.read_bytes(), "utf-8") if log_path else None,
            log_path=log_path, timed_out=report["timedOut"], dialogs=report["dialogs"],
            unused_answers=report["unusedAnswers"], logs=logs, encoding=self._encoding)
        if self._check_answers:
            wrong = [b for b in boxes if b.expected]
            if wrong or result.unused_answers:
                raise HarnessError(f"answers did not fit: boxes {boxes}, "
                                   f"unused {result.unused_answers}")
        return result

    def kill(self):
        """Ends the runner; its job takes the child and everything the child started along."""
        if self._process.poll() is None:
            os.killpg(self._process.pid, signal.SIGKILL)
            self._process.wait()

    def _new_logs(self) -> list:
        after = _log_files(self._log_dir)
        changed = [p for p, stamp in after.items() if self._logs_before.get(p) != stamp]
        return sorted(changed, key=lambda p: int(LOG_NAME.match(p.name).group(1)))
