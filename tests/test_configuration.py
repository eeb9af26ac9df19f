"""The launcher reads its own payload: where it starts, what a damaged one does, the
accessors, language blocks and the display mode that key 107 chooses."""

import json
import shutil

import pytest

from harness import inspect, winpath


def probe_config(run, exe, keys, lc_all="en_US.UTF-8", args=()):
    result = run(exe, args=[*args, "config", *map(str, keys)], lc_all=lc_all)
    assert result.exit_code == 0, result.stderr_text
    return json.loads(result.stdout.decode("utf-8"))


def test_stub_without_payload_stops_at_the_magic(launcher, run, test_dir):
    exe = test_dir / "bare.exe"
    shutil.copy(launcher("app-launcher"), exe)
    result = run(exe)
    assert result.exit_code == 1
    assert (result.box.caption, result.box.text) == ("", "Internal Error: readInt")
    assert result.box.icon == "error"


def test_damaged_magic(pack, run):
    exe = pack({"keys": {"107": "1"}})
    offset = inspect(exe)["payloadOffset"]
    data = bytearray(exe.read_bytes())
    data[offset] ^= 0xFF
    exe.write_bytes(bytes(data))
    result = run(exe)
    assert result.exit_code == 1
    assert (result.box.caption, result.box.text) == ("", "Internal Error: magic")


def payload_cut_points(exe):
    """Offsets inside the record where a read of each kind is under way."""
    offset = inspect(exe)["payloadOffset"]
    data = exe.read_bytes()
    marker = data.index(b"RAWVALUE", offset)
    # The caption (key 1000) is known once the narrow map has been read.
    return {
        "in the covered length": (offset + 14, "Internal Error: readLong", ""),
        "in the narrow count": (offset + 21, "Internal Error: readInt", ""),
        "in a narrow value": (marker + 3, "Internal Error: readString", ""),
        "in a wide value": (data.index("WIDEVAL".encode("utf-16-le"), offset) + 3,
                            "Internal Error: readWString", "Caption"),
    }


@pytest.mark.parametrize("where", ["in the covered length", "in the narrow count",
                                   "in a narrow value", "in a wide value"])
def test_truncated_record(pack, run, where):
    # Key 105 sorts before key 1000 in the narrow map.
    exe = pack({"keys": {"107": "1", "1000": "Caption", "105": "RAWVALUE"},
                "wideKeys": {"20050": "WIDEVAL"}})
    cut, message, caption = payload_cut_points(exe)[where]
    exe.write_bytes(exe.read_bytes()[:cut])
    result = run(exe, env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 1
    assert result.box.caption == caption
    assert result.box.text == f"{message}\n\nLog: {winpath(result.log_path)}"


def test_payload_walk_is_logged(pack, run):
    exe = pack({"keys": {"107": "0"}})
    result = run(exe, env={"QUILLON_LOG": "yes"})
    lines = result.log.splitlines()
    start = 2  # behind the header and its empty line
    assert lines[start].startswith("number of sections: ")
    assert lines[start + 1].startswith("size of optional headers: ")
    assert lines[start + 2].startswith("resSectionTableStart: ")
    raw = lines[start + 3]
    assert raw.startswith("rawDataSize: ")
    size, offset = (int(part.split(": ")[1]) for part in raw.split(", "))
    assert size + offset == inspect(exe)["payloadOffset"]


def test_accessors_read_every_value_form(pack_probe, run):
    exe = pack_probe({"keys": {"141": "12abc", "142": " -3", "143": "abc",
                               "10114": "255,128,0", "10121": "256,0,0", "10122": "1,,2",
                               "101": "Caf\u00e9 {0}"},
                      "wideKeys": {"20001": "\u20ac uro"}})
    keys = probe_config(run, exe, [141, 142, 143, 144, 10114, 10121, 10122, 101, 20001])["keys"]
    assert [keys[k]["int"] for k in ("141", "142", "143", "144")] == [12, -3, 0, 0]
    assert [keys[k]["color"] for k in ("10114", "10121", "10122", "144")] == [
        0x0080FF, 0, 0x000201, 0]
    # Narrow values keep their bytes and are widened byte by byte.
    assert keys["101"]["string"] == "Caf\u00e9 {0}"
    assert keys["101"]["wide"] == "Caf\u00e9 {0}"
    assert keys["20001"]["message"] == "\u20ac uro"
    assert keys["144"] == {"string": "", "wide": "", "message": "", "int": 0, "color": 0}


@pytest.mark.parametrize("blocks, expected", [
    ([("de", "de text"), ("de_AT", "de_AT text")], "de_AT text"),
    ([("de_AT", "de_AT text"), ("de", "de text")], "de text"),
    ([("", "any text"), ("fr", "fr text")], "any text"),
    ([("de_AT_X", "longer"), ("en", "en text")], "default"),
])
def test_language_blocks_apply_in_file_order(pack_probe, run, blocks, expected):
    exe = pack_probe({"wideKeys": {"20001": "default"},
                      "languages": {prefix: {"20001": text} for prefix, text in blocks}})
    keys = probe_config(run, exe, [20001], lc_all="de_AT.UTF-8")["keys"]
    assert keys["20001"]["message"] == expected


def test_language_block_adds_a_key_and_never_touches_the_narrow_map(pack_probe, run):
    exe = pack_probe({"keys": {"101": "narrow"}, "languages": {"de": {"20099": "neu"}}})
    keys = probe_config(run, exe, [101, 20099], lc_all="de_DE.UTF-8")["keys"]
    assert keys["20099"]["message"] == "neu"
    assert keys["101"]["string"] == "narrow"


def cut_included_file(exe):
    """Cuts the payload inside its included file, so extraction fails while reading."""
    exe.write_bytes(exe.read_bytes()[:-10])


@pytest.mark.parametrize("application_type, shown_in_box", [
    ("1", True), ("5", True), ("0", False), ("2", False), (None, False),
])
def test_key_107_chooses_box_or_standard_error(pack, run, application_type, shown_in_box):
    keys = {"1000": "My App", "1009": "Internal error {0}."}
    if application_type is not None:
        keys["107"] = application_type
    exe = pack({"keys": keys, "includedFiles": [{"name": "a.txt", "source": "a.txt"}]},
               files={"a.txt": "x" * 100})
    cut_included_file(exe)
    result = run(exe)
    assert result.exit_code == 1
    if shown_in_box:
        assert (result.box.caption, result.box.text) == ("My App", "Internal error 16.")
        assert result.stderr == b""
    else:
        assert result.boxes == []
        assert result.stderr_text == "Internal error 16.\n"
