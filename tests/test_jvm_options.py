"""The JVM option list: its sources in their order, options files and their lines, includes,
the class path directives, locale options and "-J" words.

The core probe's "options" command builds the list as a launcher hands it to the JVM, with
"-Dlauncher.prop=1" standing in for the launcher system properties."""

import json

import pytest

from harness import winpath

LAUNCHER_PROPERTY = "-Dlauncher.prop=1"
# Flavor "t" keeps the runtime library jar off the class path, so it stays empty.
EMPTY_CLASS_PATH = "-Djava.class.path="


def crlf(*lines) -> bytes:
    """An options file as a Windows editor writes it, in the ANSI code page."""
    return "".join(line + "\r\n" for line in lines).encode("cp1252")


def jvm_options(run, exe, args=(), **options):
    result = run(exe, args=["options", *args], **options)
    assert result.exit_code == 0, result.stderr_text
    return json.loads(result.stdout.decode("utf-8"))["options"]


def configured(options) -> list:
    """The options between the launcher property and the class path option."""
    assert options[0] == LAUNCHER_PROPERTY
    assert options[-1].startswith(EMPTY_CLASS_PATH)
    return options[1:-1]


def test_sources_come_in_their_order(pack_probe, run):
    exe = pack_probe({"flavor": "t", "jvmOptions": ["-Dsource=config", "-Xss2m"],
                      "keys": {"125": "1"}},
                     files={"probe.vmoptions": crlf("-Dsource=file")})
    options = jvm_options(run, exe, args=["-J-Dsource=j", "plain", "-J-Xmx64m",
                                          "-Dsun.locale.formatasdefault=false"],
                          lc_all="de_AT.UTF-8")
    assert options == [LAUNCHER_PROPERTY, "-Dsource=config", "-Xss2m", "-Dsource=j", "-Xmx64m",
                       "-Dsun.locale.formatasdefault=false", "-Duser.language=de",
                       "-Duser.country=AT", "-Dsource=file", EMPTY_CLASS_PATH]


def test_without_any_source_only_the_class_path_follows(pack_probe, run):
    exe = pack_probe({"flavor": "t"})
    assert jvm_options(run, exe) == [LAUNCHER_PROPERTY, EMPTY_CLASS_PATH]


def test_options_file_lines(pack_probe, run):
    exe = pack_probe({"flavor": "t"}, files={"probe.vmoptions": (
        b"   -Dspaces=1   \r\n"
        b"# a comment\r\n"
        b"    # an indented comment\r\n"
        b"      \r\n"
        b"\r\n"
        b"\t-Dtab=1\r\n"
        b"-Dtitle=My App\r\n"
        b"-Xms16m -Xmx64m\r\n"
        b"-Duser.name=Jos\xe9\n"
        b"-Dlast=no line end")})
    assert configured(jvm_options(run, exe)) == [
        "-Dspaces=1", "\t-Dtab=1", "-Dtitle=My App", "-Xms16m -Xmx64m", "-Duser.name=Jos\u00e9",
        "-Dlast=no line end"]


def test_variables_expand_in_configured_options_and_files_but_not_in_j_words(
        pack_probe, run, test_dir):
    exe = pack_probe({"flavor": "t", "keys": {"125": "1"},
                      "jvmOptions": ["-Dconfig.dir=${launcher:sys.launcherDirectory}",
                                     "-Dconfig.env=${PROBE_VALUE}"]},
                     files={"probe.vmoptions": crlf("-Dfile.sep=${launcher:sys.pathlistSeparator}",
                                                    "-Dfile.env=${PROBE_VALUE}")})
    options = jvm_options(run, exe, args=["-J-Dj.env=${PROBE_VALUE}"],
                          env={"PROBE_VALUE": "expanded"})
    assert configured(options) == [
        f"-Dconfig.dir={winpath(test_dir)}\\", "-Dconfig.env=expanded",
        "-Dj.env=${PROBE_VALUE}", "-Dfile.sep=;", "-Dfile.env=expanded"]


def test_launcher_directory_outside_the_code_page(pack_probe, run, test_dir):
    """Options carry the directory in its ANSI form, and the options file beside the
    launcher and its relative includes are still found."""
    folder = "\u0416dir"
    exe = pack_probe({"flavor": "t", "jvmOptions": ["-Dapp.dir=${launcher:sys.launcherDirectory}"]},
                     name=f"{folder}/probe.exe",
                     files={f"{folder}/probe.vmoptions": crlf("-include-options inc.vmoptions"),
                            f"{folder}/inc.vmoptions": crlf("-Dincluded=1")})
    paths = run(exe, args=["paths"])
    assert paths.exit_code == 0
    narrow_directory = json.loads(paths.stdout.decode("utf-8"))["dir"]
    assert "?" not in narrow_directory and narrow_directory.endswith("\\")
    assert configured(jvm_options(run, exe)) == [f"-Dapp.dir={narrow_directory}", "-Dincluded=1"]


def test_a_long_line_goes_on_as_the_next_option(pack_probe, run):
    exe = pack_probe({"flavor": "t"},
                     files={"probe.vmoptions": crlf("-Dx=" + "x" * 5995 + "yz", "-Dnext=1")})
    assert configured(jvm_options(run, exe)) == ["-Dx=" + "x" * 5995, "yz", "-Dnext=1"]


@pytest.mark.parametrize("j_words_are_options, expected", [
    ("1", ["-Xmx64m", "-Dname=?", "-J-nested"]),
    ("0", []),
    (None, []),
])
def test_j_words_follow_key_125(pack_probe, run, j_words_are_options, expected):
    exe = pack_probe({"flavor": "t", "keys": {"125": j_words_are_options}})
    # A character outside the ANSI code page reaches the JVM as the default character.
    options = jvm_options(run, exe, args=["-J-Xmx64m", "-j-lower", "x-J-inside",
                                          "-J-Dname=\u0416", "-J-J-nested"])
    assert configured(options) == expected


@pytest.mark.parametrize("words, expected", [
    ([], []),
    (["-Dsun.locale.formatasdefault=true"], ["-Dsun.locale.formatasdefault=true"]),
    (["-Dsun.locale.formatasdefault=false"],
     ["-Dsun.locale.formatasdefault=false", "-Duser.language=de", "-Duser.country=AT"]),
    (["-Dsun.locale.formatasdefault="],
     ["-Dsun.locale.formatasdefault=", "-Duser.language=de", "-Duser.country=AT"]),
    (["-Dsun.locale.formatasdefault=false", "-Dsun.locale.formatasdefault=true"],
     ["-Dsun.locale.formatasdefault=true"]),
    (["-Dsun.locale.formatasdefault=true", "-Dsun.locale.formatasdefault=no"],
     ["-Dsun.locale.formatasdefault=no", "-Duser.language=de", "-Duser.country=AT"]),
    (["-Dsun.locale.formatasdefault"], []),
])
def test_locale_options(pack_probe, run, words, expected):
    exe = pack_probe({"flavor": "t"})
    assert configured(jvm_options(run, exe, args=words, lc_all="de_AT.UTF-8")) == expected


@pytest.mark.parametrize("files, expected", [
    ({"probe.vmoptions": "-Dwhich=short", "probe.exe.vmoptions": "-Dwhich=long"},
     ["-Dwhich=short"]),
    ({"probe.exe.vmoptions": "-Dwhich=long"}, ["-Dwhich=long"]),
    ({"probe.vmoptions": "-Dwhich=short"}, ["-Dwhich=short"]),
    ({"other.vmoptions": "-Dwhich=other", "probe.exe.vmoptions\\x": "-Dwhich=dir"}, []),
])
def test_default_options_file_candidates(pack_probe, run, test_dir, files, expected):
    exe = pack_probe({"flavor": "t"})
    for name, text in files.items():
        path = test_dir.joinpath(*name.split("\\"))
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(crlf(text))
    assert configured(jvm_options(run, exe)) == expected


def test_includes_resolve_beside_the_including_file(pack_probe, run, test_dir):
    """A relative include in an included file is looked up beside that file; in the default
    options file and in key 123 it is looked up in the launcher directory, never in the
    working directory."""
    exe = pack_probe(
        {"flavor": "t",
         "jvmOptions": ["-include-options", "b.vmoptions", "-include-options",
                        "${launcher:sys.launcherDirectory}conf\\c.vmoptions"]},
        files={
            "probe.vmoptions": crlf("-Dbefore=1", "-include-options conf\\a.vmoptions",
                                    "-include-options b.vmoptions", "-Dafter=1"),
            "conf/a.vmoptions": crlf("-Dfrom=conf-a", "-include-options b.vmoptions"),
            "conf/b.vmoptions": crlf("-Dfrom=conf-b"),
            "conf/c.vmoptions": crlf("-Dfrom=conf-c"),
            "b.vmoptions": crlf("-Dfrom=top-b"),
            "cwd/b.vmoptions": crlf("-Dfrom=cwd-b"),
            "cwd/conf/a.vmoptions": crlf("-Dfrom=cwd-conf-a"),
        })
    options = jvm_options(run, exe, cwd=test_dir / "cwd")
    assert configured(options) == [
        "-Dfrom=top-b", "-Dfrom=conf-c",
        "-Dbefore=1", "-Dfrom=conf-a", "-Dfrom=conf-b", "-Dfrom=top-b", "-Dafter=1"]


@pytest.mark.parametrize("words, expected", [
    # Alone at the end, the directive has no file and goes to the JVM as it is.
    (["-Dx=1", "-include-options"], ["-Dx=1", "-include-options"]),
    (["-include-options", "missing.vmoptions", "-Dx=1"], ["-Dx=1"]),
    (["-include-options missing.vmoptions"], []),
    (["-include-options", "conf"], []),
])
def test_include_directive_edge_cases(pack_probe, run, test_dir, words, expected):
    (test_dir / "conf").mkdir()
    exe = pack_probe({"flavor": "t", "jvmOptions": words})
    result = run(exe, args=["options"])
    assert result.exit_code == 0
    assert result.boxes == [] and result.stderr == b""
    assert configured(json.loads(result.stdout.decode("utf-8"))["options"]) == expected


def test_include_cycles_end(pack_probe, run):
    exe = pack_probe({"flavor": "t"}, files={
        "probe.vmoptions": crlf("-Dtop=1", "-include-options a.vmoptions", "-Dtop=2"),
        # Back to the default file, itself under another spelling, and on to a third file
        # that closes a longer cycle.
        "a.vmoptions": crlf("-Da=1", "-include-options probe.vmoptions",
                            "-include-options .\\A.VMOPTIONS", "-include-options b.vmoptions",
                            "-Da=2"),
        "b.vmoptions": crlf("-Db=1", "-include-options a.vmoptions", "-Db=2"),
    })
    result = run(exe, args=["options"], env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 0
    options = json.loads(result.stdout.decode("utf-8"))["options"]
    assert configured(options) == ["-Dtop=1", "-Da=1", "-Db=1", "-Db=2", "-Da=2", "-Dtop=2"]
    assert result.log.count("ERROR: options file is already being read") == 3


def test_runaway_include_depth_stops(pack_probe, run):
    chain = {f"level{i}.vmoptions": crlf(f"-Dlevel={i}", f"-include-options level{i + 1}.vmoptions")
             for i in range(40)}
    exe = pack_probe({"flavor": "t", "jvmOptions": ["-include-options", "level0.vmoptions"]},
                     files=chain)
    result = run(exe, args=["options"], env={"QUILLON_LOG": "yes"})
    assert result.exit_code == 0
    read = configured(json.loads(result.stdout.decode("utf-8"))["options"])
    assert 8 <= len(read) < 40
    assert read == [f"-Dlevel={i}" for i in range(len(read))]
    assert "ERROR: options files nested deeper than" in result.log
    assert f"level{len(read)}.vmoptions" in result.log.split("nested deeper than")[1]


def test_directives_fill_the_class_path_instead_of_the_options(pack_probe, run):
    exe = pack_probe({"flavor": "t", "keys": {"125": "1"},
                      "jvmOptions": ["-classpath/a", "two-words.jar", "-classpath/a one-word.jar",
                                     "-classpath", "-classpath/p"]},
                     files={"probe.vmoptions": crlf("-classpath/p first.jar",
                                                    "-classpath/p second.jar",
                                                    "-classpath/x ignored.jar")})
    options = jvm_options(run, exe, args=["-J-classpath/a from-j.jar"])
    assert options == [LAUNCHER_PROPERTY, "-classpath/a", "two-words.jar", "-classpath",
                       "-classpath/p", "-classpath/x ignored.jar",
                       "-Djava.class.path=second.jar;from-j.jar"]


def test_include_logs_its_paths(pack_probe, run, test_dir):
    exe = pack_probe({"flavor": "t", "jvmOptions": ["-include-options", "${INCLUDE_NAME}"]},
                     files={"inc.vmoptions": crlf("-Dx=1")})
    result = run(exe, args=["options"], env={"QUILLON_LOG": "yes", "INCLUDE_NAME": "inc.vmoptions"})
    assert result.exit_code == 0
    full = f"{winpath(test_dir)}\\inc.vmoptions"
    lines = result.log.splitlines()
    assert "adding options" in lines
    # Key 123 was expanded as a whole before the directive saw its path.
    assert "after exp from inc.vmoptions inc.vmoptions" in lines
    opened = [line for line in lines if line.startswith("adding vmoptions from (")]
    assert len(opened) == 1 and opened[0].endswith(f") <{full}> (inc.vmoptions)")
    assert lines.index("adding vmoptions 2") + 1 == lines.index("adding vmoptions 3")
    directory = winpath(test_dir)
    assert (f"vmoptions2: exe {directory}\\probe.exe file: {directory}\\probe.vmoptions, "
            "file: ") in result.log
