"""What the splash tests share: BMP and PNG files to pack, screenshots of the Xvfb display,
comparisons with a tolerance, and splash-probe.exe (tests/tools/splash_probe.cpp) packed with a
splash screen."""

import socket
import struct
import subprocess
import time
import zlib
from dataclasses import dataclass

import pytest

from harness import ROOT, winpath
from harness.paths import tool_path

# Xvfb runs with this screen in harness.wine.
SCREEN = (1024, 768)


@dataclass
class Image:
    """RGB pixels, row by row from the top."""
    width: int
    height: int
    pixels: bytearray

    def get(self, x, y):
        at = 3 * (y * self.width + x)
        return tuple(self.pixels[at:at + 3])

    def crop(self, left, top, width, height):
        rows = bytearray()
        for y in range(top, top + height):
            start = 3 * (y * self.width + left)
            rows += self.pixels[start:start + 3 * width]
        return Image(width, height, rows)

    def png(self) -> bytes:
        """An 8-bit RGB PNG file."""
        raw = b"".join(b"\0" + bytes(self.pixels[3 * y * self.width:3 * (y + 1) * self.width])
                       for y in range(self.height))

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + \
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 2, 0, 0, 0)
        return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + \
            chunk(b"IDAT", zlib.compress(bytes(raw))) + chunk(b"IEND", b"")

    def bmp(self) -> bytes:
        """A bottom-up 24-bit BMP file."""
        stride = (self.width * 3 + 3) & ~3
        rows = bytearray()
        for y in range(self.height - 1, -1, -1):
            row = bytearray()
            for x in range(self.width):
                r, g, b = self.get(x, y)
                row += bytes((b, g, r))
            rows += row + bytes(stride - len(row))
        header = struct.pack("<2sIHHI", b"BM", 54 + len(rows), 0, 0, 54)
        info = struct.pack("<IiiHHIIiiII", 40, self.width, self.height, 1, 24, 0, len(rows),
                           2835, 2835, 0, 0)
        return header + info + bytes(rows)


def icon_file(size=16) -> bytes:
    """An .ico file with one 32-bit image of a single colour."""
    pixels = bytes((0, 0, 255, 255)) * size * size
    mask = bytes(((size + 31) // 32 * 4) * size)
    image = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(pixels) + len(mask),
                        0, 0, 0, 0) + pixels + mask
    return struct.pack("<HHH", 0, 1, 1) + \
        struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(image), 22) + image


def pattern_image(width, height, frame=(255, 255, 0)):
    """Four coloured quarters in a one-pixel frame. None of its colours is red, white or the
    light gray the launcher fills with, so text and gaps stand out."""
    quarters = ((0, 128, 0), (0, 0, 128), (128, 128, 0), (0, 128, 128))
    pixels = bytearray()
    for y in range(height):
        for x in range(width):
            if x in (0, width - 1) or y in (0, height - 1):
                pixels += bytes(frame)
            else:
                pixels += bytes(quarters[(2 if y >= height // 2 else 0) + (x >= width // 2)])
    return Image(width, height, pixels)


def screenshot(display: str, left=0, top=0, width=SCREEN[0], height=SCREEN[1]) -> Image:
    """A rectangle of the Xvfb screen as the X server shows it: a GetImage request on the root
    window, which holds every window on the screen (there is no compositing manager)."""
    number = display.lstrip(":").split(".")[0]
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as x:
        x.settimeout(30)
        x.connect(f"/tmp/.X11-unix/X{number}")
        # Connection set-up, little-endian, no authorization (Xvfb allows local clients).
        x.sendall(struct.pack("<BxHHHHxx", ord("l"), 11, 0, 0, 0))
        head = _receive(x, 8)
        if head[0] != 1:
            raise RuntimeError("the X server refused the connection")
        setup = _receive(x, struct.unpack_from("<H", head, 6)[0] * 4)
        vendor_length, = struct.unpack_from("<H", setup, 16)
        formats = setup[21]
        image_byte_order = setup[22]
        screen = 32 + (vendor_length + 3) // 4 * 4 + 8 * formats
        root, = struct.unpack_from("<I", setup, screen)
        # GetImage, ZPixmap, all planes.
        x.sendall(struct.pack("<BBHIhhHHI", 73, 2, 5, root, left, top, width, height,
                              0xFFFFFFFF))
        reply = _receive(x, 32)
        if reply[0] != 1:
            raise RuntimeError(f"GetImage failed with X error {reply[1]}")
        depth = reply[1]
        data = _receive(x, struct.unpack_from("<I", reply, 4)[0] * 4)
    if depth != 24 or len(data) < width * height * 4:
        raise RuntimeError(f"unexpected screen depth {depth}")
    order = "little" if image_byte_order == 0 else "big"
    pixels = bytearray()
    for at in range(0, width * height * 4, 4):
        value = int.from_bytes(data[at:at + 4], order)
        pixels += bytes(((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF))
    return Image(width, height, pixels)


def _receive(connection, size) -> bytes:
    data = bytearray()
    while len(data) < size:
        chunk = connection.recv(size - len(data))
        if not chunk:
            raise RuntimeError("the X server closed the connection")
        data += chunk
    return bytes(data)


def centred(width, height):
    """Where the launcher puts a splash window of this size on the test screen."""
    return (SCREEN[0] - width) // 2, (SCREEN[1] - height) // 2


def differing(a: Image, b: Image, tolerance=8):
    """Coordinates where the two images differ by more than `tolerance` in any channel."""
    assert (a.width, a.height) == (b.width, b.height)
    out = []
    for y in range(a.height):
        for x in range(a.width):
            if max(abs(p - q) for p, q in zip(a.get(x, y), b.get(x, y))) > tolerance:
                out.append((x, y))
    return out


def bounding_box(points):
    """(left, top, right, bottom) with right and bottom exclusive, or None."""
    if not points:
        return None
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


def pixels_near(image: Image, color, tolerance=60):
    return [(x, y) for y in range(image.height) for x in range(image.width)
            if max(abs(p - q) for p, q in zip(image.get(x, y), color)) <= tolerance]


def wait_until(condition, timeout=60, interval=0.2, what="the condition"):
    """Polls until `condition()` returns something true and returns it; fails after `timeout`."""
    give_up = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > give_up:
            pytest.fail(f"timed out waiting for {what}")
        time.sleep(interval)


# The splash window of most tests: the pattern image with a red status line and a white second
# line, neither of them a colour of the image.
WIDTH, HEIGHT = 320, 200
RED = (255, 0, 0)
WHITE = (255, 255, 255)
STATUS = {"text": "Starting up", "x": 20, "y": 30, "font": "Tahoma", "size": 14, "weight": 700,
          "color": list(RED)}
SECOND = {"text": "Version 2.0", "x": 24, "y": 150, "font": "Tahoma", "size": 9, "weight": 400,
          "color": list(WHITE)}


@pytest.fixture(scope="session")
def splash_probe_stub():
    """The stub name of splash-probe.exe for `pack`, built first when the build has none."""
    if tool_path("splash-probe") is None:
        done = subprocess.run(["cmake", "--build", "--preset", "win64", "--target", "splash-probe"],
                              cwd=ROOT, capture_output=True, text=True)
        if tool_path("splash-probe") is None:
            pytest.fail("cannot build splash-probe.exe:\n" + done.stdout + done.stderr)
    return "win64/test-tools/splash-probe"


def splash_config(**splash):
    """A config with the splash setting; `splash` adds to or replaces its fields."""
    settings = {"image": "splash.bmp", "statusText": STATUS, "secondText": SECOND}
    settings.update(splash)
    return {"applicationName": "Splash Test", "splashScreen": settings}


@pytest.fixture
def splash_files():
    return {"splash.bmp": pattern_image(WIDTH, HEIGHT).bmp()}


def window_on_screen(display, width=WIDTH, height=HEIGHT):
    """The screen where a centred splash window of this size shows."""
    left, top = centred(width, height)
    return screenshot(display, left, top, width, height)


def current_log(tmp_dir) -> str:
    """The log of the one running program, while it runs."""
    logs = sorted(tmp_dir.glob("qln_nlog_*"))
    return logs[-1].read_text(encoding="utf-8", errors="replace") if logs else ""


def shows(display, expected, width=WIDTH, height=HEIGHT):
    """Whether the centred window area shows `expected`, texts aside (at most 10 % differ)."""
    shot = window_on_screen(display, width, height)
    return len(differing(shot, expected)) < width * height // 10


def reference_shot(pack, start, wine_session, test_dir, stub, files, status_text, name):
    """What the window looks like when it starts with `status_text` in the status line."""
    exe = pack(splash_config(statusText={**STATUS, "text": status_text}), stub=stub,
               files=files, name=name)
    go = test_dir / (name + ".go")
    running = start(exe, args=["show", "wait-visible", "wait-file", winpath(go)])
    expected = pattern_image(WIDTH, HEIGHT)
    shot = wait_until(lambda: shows(wine_session.display, expected)
                      and window_on_screen(wine_session.display), what="the reference window")
    go.touch()
    assert running.wait().exit_code == 0
    # Let the next window start on an empty screen.
    wait_until(lambda: not shows(wine_session.display, expected), what="the reference to go")
    return shot
