"""What makes a packed launcher a finished Windows program: icon, version information,
manifest and subsystem, read back with pefile and by Windows (Wine) itself, and two packs of
the same inputs giving the same bytes."""

import json
import shutil
import struct
import subprocess
import zlib

import pytest

from harness import PACKER_JAR, ROOT, tool_path, winpath

pefile = pytest.importorskip("pefile")

VERSION_INFO = {"fileVersion": "2.5.0.17", "productVersion": "2.5", "productName": "Demo Suite",
                "companyName": "Example Ltd", "fileDescription": "Demo application",
                "copyright": "Copyright 2026 Example Ltd", "originalFilename": "demo.exe",
                "internalName": "demo"}
STRING_NAMES = {"companyName": "CompanyName", "fileDescription": "FileDescription",
                "fileVersion": "FileVersion", "internalName": "InternalName",
                "copyright": "LegalCopyright", "originalFilename": "OriginalFilename",
                "productName": "ProductName", "productVersion": "ProductVersion"}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def png(width, height):
    """An RGBA PNG with a gradient and a transparent corner."""
    rows = b"".join(
        b"\0" + b"".join(bytes([x * 255 // width, y * 255 // height, 160,
                                0 if x < width // 8 and y < height // 8 else 255])
                         for x in range(width))
        for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def resources(pe):
    """{type: {id: [data bytes of each language]}}."""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            found.setdefault(kind.id or str(kind.name), {})[name.id or str(name.name)] = [
                pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                for lang in name.directory.entries]
    return found


def group_entries(data):
    """(width, bit count, icon id) of each entry of an RT_GROUP_ICON."""
    _, _, count = struct.unpack_from("<HHH", data)
    return [(struct.unpack_from("<B", data, 6 + 14 * i)[0] or 256,
             struct.unpack_from("<H", data, 6 + 14 * i + 6)[0],
             struct.unpack_from("<H", data, 6 + 14 * i + 12)[0]) for i in range(count)]


@pytest.fixture(scope="module")
def resource_probe():
    path = tool_path("resource-probe")
    if path is None:
        subprocess.run(["cmake", "--preset", "win64"], cwd=ROOT, capture_output=True)
        subprocess.run(["cmake", "--build", "--preset", "win64", "--target", "resource-probe"],
                       cwd=ROOT, capture_output=True)
        path = tool_path("resource-probe")
    if path is None:
        pytest.fail("cannot build resource-probe")
    return path


def probe(wine_session, tool, exe):
    done = wine_session.wine(str(tool), winpath(exe))
    return dict(line.split("=", 1) for line in done.stdout.decode("utf-8").splitlines() if "=" in line)


def test_icon_version_and_manifest_read_back(pack, wine_session, resource_probe, test_dir):
    exe = pack({"applicationName": "Demo", "icon": "icon.png", "versionInfo": VERSION_INFO,
                "executionLevel": "requireAdministrator"},
               files={"icon.png": png(300, 200)})

    pe = pefile.PE(str(exe))
    found = resources(pe)
    assert set(found[RT_GROUP_ICON]) == {1, 1001}
    group = group_entries(found[RT_GROUP_ICON][1][0])
    assert group == group_entries(found[RT_GROUP_ICON][1001][0])
    assert [(w, bits) for w, bits, _ in group] == [(16, 32), (24, 32), (32, 32), (48, 32), (256, 32)]
    icons = found[RT_ICON]
    for width, _, number in group:
        image = icons[number][0]
        if width == 256:
            assert image.startswith(b"\x89PNG")
        else:
            header_size, w, h = struct.unpack_from("<Iii", image)
            assert (header_size, w, h) == (40, width, 2 * width)

    strings = {k.decode(): v.decode() for info in pe.FileInfo[0] if hasattr(info, "StringTable")
               for table in info.StringTable for k, v in table.entries.items()}
    assert strings == {STRING_NAMES[k]: v for k, v in VERSION_INFO.items()}
    fixed = pe.VS_FIXEDFILEINFO[0]
    assert (fixed.FileVersionMS, fixed.FileVersionLS) == (2 << 16 | 5, 0 << 16 | 17)
    assert (fixed.ProductVersionMS, fixed.ProductVersionLS) == (2 << 16 | 5, 0)

    manifest = found[RT_MANIFEST][1]
    assert len(manifest) == 1
    text = manifest[0].decode("utf-8")
    for part in ['level="requireAdministrator"', "PerMonitorV2", "<longPathAware",
                 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', "supportedOS"]:
        assert part in text
    assert pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum()

    seen = probe(wine_session, resource_probe, exe)
    assert int(seen["icons"]) >= 1
    assert seen["large"] == "32" and seen["small"] == "16"
    assert seen["icon1001"] == "32"
    assert seen["translation"] == "040904B0"
    assert seen["fileVersion"] == "2.5.0.17" and seen["productVersion"] == "2.5.0.0"
    for key, name in STRING_NAMES.items():
        assert seen[name] == VERSION_INFO[key]


def test_an_ico_file_goes_in_as_it_is(pack, test_dir):
    image = png(16, 16)
    ico = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, len(image), 22) + image
    exe = pack({"icon": "app.ico"}, files={"app.ico": ico})
    found = resources(pefile.PE(str(exe)))
    [(width, _, number)] = group_entries(found[RT_GROUP_ICON][1001][0])
    assert width == 16 and found[RT_ICON][number][0] == image


def pack_with_stub(stub, config, out, test_dir):
    config_file = test_dir / "again.json"
    config_file.write_text(json.dumps(config))
    done = subprocess.run(["java", "-jar", str(PACKER_JAR), "pack", "--stub", str(stub),
                           "--config", str(config_file), "--out", str(out)],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return out


@pytest.mark.parametrize("config, expected", [
    pytest.param({}, "asInvoker", id="default"),
    pytest.param({"executionLevel": "highestAvailable"}, "highestAvailable", id="highest"),
    pytest.param({"manifest": {"file": "own.manifest"}}, None, id="own-file"),
])
def test_manifest_replaces_the_stubs_own(config, expected, pack, test_dir):
    own = b'<?xml version="1.0"?><assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"/>'
    # A stub with a manifest of its own in US English, as a stub with an embedded one has.
    first = pack({"manifest": {"file": "own.manifest"}}, name="first.exe",
                 files={"own.manifest": b"<assembly/>"})
    pe = pefile.PE(str(first))
    data = bytearray(first.read_bytes())
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == RT_MANIFEST:
            entry = kind.directory.entries[0].directory.entries[0]
            struct.pack_into("<I", data, entry.struct.get_file_offset(), 0x409)
    pe.close()
    stub = test_dir / "stub-with-manifest.exe"
    stub.write_bytes(bytes(data))
    assert [lang.id for lang in resources_languages(stub, RT_MANIFEST)] == [0x409]

    (test_dir / "own.manifest").write_bytes(own)
    exe = pack_with_stub(stub, config, test_dir / "again.exe", test_dir)
    assert [lang.id for lang in resources_languages(exe, RT_MANIFEST)] == [0]
    [manifest] = resources(pefile.PE(str(exe)))[RT_MANIFEST][1]
    if expected is None:
        assert manifest == own
    else:
        assert f'level="{expected}"'.encode() in manifest


def resources_languages(exe, kind_id):
    pe = pefile.PE(str(exe))
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == kind_id:
            return [lang for name in kind.directory.entries for lang in name.directory.entries]
    return []


def test_same_inputs_give_the_same_bytes(pack, test_dir):
    config = {"applicationName": "Same", "icon": "icon.png", "versionInfo": VERSION_INFO,
              "splashScreen": {"image": "icon.png"}, "unextractedData": "icon.png",
              "includedFiles": [{"name": "a.txt", "source": "a.txt"}]}
    files = {"icon.png": png(64, 64), "a.txt": "text"}
    first = pack(config, name="first.exe", files=files).read_bytes()
    second = pack(config, name="second.exe", files=files).read_bytes()
    assert first == second



@pytest.mark.parametrize("settings, subsystem", [
    pytest.param({"applicationType": "console"}, 3, id="console-application"),
    pytest.param({"applicationType": "gui"}, 2, id="gui-application"),
    pytest.param({"applicationType": "console", "subsystem": "gui"}, 2, id="explicit-gui"),
    pytest.param({"subsystem": "console"}, 3, id="explicit-console"),
    pytest.param({}, 2, id="stub-default"),
])
def test_subsystem_follows_the_application_type(settings, subsystem, pack):
    exe = pack(settings)
    assert pefile.PE(str(exe), fast_load=True).OPTIONAL_HEADER.Subsystem == subsystem


STUB_MANIFEST = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
                 '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"/>\n')


def test_a_stub_linked_with_its_own_manifest_keeps_one_and_still_runs(run, test_dir):
    """A stub whose linker put a US English manifest into .rsrc (not the last section): the
    packed file has exactly the packer's manifest, and Windows still loads it."""
    gcc, windres = "x86_64-w64-mingw32-gcc", "x86_64-w64-mingw32-windres"
    if not (PACKER_JAR.is_file() and shutil.which(gcc) and shutil.which(windres)):
        pytest.skip("needs the packer and the mingw tools")
    (test_dir / "stub.c").write_text('#include <stdio.h>\nint main(void) { puts("stub ran"); return 7; }\n')
    (test_dir / "stub.manifest").write_text(STUB_MANIFEST)
    (test_dir / "stub.rc").write_text('LANGUAGE 9, 1\n1 24 "stub.manifest"\n')
    subprocess.run([windres, "stub.rc", "-O", "coff", "-o", "stub.res.o"], cwd=test_dir, check=True)
    subprocess.run([gcc, "-s", "-o", "stub.exe", "stub.c", "stub.res.o"], cwd=test_dir, check=True)
    assert [lang.id for lang in resources_languages(test_dir / "stub.exe", RT_MANIFEST)] == [0x409]

    exe = pack_with_stub(test_dir / "stub.exe", {"executionLevel": "highestAvailable"},
                         test_dir / "packed.exe", test_dir)
    assert [lang.id for lang in resources_languages(exe, RT_MANIFEST)] == [0]
    [manifest] = resources(pefile.PE(str(exe)))[RT_MANIFEST][1]
    assert b'level="highestAvailable"' in manifest
    result = run(exe)
    assert (result.exit_code, result.stdout_text) == (7, "stub ran\n")
