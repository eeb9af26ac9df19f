"""The packer's output as the installer launcher sees it, on the real Java runtime under Wine:
a setup launcher packed with the integrity check and then signed (by the packer and by
osslsigncode) still passes its own check in quiet mode and runs the Java installer, while a
flipped covered byte still fails it; and "bundledRuntime" writes an archive the installer
unpacks and runs the Java installer on."""

import subprocess

import pytest

from harness import inspect, winpath
from harness.java_side import RUNTIME_JAR
from test_installer_real import marks, setup_jar  # noqa: F401 (fixture)
from test_packer_signing import keystore, need, sign_with_osslsigncode  # noqa: F401 (fixture)

TEXTS = {"20013": "Setup Test", "20016": "The installer is damaged."}
# The tests look at the unpacked runtime after the run: it stays until the next start.
ENV = {"TARVO_LOG": "yes", "QLN_TEST_NO_CLEANUP_AFTER_EXIT": "1"}


def installer_config(setup_jar, java_home, **settings):
    """A quiet-capable installer running setup.Main of test_installer_real on the real runtime."""
    return {"flavor": "t", "applicationType": "gui", "mainClass": "setup.Main",
            "localizedTexts": TEXTS, "integrityCheck": True,
            "searchSequence": [{"type": "A", "value": winpath(java_home)}],
            "includedFiles": [{"name": "setup.jar", "source": str(setup_jar)},
                              {"name": "runtime.jar", "source": str(RUNTIME_JAR)}],
            "keys": {"159": "1"}, **settings}


@pytest.fixture
def signed_setup(pack, keystore, setup_jar, java_home, monkeypatch):  # noqa: F811
    """signed_setup(signer) -> a setup.exe with the integrity check, signed by signer."""
    need("osslsigncode")
    store, pem = keystore

    def make(signer):
        if signer == "packer":
            monkeypatch.setenv("PACKER_TEST_STOREPASS", "secret")
            exe = pack(installer_config(setup_jar, java_home, signing={
                "keystore": str(store), "alias": "release", "passwordEnv": "PACKER_TEST_STOREPASS"}),
                stub="setup-launcher", name="setup.exe")
        else:
            exe = sign_with_osslsigncode(
                pack(installer_config(setup_jar, java_home), stub="setup-launcher", name="setup.exe"),
                keystore)
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(pem), "-in", str(exe)],
                                  capture_output=True, text=True)
        assert verified.returncode == 0, verified.stdout + verified.stderr
        return exe

    return make


def flip_byte(exe, offset):
    data = bytearray(exe.read_bytes())
    data[offset] ^= 0x01
    exe.write_bytes(bytes(data))


@pytest.mark.parametrize("signer", ["packer", "osslsigncode"])
def test_a_signed_installer_passes_its_integrity_check_and_runs_java(signed_setup, run, test_dir,
                                                                     signer):
    exe = signed_setup(signer)
    facts = inspect(exe)
    assert facts["signed"] and facts["crcMatches"] and facts["checkFlag"] == 1
    # The covered data ends where the certificate table starts.
    assert facts["payloadOffset"] + 20 + facts["coveredLength"] == facts["certificateOffset"]
    marker = test_dir / "marks.txt"
    result = run(exe, args=["-q", "mark", winpath(marker), "exit", "7"], env=ENV, timeout=300)
    assert result.exit_code == 7, result.log
    assert not result.boxes, result.log
    assert "verifying integrity length %d" % facts["coveredLength"] in result.log
    crc = facts["crcStored"]
    signed = crc - (1 << 32) if crc >= 1 << 31 else crc
    assert "checksums: %d %d %d %d" % (crc, crc, signed, signed) in result.log
    assert marks(marker)[1] == "manual=null"


@pytest.mark.parametrize("where", ["record", "middle", "last"])
def test_a_flipped_covered_byte_of_a_signed_installer_still_fails(signed_setup, run, test_dir,
                                                                  where):
    exe = signed_setup("osslsigncode")
    facts = inspect(exe)
    start = facts["payloadOffset"] + 20
    # In the record, a byte of a value: the configuration still reads, only the CRC differs.
    offset = {"record": exe.read_bytes().index(b"setup.Main", start) + 3,
              "middle": start + facts["coveredLength"] // 2,
              "last": start + facts["coveredLength"] - 1}[where]
    flip_byte(exe, offset)
    marker = test_dir / "marks.txt"
    result = run(exe, args=["-q", "mark", winpath(marker), "exit", "7"], env=ENV, timeout=300)
    assert result.exit_code == 1, result.log
    assert (result.box.caption, result.box.text) == ("Setup Test", "The installer is damaged.")
    assert "extracting files" not in result.log
    assert not marker.exists()


def test_a_damaged_record_header_of_a_signed_installer_refuses_before_the_check(
        signed_setup, run, test_dir):
    """The first covered byte belongs to the record's structure: the configuration cannot be
    read, so the launcher stops with its internal error (no texts of the installer exist yet)
    before the integrity check; it still ends with 1 and runs nothing."""
    exe = signed_setup("osslsigncode")
    flip_byte(exe, inspect(exe)["payloadOffset"] + 20)
    marker = test_dir / "marks.txt"
    result = run(exe, args=["-q", "mark", winpath(marker), "exit", "7"], env=ENV, timeout=300)
    assert result.exit_code == 1
    assert result.box.text.startswith("Internal Error: "), result.box.text
    assert not marker.exists()


def test_the_signature_itself_is_not_covered(signed_setup, run, test_dir):
    """A damaged signature is Windows' business (the file no longer verifies), not the check's:
    the installer still starts."""
    exe = signed_setup("packer")
    facts = inspect(exe)
    flip_byte(exe, facts["certificateOffset"] + facts["certificateSize"] // 2)
    result = run(exe, args=["-q", "exit", "4"], env=ENV, timeout=300)
    assert result.exit_code == 4, result.log
    assert not result.boxes


def test_bundled_runtime_is_unpacked_and_runs_the_java_installer(pack, run, test_dir, java_home,
                                                                setup_jar):  # noqa: F811
    config = installer_config(setup_jar, java_home, bundledRuntime=str(java_home))
    # Only the bundled runtime: the search of the installed one must not find the real runtime.
    del config["searchSequence"]
    exe = pack(config, stub="setup-launcher", name="setup.exe")
    facts = inspect(exe)
    assert [f["name"] for f in facts["includedFiles"]] == ["setup.jar", "runtime.jar", "jre.tar.gz"]
    marker = test_dir / "marks.txt"
    result = run(exe, args=["-q", "mark", winpath(marker), "exit", "9"], env=ENV, timeout=600)
    assert result.exit_code == 9, result.log
    assert "untaring JRE was successful" in result.log
    home = marks(marker)[0][len("java.home="):]
    assert "_dir" in home and home.lower().endswith("\\jre"), home
    unpacked = list((test_dir / "tmp").glob("*_dir*/jre"))
    assert len(unpacked) == 1
    expected = {p.relative_to(java_home).as_posix(): p.stat().st_size
                for p in java_home.rglob("*") if p.is_file()}
    found = {p.relative_to(unpacked[0]).as_posix(): p.stat().st_size
             for p in unpacked[0].rglob("*") if p.is_file()}
    assert found == expected
    assert not list((test_dir / "tmp").glob("*_dir*/jre.tar.gz"))
