"""Reading and writing the prefix's registry through Wine's own reg.exe.

Values are read from `reg export` files (UTF-16, exact for every character) rather than
from `reg query`, whose output goes through the console code page. Writes go through
`reg import` for the same reason, and because it takes every value type. Wine's reg.exe
reads a REG_DWORD whose data is not 4 bytes long past its end, so such values can be written
here but not read back.
"""

import re
import struct
import tempfile
from pathlib import Path

from .paths import winpath
from .wine import WineSession

ROOTS = {
    "HKCU": "HKEY_CURRENT_USER",
    "HKLM": "HKEY_LOCAL_MACHINE",
    "HKCR": "HKEY_CLASSES_ROOT",
    "HKU": "HKEY_USERS",
}

# Keys the launchers write and tests prepare; `Registry.cleanup` removes them after every test
# so that no test sees another's runtimes, version cache or instance ids.
WATCHED_KEYS = (
    r"HKCU\SOFTWARE\brightwell",
    r"HKLM\SOFTWARE\brightwell",
    r"HKLM\SOFTWARE\JavaSoft",
)

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_MULTI_SZ, REG_QWORD = 1, 2, 3, 4, 7, 11


class RegValue:
    """A value with an explicit type, for what the Python type alone does not say."""

    def __init__(self, kind: int, data):
        self.kind, self.data = kind, data

    def __eq__(self, other):
        return isinstance(other, RegValue) and (self.kind, self.data) == (other.kind, other.data)

    def __repr__(self):
        return f"RegValue({self.kind}, {self.data!r})"


def full_key(key: str) -> str:
    root, _, rest = key.partition("\\")
    root = ROOTS.get(root.upper(), root.upper())
    if root not in ROOTS.values():
        raise ValueError(f"unknown registry root in {key!r}")
    return f"{root}\\{rest}" if rest else root


# ---- .reg file format ----

def _unescape(text: str) -> str:
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "0": "\0"}.get(m[1], m[1]), text)


def _escape(text: str) -> str:
    return text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n").replace("\r", "\\r")


def _decode(kind: int, data: bytes):
    if kind in (REG_SZ, REG_EXPAND_SZ):
        text = data.decode("utf-16-le")
        return text[:-1] if text.endswith("\0") else text
    if kind == REG_MULTI_SZ:
        return [part for part in data.decode("utf-16-le").split("\0") if part]
    if kind == REG_DWORD and len(data) == 4:
        return struct.unpack("<I", data)[0]
    if kind == REG_QWORD and len(data) == 8:
        return struct.unpack("<Q", data)[0]
    return data if kind == REG_BINARY else RegValue(kind, data)


def _parse_value(spec: str):
    if spec.startswith('"'):
        return _unescape(spec[1:-1])
    if spec.startswith("dword:"):
        return int(spec[6:], 16)
    match = re.match(r"hex(?:\(([0-9a-fA-F]+)\))?:(.*)", spec)
    if not match:
        raise ValueError(f"cannot read registry value {spec!r}")
    kind = int(match[1], 16) if match[1] else REG_BINARY
    data = bytes(int(b, 16) for b in match[2].replace(" ", "").split(",") if b)
    return _decode(kind, data)


def parse_reg_file(text: str) -> dict:
    """{key path: {value name ("" is the default value): value}} of a regedit export."""
    # Long hex values continue on the next line after a trailing backslash.
    text = re.sub(r"\\\r?\n\s*", "", text.replace("\ufeff", ""))
    keys, current = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1], {})
        elif current is not None and line and not line.startswith(";"):
            if line.startswith("@="):
                name, spec = "", line[2:]
            else:
                match = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)', line)
                if not match:
                    raise ValueError(f"cannot read registry line {line!r}")
                name, spec = _unescape(match[1]), match[2]
            current[name] = _parse_value(spec)
    return keys


def _format_value(value) -> str:
    if isinstance(value, RegValue):
        kind, data = value.kind, value.data
        if kind in (REG_SZ, REG_EXPAND_SZ) and isinstance(data, str):
            data = (data + "\0").encode("utf-16-le")
        elif kind == REG_DWORD and isinstance(data, int):
            data = struct.pack("<I", data)
        elif kind == REG_QWORD and isinstance(data, int):
            data = struct.pack("<Q", data)
        return f"hex({kind:x}):" + ",".join(f"{b:02x}" for b in data)
    if isinstance(value, bool) or not isinstance(value, (str, int, bytes, list)):
        raise TypeError(f"no registry type for {value!r}; use RegValue")
    if isinstance(value, str):
        return f'"{_escape(value)}"'
    if isinstance(value, int):
        return f"dword:{value:08x}"
    if isinstance(value, list):
        return _format_value(RegValue(REG_MULTI_SZ, "".join(v + "\0" for v in value)
                                      .encode("utf-16-le") + b"\0\0"))
    return "hex:" + ",".join(f"{b:02x}" for b in value)


class Registry:
    """Registry access for tests. str is REG_SZ, int REG_DWORD, bytes REG_BINARY, a list of
    str REG_MULTI_SZ; RegValue gives any other type (REG_EXPAND_SZ, REG_QWORD, odd sizes)."""

    def __init__(self, session: WineSession, work_dir=None):
        self._session = session
        self._work_dir = work_dir
        self._created = []

    def _reg(self, *args, check=True):
        return self._session.wine("reg", *args, check=check)

    def export(self, key: str) -> dict:
        """All keys and values at and below `key`; {} when the key does not exist."""
        with tempfile.TemporaryDirectory(dir=self._work_dir) as scratch:
            file = Path(scratch, "export.reg")
            if self._reg("export", full_key(key), winpath(file), "/y", check=False).returncode:
                return {}
            return parse_reg_file(file.read_bytes().decode("utf-16"))

    def exists(self, key: str) -> bool:
        return self._reg("query", full_key(key), check=False).returncode == 0

    def values(self, key: str) -> dict:
        """The values of `key` itself; {} when it does not exist."""
        wanted = full_key(key).lower()
        for path, values in self.export(key).items():
            if path.lower() == wanted:
                return values
        return {}

    def read(self, key: str, name: str = ""):
        """One value, or None when it or its key is absent. "" is the default value."""
        return self.values(key).get(name)

    def subkeys(self, key: str) -> list:
        """Names of the direct subkeys of `key`."""
        prefix = full_key(key).lower() + "\\"
        return sorted({path[len(prefix):].split("\\")[0] for path in self.export(key)
                       if path.lower().startswith(prefix)})

    def write(self, key: str, name: str = None, value=None):
        """Creates `key` and, when a name is given, sets that value ("" is the default)."""
        self._remember(key)
        lines = [f"[{full_key(key)}]"]
        if name is not None:
            label = "@" if name == "" else f'"{_escape(name)}"'
            lines.append(f"{label}={_format_value(value)}")
        self._import(lines)

    def _import(self, lines, check=True):
        text = "\r\n".join(["Windows Registry Editor Version 5.00", "", *lines, ""])
        with tempfile.TemporaryDirectory(dir=self._work_dir) as scratch:
            file = Path(scratch, "import.reg")
            file.write_bytes(text.encode("utf-16"))
            # Wine's reg.exe now and then fails an import with no word on a loaded machine;
            # the same file imports on the next try.
            for attempt in range(3):
                done = self._reg("import", winpath(file), check=check and attempt == 2)
                if done.returncode == 0:
                    break

    def delete_value(self, key: str, name: str = "", missing_ok=True):
        args = ["/ve"] if name == "" else ["/v", name]
        done = self._reg("delete", full_key(key), *args, "/f", check=False)
        if done.returncode and not missing_ok:
            raise KeyError(f"{key} {name!r}")

    def delete_key(self, key: str, missing_ok=True):
        done = self._reg("delete", full_key(key), "/f", check=False)
        if done.returncode and not missing_ok:
            raise KeyError(key)

    def _remember(self, key: str):
        """Notes the outermost key that a write creates, so cleanup can remove it."""
        path = full_key(key)
        for watched in map(full_key, WATCHED_KEYS):
            if path.lower() == watched.lower() or path.lower().startswith(watched.lower() + "\\"):
                return
        parts = path.split("\\")
        for depth in range(2, len(parts) + 1):
            candidate = "\\".join(parts[:depth])
            if not self.exists(candidate):
                self._created.append(candidate)
                return

    def cleanup(self):
        """Removes the watched keys and every key a write of this object created."""
        keys = [full_key(k) for k in WATCHED_KEYS] + self._created[::-1]
        # "[-KEY]" in an imported file deletes the key: one Wine start for all of them.
        self._import([f"[-{key}]" for key in keys], check=False)
        self._created.clear()
