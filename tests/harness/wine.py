"""One Wine prefix and one X display for a whole test session."""

import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

DEFAULT_LOCALE = "en_US.UTF-8"

# Settings for the fresh prefix. Unmanaged X windows: with a managed window and no window
# manager, Wine waits two seconds for every closed window to be withdrawn. No sound driver:
# nothing in the tests plays sound, and the message box beep need not look for a device.
PREFIX_SETTINGS = (
    (r"HKCU\Software\Wine\X11 Driver", "Managed", "N"),
    (r"HKCU\Software\Wine\Drivers", "Audio", ""),
)

# Where the environment of new programs comes from: the machine's, then the user's values.
ENVIRONMENT_KEYS = (r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment",
                    r"HKCU\Environment")


class WineError(RuntimeError):
    pass


def run_captured(args, env, timeout, stdin=None, cwd=None):
    """Runs a command with its output in files, never pipes: Wine may start helper processes
    (services, the desktop window) that inherit the output and outlive the command, and a
    pipe would then not see its end. Returns (exit status, stdout bytes, stderr bytes)."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        process = subprocess.Popen(args, env=env, cwd=cwd, stdout=out, stderr=err,
                                   stdin=stdin if stdin is not None else subprocess.DEVNULL,
                                   start_new_session=True)
        try:
            status = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            raise
        out.seek(0)
        err.seek(0)
        return status, out.read(), err.read()


def available_locales() -> set:
    done = subprocess.run(["locale", "-a"], capture_output=True, text=True)
    # locale -a spells "en_US.utf8"; the tests spell "en_US.UTF-8".
    return {name.lower().replace("utf8", "utf-8") for name in done.stdout.split()}


class WineSession:
    """Starts Xvfb and a persistent wineserver on a fresh prefix; `close` removes both."""

    def __init__(self, base_dir=None, environment=None):
        self.base = Path(tempfile.mkdtemp(prefix="wine-tests-", dir=base_dir))
        self.prefix = self.base / "prefix"
        self.display = None
        self._xvfb = None
        self._locales = None
        self.boot_seconds = None
        # Windows environment variables of every program of the prefix, services included:
        # a service starts with the environment that the service manager builds from the
        # registry, never with that of the Linux process that started Wine.
        self.environment = dict(environment or {})

    @property
    def drive_c(self) -> Path:
        return self.prefix / "drive_c"

    def env(self, lc_all: str = DEFAULT_LOCALE) -> dict:
        """The Linux environment for a Wine command. Wine takes the Windows locale from
        LC_ALL; LANGUAGE would override the UI language, so it goes."""
        env = {k: v for k, v in os.environ.items()
               if k not in ("LANGUAGE", "WINEDLLOVERRIDES", "WINEARCH")}
        env.update(WINEPREFIX=str(self.prefix), WINEDEBUG="-all", DISPLAY=self.display or "",
                   LC_ALL=lc_all, LANG=lc_all)
        return env

    def check_locale(self, lc_all: str):
        if self._locales is None:
            self._locales = available_locales()
        if lc_all.lower() not in self._locales:
            raise WineError(f"locale {lc_all} is not generated on this machine "
                            "(scripts/setup.sh lists the ones the tests use)")

    def start(self):
        for tool in ("wine", "wineserver", "wineboot", "Xvfb"):
            if shutil.which(tool) is None:
                raise WineError(f"{tool} is not installed (scripts/setup.sh installs it)")
        self._start_xvfb()
        started = time.monotonic()
        env = self.env()
        # The server is made persistent before anything else starts it, so that every later
        # start of a program finds it running.
        self.prefix.mkdir()
        subprocess.run(["wineserver", "-p"], env=env, check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        self._boot(env)
        for key, name, value in PREFIX_SETTINGS:
            self._reg_add(key, name, value)
        if self.environment:
            for name, value in self.environment.items():
                for key in ENVIRONMENT_KEYS:
                    self._reg_add(key, name, value)
            # The service manager made its services' environment once, when the boot
            # started the first of them: it must start again to see these values.
            subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
            subprocess.run(["wineserver", "-w"], env=env, capture_output=True, timeout=60)
            subprocess.run(["wineserver", "-p"], env=env, check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            self._boot(env, self.environment.get("WINEDLLOVERRIDES"))
        self.boot_seconds = time.monotonic() - started
        return self

    def _reg_add(self, key, name, value):
        # Wine's reg.exe now and then exits with 1 and no word on a loaded machine; the same
        # command succeeds on the next try.
        for attempt in range(3):
            done = self.wine("reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f",
                             check=attempt == 2)
            if done.returncode == 0:
                return
            time.sleep(0.5)

    @staticmethod
    def _boot(env, dll_overrides=None):
        # The first program in a new server boots the prefix through wineboot (setting up a
        # fresh prefix first) and waits for it; an explicit "wineboot -i" would be a second
        # set-up beside that one, leaving two service managers with separate service
        # databases. No Mono or Gecko: wineboot would otherwise offer to install them.
        # Wine reads DLL overrides from the Linux environment only: the service manager, and
        # every service it starts, keeps those of the boot.
        overrides = "mscoree,mshtml=" + (";" + dll_overrides if dll_overrides else "")
        status, _, err = run_captured(["wine", "cmd.exe", "/c", "exit"], timeout=300,
                                      env={**env, "WINEDLLOVERRIDES": overrides})
        if status != 0:
            raise WineError("wineboot failed: " + err.decode(errors="replace"))

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        self._xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten",
             "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        os.close(write_end)
        # Xvfb picks a free display number and writes it once it accepts connections.
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise WineError("Xvfb did not start")
        self.display = f":{number}"

    def wine(self, *args, lc_all=DEFAULT_LOCALE, check=True, timeout=120, cwd=None):
        """Runs `wine ARGS` in this prefix; returns a CompletedProcess with bytes output."""
        status, out, err = run_captured(["wine", *args], self.env(lc_all), timeout, cwd=cwd)
        if check and status != 0:
            raise WineError(f"wine {' '.join(args)} failed with {status}: "
                            + (out + err).decode(errors="replace"))
        return subprocess.CompletedProcess(["wine", *args], status, out, err)

    def close(self):
        if self.prefix.exists():
            subprocess.run(["wineserver", "-k"], env=self.env(), capture_output=True)
            subprocess.run(["wineserver", "-w"], env=self.env(), capture_output=True,
                           timeout=30)
        if self._xvfb is not None:
            self._xvfb.send_signal(signal.SIGTERM)
            try:
                self._xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
            self._xvfb = None
        shutil.rmtree(self.base, ignore_errors=True)
