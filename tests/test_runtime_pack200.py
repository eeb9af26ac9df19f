"""Packed jars of a runtime directory are turned back into jars with the runtime's own
unpack200.exe before the runtime is checked."""

from runtime_homes import log_lines, runtime_home, runtime_loaded, stand_ins  # noqa: F401

LOG = {"QUILLON_LOG": "yes"}


def app(pack, home, **keys):
    return pack({"keys": {"107": "0", "128": "A" + home.win(), **keys}})


def unpack_runs(home) -> list:
    runs = home.bin / "unpack200-runs.txt"
    return runs.read_text(encoding="utf-8").splitlines() if runs.exists() else []


def test_packed_jars_of_lib_and_lib_ext(pack, run, runtime_home):
    home = runtime_home("jre", unpack200=True)
    packed = {r"lib\rt.jar": b"rt classes", r"lib\charsets.jar": b"charsets",
              r"lib\ext\zipfs.jar": b"zipfs"}
    for jar, content in packed.items():
        home.add_file(jar + ".pack", content)
    result = run(app(pack, home), env=LOG)
    assert runtime_loaded(result)
    assert result.stdout_text == "Preparing JRE ...\n"
    assert log_lines(result, "Unpacking JRE") == ["", " done"]

    # One run after the other, each with exactly that command line; lib before lib\ext.
    runs = unpack_runs(home)
    assert runs[1::2] == ["end"] * 3
    command_lines = [line[len("begin "):] for line in runs[0::2]]
    expected = {jar: '-r "{0}.pack" "{0}"'.format(home.checked_path(jar)) for jar in packed}
    assert sorted(command_lines[:2]) == sorted([expected[r"lib\rt.jar"],
                                                expected[r"lib\charsets.jar"]])
    assert command_lines[2] == expected[r"lib\ext\zipfs.jar"]
    for jar, content in packed.items():
        assert (home.root / jar.replace("\\", "/")).read_bytes() == content
        assert not (home.root / (jar.replace("\\", "/") + ".pack")).exists()


def test_existing_jar_keeps_its_pack_file(pack, run, runtime_home):
    home = runtime_home("jre", unpack200=True)
    home.add_file(r"lib\rt.jar", b"already there")
    home.add_file(r"lib\rt.jar.pack", b"packed")
    result = run(app(pack, home), env=LOG)
    assert runtime_loaded(result)
    assert unpack_runs(home) == []
    assert result.stdout == b""
    assert log_lines(result, "checking ") == [home.checked_path(r"lib\rt.jar")]
    assert "Unpacking JRE" not in result.log
    assert (home.root / "lib" / "rt.jar").read_bytes() == b"already there"
    assert (home.root / "lib" / "rt.jar.pack").read_bytes() == b"packed"


def test_runtime_without_packed_jars_is_left_alone(pack, run, runtime_home):
    home = runtime_home("jre", unpack200=True)
    home.add_file(r"lib\rt.jar", b"plain")
    result = run(app(pack, home), env=LOG)
    assert runtime_loaded(result)
    assert unpack_runs(home) == [] and result.stdout == b""
    assert "checking " not in result.log


def test_missing_unpack200_is_fatal(pack, run, runtime_home):
    home = runtime_home("jre", unpack200=False)
    home.add_file(r"lib\rt.jar.pack", b"packed")
    result = run(app(pack, home, **{"1009": "internal error {0}"}))
    assert result.exit_code == 1
    assert result.stdout_text == "Preparing JRE ...\n"
    assert result.stderr_text == "internal error 20\n"
    assert (home.root / "lib" / "rt.jar.pack").exists()
