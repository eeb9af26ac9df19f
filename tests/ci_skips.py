"""Skips in CI: a skipped test proves nothing, so with CI set every skip fails its test
unless tests/ci-allowed-skips.txt lists it with a reason. conftest.py takes these hooks."""

import os
import re
from pathlib import Path

import pytest

ALLOWED_SKIPS = Path(__file__).with_name("ci-allowed-skips.txt")


def in_ci() -> bool:
    return os.environ.get("CI", "").lower() not in ("", "0", "false", "no")


def read_allowed_skips(path: Path) -> list:
    """(pattern, reason) per entry: "file.py::test_name[params] -- why", where `*` stands for
    any text (brackets are literal, as in parameter ids). An entry without a reason is an
    error."""
    entries = []
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        pattern, _, reason = line.partition(" -- ")
        if not reason.strip():
            raise pytest.UsageError(f"{path.name}:{number}: an allowed skip needs a reason "
                                    "after ' -- '")
        entries.append((pattern.strip(), reason.strip()))
    return entries


def skip_is_allowed(nodeid: str, entries) -> bool:
    """True when the test id, taken from its file name on, matches an entry."""
    file_part, sep, rest = nodeid.partition("::")
    test_id = Path(file_part).name + sep + rest
    return any(re.fullmatch(re.escape(pattern).replace(r"\*", ".*"), test_id)
               for pattern, _ in entries)


def pytest_configure(config):
    config.allowed_skips = read_allowed_skips(ALLOWED_SKIPS) if in_ci() else []
    config.unlisted_module_skips = []


def _unlisted_skip_reason(report, config):
    """The reason of a skip that CI does not accept, else None."""
    if not in_ci() or not report.skipped or hasattr(report, "wasxfail"):
        return None
    if skip_is_allowed(report.nodeid, config.allowed_skips):
        return None
    reason = report.longrepr[2] if isinstance(report.longrepr, tuple) else str(report.longrepr)
    return f"skipped in CI, and not on tests/{ALLOWED_SKIPS.name}: {reason}"


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_makereport(item, call):
    outcome = yield
    report = outcome.get_result()
    reason = _unlisted_skip_reason(report, item.config)
    if reason:
        report.outcome = "failed"
        report.longrepr = reason


@pytest.hookimpl(hookwrapper=True)
def pytest_make_collect_report(collector):
    # A whole module skipped, as importorskip does. Failing its collection would stop the
    # whole run, so it stays a skip here and fails the session at the end.
    outcome = yield
    report = outcome.get_result()
    reason = _unlisted_skip_reason(report, collector.config)
    if reason:
        collector.config.unlisted_module_skips.append(f"{report.nodeid}: {reason}")


def pytest_terminal_summary(terminalreporter, config):
    if config.unlisted_module_skips:
        terminalreporter.section("modules skipped in CI")
        for line in config.unlisted_module_skips:
            terminalreporter.write_line(line)


@pytest.hookimpl(trylast=True)
def pytest_sessionfinish(session, exitstatus):
    if session.config.unlisted_module_skips and exitstatus == pytest.ExitCode.OK:
        session.exitstatus = pytest.ExitCode.TESTS_FAILED
