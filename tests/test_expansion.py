"""Variable expansion end to end: the launcher's own variables in their directory forms,
environment references and the limit of the text buffer. core-probe prints the UTF-16
expansion with long and with ANSI-compatible forms and the narrow expansion of one text."""

import json
import shutil

import pytest

from harness import winpath

FORMS = ("long", "ansi", "narrow")


def expand(run, exe, text, env=None):
    result = run(exe, args=["expand", text], env={**(env or {}), "QUILLON_LOG": "yes"})
    assert result.exit_code == 0, result.stderr_text
    return json.loads(result.stdout.decode("utf-8")), result


@pytest.fixture
def probe_exe(pack_probe):
    return pack_probe({"keys": {"107": "0"}})


@pytest.mark.parametrize("reference", [
    "${launcher:sys.launcherDirectory}",
    "%TARVO_EXEDIR%",
    "%QUILLON_EXEDIR%",
    "${TARVO_EXEDIR}",
    "${QUILLON_EXEDIR}",
])
def test_launcher_directory_forms(probe_exe, run, test_dir, reference):
    # A folder the ANSI code page cannot name, so that the forms differ.
    directory = test_dir / "Программа"
    directory.mkdir()
    exe = directory / "probe.exe"
    shutil.copy(probe_exe, exe)
    paths = json.loads(run(exe, args=["paths"]).stdout.decode("utf-8"))
    assert paths["dir"] != paths["dirLong"]
    found, _ = expand(run, exe, reference + "lib")
    assert found["long"] == winpath(directory) + "\\lib"
    assert found["ansi"] == found["narrow"] == paths["dir"] + "lib"


ENVIRONMENT = {"MyVar": "value", "Where": "Café", "LOOP": "<${LOOP}>"}


@pytest.mark.parametrize("text, expected", [
    ("${MyVar}", "value"),
    ("${MYVAR}", "value"),
    ("${myvar}", "${myvar}"),
    ("${MyVAR}", "${MyVAR}"),
    ("%MyVar%", "%MyVar%"),
    ("${NOT_DEFINED_HERE}", "${NOT_DEFINED_HERE}"),
    ("${Where}", "Café"),
    ("${LOOP}", "<${LOOP}>"),
    ("${launcher:sys.launcherDirectory}a;${launcher:sys.launcherDirectory}b", "{D}\\a;{D}\\b"),
    ("${launcher:sys.pathlistSeparator}|%QUILLON_PATHLIST_SEPARATOR%|${TARVO_PATHLIST_SEPARATOR}",
     ";|;|;"),
    ("[${launcher:sys.jvmHome}|%QUILLON_JVM_HOME%]", "[|]"),
    ("[${launcher:sys.launcherTempDirectory}|%TARVO_TEMPDIR%]", "[|]"),
    ("${launcher:sys.tempDir}x", "{T}\\x"),
])
def test_references(probe_exe, run, test_dir, tmp_dir, text, expected):
    found, _ = expand(run, probe_exe, text, ENVIRONMENT)
    expected = expected.replace("{D}", winpath(test_dir)).replace("{T}", winpath(tmp_dir))
    assert {form: found[form] for form in FORMS} == dict.fromkeys(FORMS, expected)
    assert all(found[form + "Complete"] for form in FORMS)


def test_replacements_are_logged(probe_exe, run):
    _, result = expand(run, probe_exe, "${MYVAR}/x", ENVIRONMENT)
    # Once for each UTF-16 form and once for the narrow one.
    assert result.log.count("expanding2 ${MYVAR} to value in value/x.\n") == 3


@pytest.mark.parametrize("folder, system_temp", [
    ("tmp", None),
    # Š and € lie in the range where the ANSI code page and ISO-8859-1 differ.
    ("Temp €Š", None),
    # A name outside the code page, on a volume without short names, gives way to the first
    # fallback.
    ("Временные", "C:\\windows\\temp\\"),
])
@pytest.mark.parametrize("reference, directory", [
    ("%QUILLON_TEMPDIR%\\", "launcher temp"),
    ("${launcher:sys.launcherTempDirectory}\\", "launcher temp"),
    ("${launcher:sys.tempDir}", "system temp"),
])
def test_temp_directories(pack_probe, run, test_dir, windows_temp, folder, system_temp,
                          reference, directory):
    exe = pack_probe({"keys": {"107": "0"},
                      "includedFiles": [{"name": "a.txt", "source": "a.txt"}]},
                     files={"a.txt": "alpha"})
    temp = test_dir / folder
    temp.mkdir(exist_ok=True)
    env = {"TMP": winpath(temp), "TEMP": winpath(temp)}
    if system_temp:
        env["QLN_TEST_NO_SHORT_NAMES"] = "1"
    system_temp = system_temp or winpath(temp) + "\\"
    found, _ = expand(run, exe, reference + "a.txt", env)
    assert found["tempDir"].startswith(system_temp + "tvo")
    base = found["tempDir"] + "\\" if directory == "launcher temp" else system_temp
    assert {form: found[form] for form in FORMS} == dict.fromkeys(FORMS, base + "a.txt")


BIG = "b" * 5990


@pytest.mark.parametrize("text, expected, complete", [
    ("${BIG}" + "x" * 9, BIG + "x" * 9, True),
    ("${BIG}" + "x" * 10, BIG + "x" * 9, False),
    ("${BIG}${BIG}", "b" * 5999, False),
])
def test_results_longer_than_the_buffer_are_cut(probe_exe, run, text, expected, complete):
    found, result = expand(run, probe_exe, text, {"BIG": BIG})
    assert {form: found[form] for form in FORMS} == dict.fromkeys(FORMS, expected)
    assert {form: found[form + "Complete"] for form in FORMS} == dict.fromkeys(FORMS, complete)
    cut_lines = result.log.count("ERROR: expanded text cut to 5999 characters\n")
    assert cut_lines == (0 if complete else 3)
