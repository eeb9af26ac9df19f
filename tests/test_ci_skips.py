"""The CI rule for skips (ci_skips.py), run on a small suite of its own in a separate pytest:
with CI set a skip fails unless the allow-list names it; without CI skips stay skips and say
why."""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

TESTS = Path(__file__).resolve().parent

CONFTEST = '''
from pathlib import Path
import ci_skips
ci_skips.ALLOWED_SKIPS = Path(__file__).with_name("allowed.txt")
from ci_skips import pytest_configure, pytest_make_collect_report, pytest_runtest_makereport, \
    pytest_sessionfinish, pytest_terminal_summary
'''

SUITE = '''
import pytest

def test_runs():
    pass

def test_listed():
    pytest.skip("listed reason")

@pytest.mark.parametrize("case", ["a", "b"])
def test_listed_by_pattern(case):
    pytest.skip("pattern reason")

def test_unlisted():
    pytest.skip("no runtime here")

@pytest.fixture
def needs_something():
    pytest.skip("fixture says no")

def test_unlisted_through_a_fixture(needs_something):
    pass

@pytest.mark.xfail(reason="known")
def test_expected_failure():
    assert False
'''

MODULE_SKIP = '''
import pytest
pytest.importorskip("no_such_module_anywhere")

def test_never_collected():
    pass
'''

ALLOWED = '''# comment
test_suite.py::test_listed -- the reason
test_suite.py::test_listed_by_pattern[*] -- another reason
'''


def run_suite(tmp_path, ci, allowed=ALLOWED):
    (tmp_path / "conftest.py").write_text(CONFTEST)
    (tmp_path / "test_suite.py").write_text(SUITE)
    (tmp_path / "test_module_skip.py").write_text(MODULE_SKIP)
    (tmp_path / "allowed.txt").write_text(allowed)
    env = {k: v for k, v in os.environ.items() if k != "CI"}
    env["PYTHONPATH"] = str(TESTS)
    if ci:
        env["CI"] = ci
    done = subprocess.run([sys.executable, "-m", "pytest", "-q", "-rs", "-p", "no:cacheprovider",
                           str(tmp_path)], cwd=tmp_path, env=env, capture_output=True, text=True,
                          timeout=120)
    return done.returncode, done.stdout + done.stderr


def counts(output):
    return {word: int(n) for n, word in re.findall(r"(\d+) (passed|failed|skipped|error|errors"
                                                   r"|xfailed)", output.splitlines()[-1])}


def test_in_ci_only_listed_skips_pass(tmp_path):
    code, output = run_suite(tmp_path, ci="true")
    assert code == 1, output
    # The module's skip stays a skip but fails the session; the two others fail their tests.
    assert counts(output) == {"passed": 1, "skipped": 4, "failed": 1, "error": 1,
                              "xfailed": 1}, output
    unlisted = [line for line in output.splitlines()
                if "skipped in CI, and not on tests/allowed.txt: " in line]
    assert len(unlisted) == 3, output
    for reason in ("no runtime here", "fixture says no", "no_such_module_anywhere"):
        assert any(reason in line for line in unlisted), output


@pytest.mark.parametrize("ci", [None, "false", "0"], ids=["unset", "false", "zero"])
def test_outside_ci_skips_stay_skips_and_say_why(tmp_path, ci):
    code, output = run_suite(tmp_path, ci=ci)
    assert code == 0, output
    assert counts(output) == {"passed": 1, "skipped": 6, "xfailed": 1}, output
    assert "SKIPPED" in output and "no runtime here" in output


def test_an_entry_without_a_reason_stops_the_run(tmp_path):
    code, output = run_suite(tmp_path, ci="1", allowed="test_suite.py::test_listed\n")
    assert code != 0
    assert "allowed.txt:1: an allowed skip needs a reason" in output


def test_the_allow_list_of_the_tree_is_readable_and_short():
    import ci_skips
    entries = ci_skips.read_allowed_skips(ci_skips.ALLOWED_SKIPS)
    assert 0 < len(entries) <= 5
