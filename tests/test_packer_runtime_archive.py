"""bundledRuntime with the real Java runtime: the packer writes the runtime directory as the
included file "jre.tar.gz", which unpacks (with Python's tarfile, reading it as the installer's
reader does: ustar headers, GNU long names) into a runtime whose java.exe runs under Wine."""

import gzip
import io
import tarfile

import pytest

from harness import PackError, inspect, winpath


def included_file(exe, name):
    """The bytes of an included file, taken from the payload and unscrambled."""
    facts = inspect(exe)
    data = exe.read_bytes()
    end = facts["unextractedOffset"]
    for f in reversed(facts["includedFiles"]):
        start = end - f["size"]
        if f["name"] == name:
            return bytes(b ^ 0xA7 for b in data[start:end]), facts
        end = start - 8
    raise AssertionError(f"{name} is not included")


def test_runtime_directory_becomes_an_archive_that_unpacks_and_runs(pack, run, java_home,
                                                                    test_dir):
    exe = pack({"applicationName": "Setup", "bundledRuntime": str(java_home)},
               stub="setup-launcher", name="setup.exe")
    archive, facts = included_file(exe, "jre.tar.gz")
    assert [f["name"] for f in facts["includedFiles"]] == ["jre.tar.gz"]
    tar_bytes = gzip.decompress(archive)
    assert facts["keys"]["151"] == str(len(tar_bytes))

    with tarfile.open(fileobj=io.BytesIO(tar_bytes), mode="r:") as tar:
        members = tar.getmembers()
        names = [m.name for m in members]
        assert names == sorted(names)
        assert {m.mtime for m in members} == {946684800}
        assert {(m.uid, m.gid, m.uname, m.gname) for m in members} == {(0, 0, "", "")}
        files = {m.name: m.size for m in members if m.isfile()}
        expected = {p.relative_to(java_home).as_posix(): p.stat().st_size
                    for p in java_home.rglob("*") if p.is_file()}
        assert files == expected
        tar.extractall(test_dir / "jre", filter="tar")

    java = test_dir / "jre" / "bin" / "java.exe"
    result = run(winpath(java), args=["-version"], timeout=120)
    assert result.exit_code == 0, result.stderr_text
    assert "version" in result.stderr_text


def test_a_directory_without_java_exe_is_refused(pack, java_home, test_dir):
    with pytest.raises(PackError, match=r"has no bin\\java.exe"):
        pack({"bundledRuntime": str(java_home / "lib")}, stub="setup-launcher", name="refused.exe")
    assert not (test_dir / "refused.exe").exists()
