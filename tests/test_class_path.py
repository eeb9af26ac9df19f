"""The class path option: its parts in their order, the entries of key 121, the class path
directives, the missing required entries and the length limit.

The core probe's "options" command extracts the included files into the launcher temp
directory and prints the JVM option list; the class path option is its last entry.
"setup-options" builds it as the installer does, without the runtime library jar."""

import json

import pytest

from harness import winpath

PREFIX = "-Djava.class.path="
MESSAGES = {"1006": "Class path entry missing: {0}", "1008": "Variable not set: {0}"}


def class_path(run, exe, args=(), command="options", **options):
    """The class path option and the launcher temp directory of that run."""
    result = run(exe, args=[command, *args], **options)
    assert result.exit_code == 0, result.stderr_text
    report = json.loads(result.stdout.decode("utf-8"))
    assert report["options"][-1].startswith(PREFIX)
    return report["options"][-1], report["tempDir"]


def entries(option) -> list:
    assert option.startswith(PREFIX)
    return option[len(PREFIX):].split(";")


@pytest.mark.parametrize("flavor, command", [
    ("t", "options"),
    (None, "options"),   # no flavor key: only "q" adds the runtime library
    ("q", "setup-options"),
])
def test_nothing_to_add_gives_the_bare_option(pack_probe, run, flavor, command):
    exe = pack_probe({"keys": {"2001": flavor}})
    option, _ = class_path(run, exe, command=command)
    assert option == PREFIX


@pytest.mark.parametrize("installation, expected", [
    (None, "{dir}\\.quillon\\qlnruntime.jar;"),
    ("Inst", "{dir}\\Inst\\.quillon\\qlnruntime.jar;"),
    ("Inst\\\\Sub\\..\\", "{dir}\\Inst\\.quillon\\qlnruntime.jar;"),
    ("C:\\Apps\\My App", "C:\\Apps\\My App\\.quillon\\qlnruntime.jar;"),
])
def test_runtime_library_of_the_installation(pack_probe, run, test_dir, installation, expected):
    # Resolved against the launcher directory, not the working directory; letter case kept.
    (test_dir / "cwd").mkdir()
    exe = pack_probe({"flavor": "q", "keys": {"10003": installation}})
    option, _ = class_path(run, exe, cwd=test_dir / "cwd")
    assert option == PREFIX + expected.format(dir=winpath(test_dir))


ARCHIVES = ["a.jar", "b.zip", "readme.txt", "user\\u.jar", "user\\v.zip"]


def included(names) -> dict:
    """Packer settings that include one small file under each name."""
    return {"includedFiles": [{"name": name, "source": "included.bin"} for name in names]}


@pytest.mark.parametrize("replacement, tail", [
    (None, "{dir}\\lib\\app.jar;{dir}\\missing.jar;post.jar"),
    ("repl.jar;other.jar", "repl.jar;other.jar;post.jar"),
    ("repl.jar;", "repl.jar;post.jar"),
])
def test_parts_in_their_order(pack_probe, run, test_dir, replacement, tail):
    """Prepend, the temp directory's archives and those of its "user" folder, the runtime
    library, the configured entries (or the replacement) and append. A replacement drops
    every configured entry, so even a missing required one goes unnoticed."""
    files = {"included.bin": b"PK", "probe.vmoptions": "-classpath/p pre.jar\r\n"
             + (f"-classpath {replacement}\r\n" if replacement else "")}
    exe = pack_probe({"flavor": "q", "keys": {"10003": "inst", "125": "1"},
                      "classPath": [{"type": "A", "value": "lib\\app.jar"},
                                    {"type": "A", "required": replacement is not None,
                                     "value": "missing.jar"}],
                      **included(ARCHIVES)}, files=files)
    option, temp = class_path(run, exe, args=["-J-classpath/a post.jar"])
    directory = winpath(test_dir)
    assert option == (f"{PREFIX}pre.jar;{temp}\\a.jar;{temp}\\b.zip;{temp}\\user\\u.jar;"
                      f"{temp}\\user\\v.zip;{directory}\\inst\\.quillon\\qlnruntime.jar;"
                      + tail.format(dir=directory))


def test_path_entries(pack_probe, run, test_dir):
    """Path entries ("A", "D") are expanded and resolved against the launcher directory; a
    missing optional one stays as written, several paths are resolved one by one."""
    (test_dir / "lib").mkdir()
    (test_dir / "lib" / "app.jar").write_bytes(b"PK")
    (test_dir / "classes").mkdir()
    (test_dir / "cwd").mkdir()
    exe = pack_probe({"flavor": "t", "classPath": [
        {"type": "A", "required": True, "value": "lib\\\\app.jar"},
        {"type": "D", "required": True, "value": "${launcher:sys.launcherDirectory}classes"},
        {"type": "A", "value": "not-there.jar"},
        {"type": "A", "value": "C:\\abs\\x.jar"},
        {"type": "D", "value": "one${launcher:sys.pathlistSeparator}two\\\\x"},
        {"type": "A", "value": "${LIB_DIR}\\env.jar"},
    ]})
    option, _ = class_path(run, exe, cwd=test_dir / "cwd", env={"LIB_DIR": "C:\\envlib"})
    directory = winpath(test_dir)
    assert entries(option) == [
        f"{directory}\\lib\\app.jar", f"{directory}\\classes", f"{directory}\\not-there.jar",
        "C:\\abs\\x.jar", f"{directory}\\one", f"{directory}\\two\\x", "C:\\envlib\\env.jar", ""]


def test_directory_scan_entries(pack_probe, run, test_dir):
    """A directory scan ("S") adds the jar files, then the zip files; other files and a
    missing optional directory add nothing."""
    for name in ("lib/one.jar", "lib/two.jar", "lib/three.zip", "lib/notes.txt", "lib/jar"):
        (test_dir / name).parent.mkdir(exist_ok=True)
        (test_dir / name).write_bytes(b"")
    (test_dir / "empty").mkdir()
    exe = pack_probe({"flavor": "t", "classPath": [
        {"type": "S", "required": True, "value": "lib"},
        {"type": "S", "required": True, "value": "empty"},
        {"type": "S", "value": "no-such-dir"},
        {"type": "A", "value": "after.jar"},
    ]})
    option, _ = class_path(run, exe)
    directory = winpath(test_dir)
    found = entries(option)
    assert sorted(found[:2]) == [f"{directory}\\lib\\one.jar", f"{directory}\\lib\\two.jar"]
    assert found[2:] == [f"{directory}\\lib\\three.zip", f"{directory}\\after.jar", ""]


@pytest.mark.parametrize("value, expected", [
    ('"C:\\Program Files\\App\\x.jar"', "C:\\Program Files\\App\\x.jar;"),
    ('"a.jar";"b.jar"', 'a.jar";"b.jar;'),
    ('"unbalanced.jar', '"unbalanced.jar;'),
    ("a.jar;b.jar", "a.jar;b.jar;"),
    ("ends-with-separator.jar;", "ends-with-separator.jar;"),
    ("relative.jar", "relative.jar;"),      # taken as it is, not resolved
    ("", ""),
    ('""', ""),
    (None, ""),
])
def test_environment_entries(pack_probe, run, value, expected):
    exe = pack_probe({"flavor": "t", "classPath": [{"type": "E", "value": "EXTRA_CP"}]})
    option, _ = class_path(run, exe, env={"EXTRA_CP": value})
    assert option == PREFIX + expected


@pytest.mark.parametrize("length, kept", [(5999, 5999), (6000, 5999), (7000, 5999)])
def test_environment_entry_holds_at_most_5999_characters(pack_probe, run, length, kept):
    exe = pack_probe({"flavor": "t", "keys": {"121": "E0LONG_CP"}})
    option, _ = class_path(run, exe, env={"LONG_CP": "y" * length})
    assert option == PREFIX + "y" * kept + ";"


def test_empty_items_of_key_121_are_dropped(pack_probe, run, test_dir):
    exe = pack_probe({"flavor": "t", "keys": {"121": ";;A0a.jar;;;E0${NAME_OF_VAR};;"}})
    option, _ = class_path(run, exe, env={"NAME_OF_VAR": "CP_VALUE", "CP_VALUE": "v.jar"})
    assert option == f"{PREFIX}{winpath(test_dir)}\\a.jar;v.jar;"


@pytest.mark.parametrize("entry, env, message", [
    ("A1${launcher:sys.launcherDirectory}missing.jar", {}, "1006:{dir}\\missing.jar"),
    ("D1missing-dir", {}, "1006:missing-dir"),
    # Several paths are tested as one name, so a list never counts as present.
    ("A1a.jar${launcher:sys.pathlistSeparator}b.jar", {}, "1006:a.jar;b.jar"),
    ("S1no-such-dir", {}, "1006:no-such-dir"),
    ("E1CP_UNSET", {"CP_UNSET": None}, "1008:CP_UNSET"),
    ("E1CP_EMPTY", {"CP_EMPTY": ""}, "1006:CP_EMPTY"),
    ("E1CP_QUOTES", {"CP_QUOTES": '""'}, "1006:CP_QUOTES"),
    ("X1unknown", {}, "1006:unknown"),
])
def test_missing_required_entries_stop_the_launcher(pack_probe, run, test_dir, entry, env,
                                                    message):
    (test_dir / "a.jar").write_bytes(b"PK")
    (test_dir / "b.jar").write_bytes(b"PK")
    exe = pack_probe({"flavor": "t", "messages": MESSAGES, "keys": {"121": entry}})
    result = run(exe, args=["options"], env=env)
    key, argument = message.format(dir=winpath(test_dir)).split(":", 1)
    assert result.exit_code == 1
    assert result.stdout == b""
    assert result.stderr_text.strip() == MESSAGES[key].replace("{0}", argument)


def test_required_entries_that_exist_pass(pack_probe, run, test_dir):
    (test_dir / "lib").mkdir()
    (test_dir / "lib" / "app.jar").write_bytes(b"PK")
    exe = pack_probe({"flavor": "t", "messages": MESSAGES,
                      "keys": {"121": "A1lib\\app.jar;S1lib;E1CP_SET;X0ignored"}})
    option, _ = class_path(run, exe, env={"CP_SET": "set.jar"})
    app = f"{winpath(test_dir)}\\lib\\app.jar"
    assert option == f"{PREFIX}{app};{app};set.jar;"


def test_long_class_path_is_not_cut(pack_probe, run):
    """Nine variables of 5998 characters make 54000, more than a fixed buffer of 48000 once
    held: every entry stays, since a cut would drop archives the application needs."""
    big = "x" * 5998
    exe = pack_probe({"flavor": "t", "keys": {"121": ";".join(["E0BIG"] * 9)}})
    result = run(exe, args=["options"], env={"BIG": big, "QUILLON_LOG": "yes"})
    assert result.exit_code == 0
    options = json.loads(result.stdout.decode("utf-8"))["options"]
    assert options == ["-Dlauncher.prop=1", PREFIX + (big + ";") * 9]
    assert "class path cut" not in result.log
