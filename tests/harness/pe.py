"""A reader of the PE headers that the tests check: format, machine, subsystem, symbol table
and where the image ends (anything after that is the appended payload)."""

import struct
from dataclasses import dataclass
from pathlib import Path

MACHINES = {0x014C: "x86", 0x8664: "x64"}
FORMATS = {0x10B: "PE32", 0x20B: "PE32+"}
SUBSYSTEMS = {2: "gui", 3: "console"}


class NotPE(ValueError):
    pass


@dataclass(frozen=True)
class PeInfo:
    format: str            # "PE32" or "PE32+"
    machine: str           # "x86", "x64" or the number in hex
    subsystem: str         # "gui", "console" or the number
    has_symbol_table: bool  # a COFF symbol table is present (the image is not stripped)
    image_end: int         # end of the last section's raw data
    file_size: int

    @property
    def overlay_size(self) -> int:
        """Bytes after the image: the payload of a packed launcher."""
        return self.file_size - self.image_end


def read_pe(source) -> PeInfo:
    data = source if isinstance(source, (bytes, bytearray)) else Path(source).read_bytes()
    if len(data) < 0x40 or data[:2] != b"MZ":
        raise NotPE("no MZ header")
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise NotPE("no PE signature")
    coff = pe_offset + 4
    machine, sections, _, symbols_at, symbol_count, optional_size, _ = struct.unpack_from(
        "<HHIIIHH", data, coff)
    optional = coff + 20
    (magic,) = struct.unpack_from("<H", data, optional)
    if magic not in FORMATS:
        raise NotPE(f"unknown optional header magic {magic:#x}")
    (subsystem,) = struct.unpack_from("<H", data, optional + 68)
    table = optional + optional_size
    image_end = 0
    for index in range(sections):
        raw_size, raw_at = struct.unpack_from("<II", data, table + 40 * index + 16)
        if raw_size:
            image_end = max(image_end, raw_at + raw_size)
    return PeInfo(
        format=FORMATS[magic],
        machine=MACHINES.get(machine, f"{machine:#x}"),
        subsystem=SUBSYSTEMS.get(subsystem, str(subsystem)),
        has_symbol_table=symbols_at != 0 and symbol_count != 0,
        image_end=image_end,
        file_size=len(data),
    )


def assert_pe(path, *, machine: str, subsystem: str, stripped=None) -> PeInfo:
    """Checks a PE32 (x86) or PE32+ (x64) image of the given subsystem."""
    info = read_pe(path)
    expected_format = {"x86": "PE32", "x64": "PE32+"}[machine]
    assert (info.machine, info.format, info.subsystem) == (machine, expected_format, subsystem), \
        f"{path}: {info}"
    if stripped is not None:
        assert info.has_symbol_table != stripped, f"{path}: {info}"
    return info
