"""The user's locale, taken from Windows, picks the language blocks and is logged."""

import json

import pytest

from harness import pack as pack_exe


@pytest.fixture
def locale_probe(test_dir):
    config = {"wideKeys": {"20001": "default"},
              "languages": {"de": {"20001": "Deutsch"}, "de_AT": {"20001": "\u00d6sterreich"},
                            "en_US": {"20001": "US English"}}}
    return pack_exe(test_dir, config, stub="win64/test-tools/core-probe")


@pytest.mark.parametrize("lc_all, code, language, country, text", [
    ("de_AT.UTF-8", "de_AT", "de", "AT", "\u00d6sterreich"),
    ("de_DE.UTF-8", "de_DE", "de", "DE", "Deutsch"),
    ("en_US.UTF-8", "en_US", "en", "US", "US English"),
    ("fr_FR.UTF-8", "fr_FR", "fr", "FR", "default"),
    # 0x4009 has no row of its own: the primary language "en" without a country.
    ("en_IN.UTF-8", "en", "en", None, "default"),
])
def test_locale_from_windows(locale_probe, run, lc_all, code, language, country, text):
    result = run(locale_probe, args=["config", "20001"], lc_all=lc_all,
                 env={"QUILLON_LOG": "yes"})
    shown = json.loads(result.stdout.decode("utf-8"))
    assert (shown["language"], shown["country"]) == (language, country)
    assert shown["keys"]["20001"]["message"] == text
    assert f"language/country is {code}" in result.log.splitlines()


@pytest.mark.parametrize("args, flag", [
    ([], "true"),
    (["-Dsun.locale.formatasdefault=false"], "false"),
    (["-Dsun.locale.formatasdefault=x", "-Dsun.locale.formatasdefault=true"], "true"),
    (["-Dsun.locale.formatasdefault=true", "-Dsun.locale.formatasdefault=x"], "false"),
])
def test_format_as_default_flag(locale_probe, run, args, flag):
    result = run(locale_probe, args=[*args, "config"], lc_all="de_AT.UTF-8",
                 env={"QUILLON_LOG": "yes"})
    lines = result.log.splitlines()
    assert f"sun.locale.formatasdefault is {flag}" in lines
    # Wine takes the interface language from the same locale, so both paths give de_AT.
    assert "language/country is de_AT" in lines
