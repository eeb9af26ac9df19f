"""The installer's dialog resources as Windows builds them: templates 103 and 104 of both
installer stubs, created from the executable's resources under Xvfb, compared with their
rectangles in dialog units (MapDialogRect), styles, identifiers and classes, with a
screenshot of each."""

import json
import struct

import pytest

from harness import read_pe, winpath
from conftest import require_built

# (identifier, class, (x, y, width, height), style) as the templates define them.
PROGRESS_CONTROLS = [
    (1003, "static", (46, 6, 176, 34), 0x50020080),
    (1001, "msctls_progress32", (6, 61, 162, 10), 0x50800000),
    (1002, "static", (6, 50, 154, 8), 0x40020080),
    (2, "button", (173, 59, 50, 14), 0x50030000),
    (-1, "static", (13, 10, 32, 32), 0x50000003),
]
MISSING_RUNTIME_CONTROLS = [
    (1004, "button", (61, 59, 50, 14), 0x50010001),
    (1005, "button", (117, 59, 50, 14), 0x50010000),
    (2, "button", (173, 59, 50, 14), 0x50010000),
    (1003, "static", (46, 6, 176, 45), 0x50020000),
    (-1, "static", (13, 10, 32, 32), 0x50000003),
]
TEMPLATES = {103: ((22, 17, 233, 79), 0x00CA00CC, 0x00040000, PROGRESS_CONTROLS),
             104: ((0, 0, 233, 79), 0x80C800C8, 0, MISSING_RUNTIME_CONTROLS)}
# WS_VISIBLE and the class's own additions are what the window manager changes at run time.
WS_VISIBLE = 0x10000000


def dialog_templates(path):
    """{id: template} of the RT_DIALOG resources of a PE file, each a dict of the
    DLGTEMPLATEEX fields and its items."""
    data = path.read_bytes()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = optional + optional_size
    to_offset = None
    for i in range(sections):
        _, vsize, va, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
        if va <= rsrc_rva < va + max(vsize, rsize):
            base, to_offset = raw + rsrc_rva - va, (lambda rva, va=va, raw=raw: rva - va + raw)
    assert to_offset, "no resource section"

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            yield name, target

    def text(at):
        if struct.unpack_from("<H", data, at)[0] == 0xFFFF:
            return struct.unpack_from("<H", data, at + 2)[0], at + 4
        end = at
        while struct.unpack_from("<H", data, end)[0]:
            end += 2
        return data[at:end].decode("utf-16-le"), end + 2

    templates = {}
    for kind, types in entries(0):
        if kind != 5:
            continue
        for ident, names in entries(types & 0x7FFFFFFF):
            _, language = next(entries(names & 0x7FFFFFFF))
            rva = struct.unpack_from("<I", data, base + language)[0]
            at = to_offset(rva)
            _, signature, _, exstyle, style, count, x, y, w, h = struct.unpack_from(
                "<HHIIIHhhhh", data, at)
            assert signature == 0xFFFF
            menu, at = text(at + 26)
            cls, at = text(at)
            title, at = text(at)
            size, weight, italic, charset = struct.unpack_from("<HHBB", data, at)
            font, at = text(at + 6)
            items = []
            for _ in range(count):
                at = (at + 3) & ~3
                _, iex, istyle, ix, iy, iw, ih, iid = struct.unpack_from("<IIIhhhhi", data, at)
                icls, at = text(at + 24)
                ititle, at = text(at)
                extra = struct.unpack_from("<H", data, at)[0]
                at += 2 + extra
                items.append({"id": iid, "class": icls, "rect": (ix, iy, iw, ih),
                              "style": istyle, "title": ititle})
            templates[ident] = {"rect": (x, y, w, h), "style": style, "exstyle": exstyle,
                                "class": cls, "title": title, "font": (size, font),
                                "items": items}
    return templates


# Windows keeps the predefined control classes as atoms.
ATOMS = {0x80: "button", 0x82: "static"}


@pytest.mark.parametrize("stub", ["setup-launcher", "win32/setup-launcher"])
def test_templates_in_the_pe_image(stub):
    templates = dialog_templates(require_built(stub))
    assert 101 in templates
    for ident, (frame, style, exstyle, controls) in TEMPLATES.items():
        template = templates[ident]
        assert template["rect"] == frame
        assert (template["style"], template["exstyle"]) == (style, exstyle)
        assert template["font"] == (8, "MS Shell Dlg")
        assert template["title"] == ""
        assert str(template["class"]).lower() == ("mydialogclass" if ident == 103 else "")
        found = [(i["id"], str(ATOMS.get(i["class"], i["class"])).lower(), i["rect"], i["style"])
                 for i in template["items"]]
        assert found == controls
        icon = template["items"][-1]
        assert icon["title"] == 1001  # icon resource 1001 of the executable


def probe_dialog(run, tools_dir, test_dir, args, rects, name):
    out = test_dir / f"{name}.json"
    shot = test_dir / f"{name}.bmp"
    options = [f"rect={x},{y},{w},{h}" for (x, y, w, h) in rects]
    result = run(tools_dir / "dialog-probe.exe",
                 args=[*args, winpath(out), *options, f"shot={winpath(shot)}"])
    assert result.exit_code == 0, result
    return json.loads(out.read_text(encoding="utf-8")), shot


def check_controls(report, controls):
    mapped = report["mapped"]
    by_id = {}
    for control in report["controls"]:
        by_id.setdefault(control["id"], control)
    for index, (ident, cls, _, style) in enumerate(controls):
        control = by_id[ident]
        assert control["class"].lower() == cls, ident
        # The progress bar turns its border into an extended style.
        expected = style & ~0x00800000 if cls == "msctls_progress32" else style
        assert control["style"] & expected == expected, (ident, hex(control["style"]))
        assert control["visible"] == bool(style & WS_VISIBLE), ident
        if ident != -1:  # the icon control shrinks to its (missing) icon
            x, y, w, h = mapped[index + 1]
            assert control["rect"] == [x, y, x + w, y + h], ident
    assert len(report["controls"]) == len(controls)


@pytest.fixture
def tools_dir():
    return require_built("win64/test-tools/dialog-probe").parent


@pytest.mark.parametrize("stub", ["setup-launcher", "win32/setup-launcher"])
@pytest.mark.parametrize("template", [103, 104])
def test_dialog_templates_of_both_stubs(run, test_dir, tools_dir, stub, template):
    exe = require_built(stub)
    frame, style, exstyle, controls = TEMPLATES[template]
    rects = [frame] + [c[2] for c in controls]
    report, shot = probe_dialog(run, tools_dir, test_dir, ["template", winpath(exe), str(template)],
                                rects, f"dialog{template}")
    # Windows adds WS_CLIPSIBLINGS and DS_3DLOOK to a dialog it creates.
    assert report["style"] & style == style
    # The client area is the template's size once converted.
    _, _, w, h = report["mapped"][0]
    left, top, right, bottom = report["window"]
    ox, oy = report["client_origin"]
    # The frame around the converted client size.
    assert right - left >= w and bottom - top >= h + (oy - top)
    check_controls(report, controls)
    assert report["caption"] == ""  # the texts come from the configuration at run time
    data = shot.read_bytes()
    assert data[:2] == b"BM" and len(data) > 54 + (right - left) * (bottom - top)


def test_the_x86_stub_is_an_x86_image():
    assert read_pe(require_built("win32/setup-launcher")).machine == "x86"
