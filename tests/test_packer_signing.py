"""Signed launchers: signed by the packer (jsign) and afterwards by osslsigncode, checked with
osslsigncode and pefile, and started on the real Java runtime under Wine, where the
application must read back exactly the unextracted data that was packed."""

import hashlib
import json
import os
import shutil
import struct
import subprocess
import zlib

import pytest

from harness import PACKER_JAR, inspect, launcher_path, winpath
from harness.java_side import RUNTIME_JAR, compile_java

pefile = pytest.importorskip("pefile")

READER = r'''
package probe;

import com.quillon.runtime.launcher.UnextractedData;
import java.io.InputStream;
import java.security.MessageDigest;

public class Reader {
    public static void main(String[] args) throws Exception {
        MessageDigest sha = MessageDigest.getInstance("SHA-256");
        long length = 0;
        try (InputStream in = UnextractedData.open()) {
            byte[] buf = new byte[4096];
            int n;
            while ((n = in.read(buf)) > 0) {
                sha.update(buf, 0, n);
                length += n;
            }
        }
        StringBuilder hex = new StringBuilder();
        for (byte b : sha.digest()) {
            hex.append(String.format("%02x", b));
        }
        System.out.println("unextracted " + length + " " + hex);
    }
}
'''

# 1001 bytes: not a multiple of 8, so the packer has to pad for the signature to follow.
DATA = bytes((i * 7 + 3) % 256 for i in range(1001))


def need(tool):
    if shutil.which(tool) is None:
        pytest.skip(f"{tool} is not installed (scripts/setup.sh)")


@pytest.fixture(scope="module")
def keystore(tmp_path_factory):
    """A PKCS#12 keystore with a self-signed code-signing key, and its certificate as PEM."""
    need("keytool")
    work = tmp_path_factory.mktemp("keys")
    store = work / "signing.p12"
    subprocess.run(["keytool", "-genkeypair", "-keystore", str(store), "-storetype", "PKCS12",
                    "-storepass", "secret", "-keypass", "secret", "-alias", "release",
                    "-keyalg", "RSA", "-keysize", "2048", "-validity", "3650",
                    "-dname", "CN=Packer Test Signer", "-ext", "EKU=codeSigning"],
                   check=True, capture_output=True)
    pem = work / "signer.pem"
    done = subprocess.run(["keytool", "-exportcert", "-rfc", "-keystore", str(store),
                           "-storepass", "secret", "-alias", "release"],
                          check=True, capture_output=True, text=True)
    pem.write_text(done.stdout)
    return store, pem


@pytest.fixture(scope="module")
def reader_jar(tmp_path_factory):
    if not RUNTIME_JAR.is_file():
        pytest.skip(f"{RUNTIME_JAR} is not built (make build)")
    work = tmp_path_factory.mktemp("reader")
    jar = compile_java({"probe/Reader.java": READER}, work / "lib" / "reader.jar", work / "w",
                       classpath=[RUNTIME_JAR])
    return jar.read_bytes()


def app_config(java_home, **settings):
    return {"applicationName": "Reader", "applicationType": "console",
            "mainClass": "probe.Reader",
            "classPath": [{"type": "S", "required": True, "value": "lib"}],
            "searchSequence": [{"type": "A", "value": winpath(java_home)}],
            "includedFiles": [{"name": "runtime.jar", "source": str(RUNTIME_JAR)}],
            "unextractedData": "data.bin", "integrityCheck": True, **settings}


def sign_with_osslsigncode(exe, keystore):
    store, _ = keystore
    signed = exe.with_name("signed-" + exe.name)
    subprocess.run(["osslsigncode", "sign", "-pkcs12", str(store), "-pass", "secret",
                    "-h", "sha256", "-in", str(exe), "-out", str(signed)],
                   check=True, capture_output=True)
    return signed


def payload_checks_out(exe):
    """The integrity header's CRC over its covered length, computed here independently."""
    data = exe.read_bytes()
    facts = inspect(exe)
    start = facts["payloadOffset"]
    magic, flag, crc, covered = struct.unpack_from("<IIIq", data, start)
    assert magic == 0xE8E413D5 and flag == 1
    assert zlib.crc32(data[start + 20:start + 20 + covered]) == crc
    return start + 20 + covered, facts


@pytest.mark.parametrize("signer", ["packer", "osslsigncode"])
def test_signed_launcher_verifies_and_hands_over_the_packed_data(
        signer, pack, run, keystore, reader_jar, java_home, test_dir, monkeypatch):
    need("osslsigncode")
    store, pem = keystore
    files = {"lib/reader.jar": reader_jar, "data.bin": DATA}
    if signer == "packer":
        monkeypatch.setenv("PACKER_TEST_STOREPASS", "secret")
        exe = pack(app_config(java_home, signing={"keystore": str(store), "alias": "release",
                                                  "passwordEnv": "PACKER_TEST_STOREPASS"}),
                   files=files)
    else:
        exe = sign_with_osslsigncode(pack(app_config(java_home), files=files), keystore)

    verified = subprocess.run(["osslsigncode", "verify", "-CAfile", str(pem), "-in", str(exe)],
                              capture_output=True, text=True)
    assert verified.returncode == 0, verified.stdout + verified.stderr
    assert "Signature verification: ok" in verified.stdout

    pe = pefile.PE(str(exe), fast_load=True)
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    payload_end, facts = payload_checks_out(exe)
    # The certificate table follows the payload directly: no padding byte between them.
    assert security.VirtualAddress == payload_end and security.VirtualAddress % 8 == 0
    assert security.VirtualAddress + security.Size == exe.stat().st_size
    assert pe.OPTIONAL_HEADER.CheckSum == pe.generate_checksum()
    assert facts["signed"] is True
    assert facts["unextractedLength"] == len(DATA)

    result = run(exe, timeout=120)
    assert result.exit_code == 0, result.stderr_text
    assert f"unextracted {len(DATA)} {hashlib.sha256(DATA).hexdigest()}" in result.stdout_text


def test_signing_twice_gives_the_same_bytes(pack, keystore, test_dir):
    store, _ = keystore
    config = {"applicationName": "Twice", "unextractedData": "data.bin",
              "signing": {"keystore": str(store), "alias": "release", "password": "secret"}}
    first = pack(config, name="first.exe", files={"data.bin": DATA}).read_bytes()
    second = pack(config, name="second.exe", files={"data.bin": DATA}).read_bytes()
    assert first == second


@pytest.mark.parametrize("signing, message", [
    pytest.param({"alias": "release", "password": "wrong"}, "cannot use the keystore", id="password"),
    pytest.param({"alias": "other", "password": "secret"}, 'no key named "other"', id="alias"),
    pytest.param({"alias": "release", "passwordEnv": "PACKER_TEST_UNSET"},
                 "PACKER_TEST_UNSET is not set", id="unset-variable"),
])
def test_signing_refusals_leave_no_file(signing, message, keystore, test_dir):
    stub = launcher_path("app-launcher")
    if not (PACKER_JAR.is_file() and stub.is_file()):
        pytest.skip("the packer or the stub is not built (make build)")
    store, _ = keystore
    config = test_dir / "config.json"
    config.write_text(json.dumps({"signing": {"keystore": str(store), **signing}}))
    out = test_dir / "out.exe"
    env = {k: v for k, v in os.environ.items() if k != "PACKER_TEST_UNSET"}
    done = subprocess.run(["java", "-jar", str(PACKER_JAR), "pack", "--stub", str(stub),
                           "--config", str(config), "--out", str(out)],
                          capture_output=True, text=True, env=env)
    assert done.returncode == 1
    assert done.stderr.startswith("packer: error: ") and message in done.stderr, done.stderr
    assert len(done.stderr.splitlines()) == 1
    assert not out.exists()
