"""Paths beyond 260 characters wherever the launchers look for a file or directory: every
existence or attribute check takes the long-path road, not only the class path itself."""

import json

import pytest

from harness import winpath
from runtime_homes import (checked_exes, log_lines, make_home, probe_values,  # noqa: F401
                           runtime_probe, stand_ins)

LOG = {"QUILLON_LOG": "yes"}
PREFIX = "-Djava.class.path="


def deep(base, length=306):
    """A directory under `base` whose Windows path is `length` characters or a little more."""
    directory = base
    while len(winpath(directory)) < length - 45:
        directory = directory / ("d" * 40)
    directory = directory / ("e" * max(1, length - len(winpath(directory)) - 1))
    directory.mkdir(parents=True)
    assert len(winpath(directory)) >= length
    return directory


def options(run, exe, **settings):
    result = run(exe, args=["options"], env=LOG, **settings)
    assert result.exit_code == 0, (result.stderr_text, result.log)
    return json.loads(result.stdout.decode("utf-8"))["options"], result


def required_jar(ctx):
    jar = deep(ctx.test_dir) / "hello.jar"
    jar.write_bytes(b"PK")
    exe = ctx.pack_probe({"flavor": "t", "messages": {"1006": "missing {0}"},
                          "keys": {"121": "A1" + winpath(jar)}})
    found, _ = options(ctx.run, exe)
    assert found[-1] == f"{PREFIX}{winpath(jar)};"


def archive_directory(ctx):
    directory = deep(ctx.test_dir)
    (directory / "a.jar").write_bytes(b"PK")
    exe = ctx.pack_probe({"flavor": "t", "messages": {"1006": "missing {0}"},
                          "keys": {"121": "S1" + winpath(directory)}})
    found, _ = options(ctx.run, exe)
    assert found[-1] == f"{PREFIX}{winpath(directory)}\\a.jar;"


def vmoptions_include(ctx):
    included = deep(ctx.test_dir) / "more.vmoptions"
    included.write_text("-Dfrom.long=1\r\n")
    exe = ctx.pack_probe({"flavor": "t"})
    exe.with_suffix(".vmoptions").write_text(f"-include-options {winpath(included)}\r\n")
    found, _ = options(ctx.run, exe)
    assert "-Dfrom.long=1" in found


def native_library_directory(ctx):
    directory = deep(ctx.test_dir)
    exe = ctx.pack_probe({"keys": {"10004": winpath(directory)}})
    result = ctx.run(exe, args=["native-path"], env=LOG)
    assert result.exit_code == 0
    assert json.loads(result.stdout.decode("utf-8"))["path"].startswith(winpath(directory) + ";")


def search_directory(ctx):
    home = make_home(deep(ctx.test_dir) / "jre", ctx.stand_ins, "1.8.0_45")
    result = ctx.run(ctx.runtime_probe({"128": "A" + home.win()}), args=["search"], env=LOG)
    assert result.exit_code == 0
    assert checked_exes(result) == [home.checked_path().lower()]
    # Found; Wine then starts no program under so long a path, so the version stays unknown.
    lines = result.log.splitlines()
    assert lines[lines.index(next(l for l in lines if l.startswith("checkJavaExe ("))) + 1] == \
        "file exists"


def location_file(ctx):
    installation = deep(ctx.test_dir)
    home = make_home(ctx.test_dir / "preferred", ctx.stand_ins, "1.8.0_45")
    (installation / ".quillon").mkdir()
    (installation / ".quillon" / "pref_jre.cfg").write_text(home.win() + "\r\n")
    result = ctx.run(ctx.runtime_probe({"128": "", "10003": winpath(installation)}),
                     args=["search"], env=LOG)
    assert result.exit_code == 0
    assert log_lines(result, "Has preferred location ") == [home.win()]


CASES = {
    "required class path jar": required_jar,
    "class path archive directory": archive_directory,
    "vmoptions include": vmoptions_include,
    "native library directory": native_library_directory,
    "search sequence directory": search_directory,
    "location file of the installation directory": location_file,
}


class Context:
    def __init__(self, **fixtures):
        self.__dict__.update(fixtures)


@pytest.mark.parametrize("case", CASES)
def test_long_paths(case, pack_probe, runtime_probe, stand_ins, run, test_dir):
    CASES[case](Context(pack_probe=pack_probe, runtime_probe=runtime_probe,
                        stand_ins=stand_ins, run=run, test_dir=test_dir))
