"""The service launcher's command words against Wine's service control manager."""

import pytest

from harness import winpath

from service_support import keep_services_up, services  # noqa: F401  (fixtures)

SERVICES_KEY = "HKLM\\System\\CurrentControlSet\\Services\\"


@pytest.fixture
def service_launcher(pack, services):
    """service_launcher(name=None, **settings) -> (exe, name): the service launcher packed with
    the name as key 101 and without a Java application."""

    def pack_service(name=None, exe_name="svc.exe", **settings):
        name = name if name is not None else services.name()
        config = {"applicationName": name, **settings}
        return pack(config, stub="service-launcher", name=exe_name), name

    return pack_service


def test_command_words_texts_and_exit_codes(service_launcher, services, registry):
    exe, name = service_launcher()
    installed = f"Installed service '{name}'.\n"
    steps = [
        # tail, printed, exit code
        ("/status", "Could not get status.\n", 1),
        ("-stop", "Could not stop service.\n", 1),
        ("--uninstall", "Could not delete service.\n", 1),
        ("/start", "Could not start service. Error code: 1060\n", 1),
        ("/restart", "Could not restart service.\n", 1),
        ("/-install", installed, 0),
        # Installing over a stopped service stops it quietly, removes it and creates it anew.
        ("/install", "Service is already stopped.\n" + installed, 0),
        ("--status", "Not running.\n", 3),
        ("-stop", "Service is already stopped.\n", 0),
        ("/install-auto", "Service is already stopped.\n" + installed, 0),
        ("/status", "Not running.\nAuto-start.\n", 3),
        ("/install-demand", "Service is already stopped.\n" + installed, 0),
        ("/status", "Not running.\n", 3),
        ("/uninstall", f"Service is already stopped.\nUninstalled service '{name}'.\n", 0),
        # Letter case counts: no command, so the dispatcher is tried, which fails and ends with 0.
        ("/Install", "", 0),
        ("/INSTALL-AUTO", "", 0),
        ("/status", "Could not get status.\n", 1),
    ]
    seen = [(tail, *(lambda r: (r.stdout_text, r.exit_code))(services.command(exe, tail)))
            for tail, _, _ in steps]
    assert seen == steps
    assert not registry.exists(SERVICES_KEY + name)


@pytest.mark.parametrize("settings, word, start_type, service_type", [
    pytest.param({"applicationType": 4}, "install", 2, 0x110, id="type-4-auto"),
    pytest.param({}, "install", 3, 0x110, id="demand"),
    pytest.param({}, "install non-interactive", 3, 0x10, id="non-interactive"),
])
def test_what_install_stores(service_launcher, services, registry, settings, word, start_type,
                             service_type):
    exe, name = service_launcher(
        exe_name="my service.exe",
        keys={"149": "Tcpip,,Dnscache"}, localizedTexts={"20017": "Runs the sample. ∑"},
        **settings)
    result = services.command(exe, "/" + word)
    assert (result.stdout_text, result.exit_code) == (f"Installed service '{name}'.\n", 0)
    stored = registry.values(SERVICES_KEY + name)
    # Unquoted, a path with a blank would let "Z:\tmp\...\my.exe" run in its place.
    assert stored["ImagePath"] == f'"{winpath(exe)}"'
    assert (stored["Start"], stored["Type"]) == (start_type, service_type)
    # Every name, in order; the empty one between the commas is dropped.
    assert stored["DependOnService"] == ["Tcpip", "Dnscache"]
    assert stored["Description"] == "Runs the sample. ∑"
    assert stored["DisplayName"] == name


def test_empty_dependency_key_stores_no_dependencies(service_launcher, services, registry):
    exe, name = service_launcher(keys={"149": ""})
    assert services.command(exe, "/install").exit_code == 0
    stored = registry.values(SERVICES_KEY + name)
    assert "DependOnService" not in stored or stored["DependOnService"] in ([], [""], "")


def test_a_dependency_list_at_the_length_limit_arrives_whole(service_launcher, services,
                                                             registry):
    # 5999 bytes, the most a value holds: names of 9 characters and a last one to fill up.
    names = [f"Dep{n:06d}" for n in range(599)]
    names.append("L" * (5999 - len(",".join(names)) - 1))
    value = ",".join(names)
    assert len(value) == 5999
    exe, name = service_launcher(keys={"149": value})
    assert services.command(exe, "/install").exit_code == 0
    assert registry.values(SERVICES_KEY + name)["DependOnService"] == names


@pytest.mark.parametrize("tail, name, service_type", [
    pytest.param('install{n}', "{n}", 0x110, id="name-from-line"),
    pytest.param('install non-interactive {n} two', "{n} two", 0x10, id="non-interactive-first"),
    pytest.param('install {n} non-interactive', "{n} non-interactive", 0x110,
                 id="non-interactive-last-is-name"),
    pytest.param('install "{n} q"', '"{n} q"', 0x110, id="quotes-kept"),
])
def test_service_name_on_the_command_line(service_launcher, services, registry, tail, name,
                                          service_type):
    exe, configured = service_launcher()
    stem = services.name("Cl")
    name = services.track(name.format(n=stem))
    tail = "/" + tail.format(n=(" " + stem) if tail == "install{n}" else stem)
    result = services.command(exe, tail)
    assert (result.stdout_text, result.exit_code) == (f"Installed service '{name}'.\n", 0)
    assert registry.values(SERVICES_KEY + name)["Type"] == service_type
    assert not registry.exists(SERVICES_KEY + configured)


@pytest.mark.parametrize("where", ["command line", "key 101"])
def test_too_long_service_name_is_refused(service_launcher, services, registry, where):
    long_name = "N" * 6000
    if where == "key 101":
        exe, _ = service_launcher(name=long_name)
        tail = "/install"
    else:
        exe, _ = service_launcher()
        tail = "/install " + long_name
    result = services.command(exe, tail)
    assert result.stdout_text == "Service name too long: at most 5999 characters.\n"
    assert result.exit_code == 1
    assert not registry.exists(SERVICES_KEY + long_name[:5999])


def test_install_and_start_installs_then_starts(service_launcher, services):
    exe, name = service_launcher()
    result = services.command(exe, "/install-and-start")
    assert result.stdout_text == f"Installed service '{name}'.\nStarting service '{name}'.\n"
    assert result.exit_code == 0
