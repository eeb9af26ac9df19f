"""A service under Wine's service manager, which runs it as LocalSystem: the launcher's own
answer to "is this run privileged?", where it keeps its files then, and the DLLs planted
beside the service executable that it must not load while Java still starts."""

import shutil

import pytest

from service_support import (keep_services_up, launcher_pids, service_logs,  # noqa: F401
                             service_wine_session, services)
from test_privileged import BESIDE_NAMES, PLANTED_DLLS, loaded_markers
from test_service_java import beats, java_service, service_jars, wait_for  # noqa: F401

OVERRIDES = ";".join(f"{name}=n,b" for name in BESIDE_NAMES)


@pytest.fixture(scope="session")
def wine_session(service_wine_session):
    return service_wine_session


# Wine's service manager starts services with the token of the prefix's user, elevated, not
# as LocalSystem: the real answer is "elevated"; the seam stands for LocalSystem.
@pytest.mark.parametrize("service_wine_session, answer", [
    ({"QLN_TEST_PRIVILEGED": "real", "WINEDLLOVERRIDES": OVERRIDES}, "elevated"),
    ({"QLN_TEST_PRIVILEGED": "system", "WINEDLLOVERRIDES": OVERRIDES}, "LocalSystem"),
], indirect=["service_wine_session"], ids=["real-answer", "local-system"])
def test_a_privileged_service_loads_no_planted_dll_and_keeps_its_files_safe(
        java_service, services, wine_session, test_dir, answer):
    exe, name, files = java_service()
    for planted in BESIDE_NAMES:
        shutil.copyfile(PLANTED_DLLS / f"{planted}.dll", test_dir / f"{planted}.dll")
    assert services.command(exe, "/install").exit_code == 0
    assert services.command(exe, "/start").exit_code == 0
    assert wait_for(lambda: beats(files) >= 2), "the application never ran"
    assert services.command(exe, "/stop").exit_code == 0
    assert wait_for(lambda: not launcher_pids(services.test_dir), timeout=60)

    assert loaded_markers(test_dir) == []
    logs = "\n".join(service_logs(wine_session).values())
    assert f"privileged run ({answer})" in logs
    if answer == "LocalSystem":
        # Its files went to a directory only administrators write, never C:\windows\temp,
        # and nothing of the child's run is left there once it ended.
        system_temp = wine_session.drive_c / "windows" / "SystemTemp"
        assert "tempPath is C:\\windows\\SystemTemp\\" in logs
        assert wait_for(lambda: not list(system_temp.glob("tvo*")), timeout=180), \
            sorted(p.name for p in system_temp.iterdir())
    else:
        assert wait_for(lambda: not list(wine_session.service_tmp.glob("tvo*")),
                        timeout=180), \
            sorted(p.name for p in wine_session.service_tmp.iterdir())
