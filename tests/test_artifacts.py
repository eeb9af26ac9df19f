"""What the build delivers: images of the right kind, stripped, standing on their own."""

import re
import subprocess

import pytest

from harness import DIST, assert_pe, read_pe

# Known DLLs that the JVM loads anyway. Anything else is bound at run time from the system
# directory: an import could be planted beside the program, and every module loaded before
# the JVM makes its start slower (it walks them all when it loads its first library).
STUB_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "msvcrt.dll"}


@pytest.mark.parametrize("path, machine, subsystem", [
    ("win64/app-launcher.exe", "x64", "gui"),
    ("win64/setup-launcher.exe", "x64", "gui"),
    ("win32/setup-launcher.exe", "x86", "gui"),
    ("win64/service-launcher.exe", "x64", "console"),
])
def test_launcher_images(path, machine, subsystem):
    exe = DIST / path
    if not exe.is_file():
        pytest.skip(f"{exe} is not built (make build)")
    assert_pe(exe, machine=machine, subsystem=subsystem, stripped=True)
    # Nothing may follow the last section of a stub: that is where the payload goes.
    assert read_pe(exe).overlay_size == 0
    imports = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", str(exe)], capture_output=True, text=True).stdout
    dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", imports)}
    assert dlls <= STUB_IMPORTS, f"imports more than the known DLLs: {dlls - STUB_IMPORTS}"


SHIPPED = ["win64/app-launcher.exe", "win64/setup-launcher.exe", "win32/setup-launcher.exe",
           "win64/service-launcher.exe"]


@pytest.mark.parametrize("path", SHIPPED)
def test_shipped_stubs_carry_no_test_seam(path):
    exe = DIST / path
    if not exe.is_file():
        pytest.skip(f"{exe} is not built (make build)")
    assert b"QLN_TEST_" not in exe.read_bytes()
    # The seamed twin the tests run does read them; otherwise the check above proves nothing.
    twin = exe.parent / "test-stubs" / exe.name
    assert twin.is_file(), "the build makes a seamed twin of every stub"
    assert b"QLN_TEST_" in twin.read_bytes()
    assert_pe(twin, machine="x86" if path.startswith("win32") else "x64",
              subsystem="console" if "service" in path else "gui", stripped=True)


@pytest.mark.parametrize("path", SHIPPED)
def test_stubs_declare_themselves_long_path_aware(path):
    exe = DIST / path
    if not exe.is_file():
        pytest.skip(f"{exe} is not built (make build)")
    image = exe.read_bytes()
    # One manifest only: a second one would make the loader refuse the image.
    assert image.count(b"<assembly ") == 1
    manifest = image[image.index(b"<assembly "):image.index(b"</assembly>")]
    assert b"<ws2:longPathAware>true</ws2:longPathAware>" in manifest
    assert b'level="asInvoker"' in manifest
