"""The installer's runtime download under Wine, against a real HTTP server on 127.0.0.1 that
the tests run: key 157, the retries and their failures, the pinned SHA-256 of key 162,
the system-directory-only WinINet, and dialog 104."""

import hashlib
import http.server
import json
import os
import shutil
import socket
import ssl
import subprocess
import struct
import threading
import time
from pathlib import Path

import pytest

from conftest import require_built
from harness import winpath
from harness.java_side import read_record
from test_installer import HAND_OVER, environment, installer_config, main_called, \
    stand_in_archive

ROOT = Path(__file__).resolve().parent.parent
TEXTS = {"20003": "Download failed.", "20013": "Setup Test",
         "20005": "No %S-bit Java here. Download one?", "20006": "No %S-bit Java here.",
         "20008": "%.1f of %.1f MB (%.0f%%) %.2f", "20019": "at least", "20020": "at most",
         "20010": "Get it", "20011": "Locate...", "20012": "Stop"}


class Server:
    """Serves `routes` {path: handler(request)}; records (path, time) of each request."""

    def __init__(self, routes, tls=None):
        self.requests = []
        self.scheme = "https" if tls else "http"
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):
                server.requests.append((self.path, time.monotonic()))
                routes[self.path](self)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        if tls:
            self.httpd.socket = tls.wrap_socket(self.httpd.socket, server_side=True)
        self.httpd.daemon_threads = True
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path):
        return f"{self.scheme}://127.0.0.1:{self.httpd.server_address[1]}{path}"

    def count(self, path):
        return sum(1 for p, _ in self.requests if p == path)

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def send(body, status=200, length=True, pieces=1, pause=0.0, reset_after=None, cut_after=None):
    def handler(request):
        request.send_response(status)
        if length:
            request.send_header("Content-Length", str(len(body)))
        else:
            request.send_header("Connection", "close")
        request.end_headers()
        data = body if cut_after is None and reset_after is None else body[:reset_after or cut_after]
        step = max(1, len(data) // pieces)
        for at in range(0, len(data), step):
            request.wfile.write(data[at:at + step])
            request.wfile.flush()
            time.sleep(pause)
        if reset_after is not None:
            request.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                          struct.pack("ii", 1, 0))
            request.connection.close()
        request.close_connection = True
    return handler


@pytest.fixture
def archive_bytes(test_dir, stand_in_home):
    return stand_in_archive(test_dir / "served.tar.gz", stand_in_home).read_bytes()


@pytest.fixture
def serve():
    servers = []

    def start(routes, tls=None):
        server = Server(routes, tls)
        servers.append(server)
        return server

    yield start
    for server in servers:
        server.stop()


@pytest.fixture
def download_setup(pack, archive_bytes):
    """An installer that downloads from `url`; pinned to the served archive unless `sha256`
    (hex or {"file": path}) or a raw key 162 says otherwise: the packer takes a plain HTTP
    address only with a pin."""
    def make(url, keys=None, name="setup.exe", sha256=None):
        config = installer_config(localizedTexts=TEXTS,
                                  searchSequence=[{"type": "A", "value": "Z:\\nowhere"}])
        if isinstance(sha256, dict):
            config["runtimeDownloadPinFrom"] = sha256["file"]
        elif sha256:
            config["runtimeDownloadSha256"] = sha256
        elif "162" not in (keys or {}):
            config["runtimeDownloadSha256"] = hashlib.sha256(archive_bytes).hexdigest()
        config["keys"] = {"150": url, **(keys or {})}
        return pack(config, stub="setup-launcher", name=name)
    return make


def errors(result):
    return [l[len("ERROR: "):] for l in (result.log or "").splitlines() if l.startswith("ERROR: ")]


def test_key_157_downloads_and_runs_on_the_downloaded_runtime(download_setup, serve, run,
                                                              test_dir, archive_bytes):
    server = serve({"/jre.tar.gz": send(archive_bytes)})
    # The packer computes the pin from a local copy of the archive.
    (test_dir / "local-copy.tar.gz").write_bytes(archive_bytes)
    exe = download_setup(server.url("/jre.tar.gz"), keys={"157": "1"},
                         sha256={"file": "local-copy.tar.gz"})
    result = run(exe, args=["-q"], env=environment(test_dir), timeout=120)
    assert result.exit_code == 0, result.log
    assert result.stdout_text == "No JRE found. Trying to download.\n"
    log = result.log
    for line in ["Downloading JRE", "file size: %d, handle " % len(archive_bytes),
                 "download successful", "Done", "untaring JRE was successful"]:
        assert line in log
    assert not result.boxes
    assert main_called(test_dir)
    assert server.count("/jre.tar.gz") == 1


FAILURES = {
    "not-found": (lambda body: send(b"<html>no such file</html>" * 20, status=404),
                  "download refused: HTTP status 404"),
    # Wine's WinINet reports a reset in the body as a failed read or as an early end, and a
    # reset right at the next connection as a failed open.
    "reset": (lambda body: send(body, reset_after=len(body) // 2),
              ("InternetReadFile failed", "download ended after", "InternetOpenUrl failed")),
    "short": (lambda body: send(body, cut_after=len(body) // 2), "download ended after"),
    "checksum": (lambda body: send(body), "download checksum mismatch"),
}


@pytest.mark.parametrize("case", sorted(FAILURES))
def test_failed_downloads_are_retried_three_times(download_setup, serve, run, test_dir,
                                                  archive_bytes, case):
    make, expected = FAILURES[case]
    server = serve({"/jre.tar.gz": make(archive_bytes)})
    keys = {"157": "1"}
    if case == "checksum":
        keys["162"] = "0" * 64
    exe = download_setup(server.url("/jre.tar.gz"), keys=keys)
    result = run(exe, args=["-q"], env=environment(test_dir), timeout=120)
    assert result.exit_code == 1
    assert result.stderr_text.startswith(TEXTS["20003"]), result.stderr_text
    expected = expected if isinstance(expected, tuple) else (expected,)
    found = [line for line in result.log.splitlines() if any(text in line for text in expected)]
    assert len(found) == 3, result.log
    assert errors(result).count("Retry JRE download") == 3
    assert "download successful" not in result.log
    times = [t for p, t in server.requests]
    assert 2 <= len(times) <= 3 if case == "reset" else len(times) == 3
    assert all(b - a >= 1.0 for a, b in zip(times, times[1:])), times
    assert not list((test_dir / "tmp").rglob("jre.tar.gz"))
    assert not main_called(test_dir)


def test_no_content_length_gives_up_after_20_queries(download_setup, serve, run, test_dir,
                                                     archive_bytes):
    server = serve({"/jre.tar.gz": send(archive_bytes, length=False)})
    exe = download_setup(server.url("/jre.tar.gz"), keys={"157": "1"})
    result = run(exe, args=["-q"], env=environment(test_dir), timeout=180)
    assert result.exit_code == 1
    assert result.log.splitlines().count("Giving up") == 3
    assert "HttpQueryInfo (try 20) failed with error code" in result.log
    assert server.count("/jre.tar.gz") == 60


def test_a_planted_wininet_dll_is_never_loaded(download_setup, serve, run, test_dir,
                                               archive_bytes, probe, prefer_native_dll):
    planted = ROOT / "build" / "win64" / "tests" / "tools" / "planted" / "wininet.dll"
    if not planted.is_file():
        pytest.skip("planted wininet.dll is not built")
    server = serve({"/jre.tar.gz": send(archive_bytes)})
    exe = download_setup(server.url("/jre.tar.gz"), keys={"157": "1"})
    shutil.copyfile(planted, test_dir / "wininet.dll")
    # Wine prefers its own copy unless told otherwise: with this a search-order load would
    # take the planted file.
    prefer_native_dll("wininet")
    marker = test_dir / "planted-loaded.txt"
    result = run(exe, args=["-q"], env=environment(test_dir), timeout=120)
    assert not marker.exists()
    assert result.exit_code == 0, result.log
    assert "download successful" in result.log
    # Control: the same staging does hand the planted file to a program beside it that takes
    # wininet.dll by bare name, so the clean run above is the installer's doing. (Wine names
    # its own copy after the file it stood in for, so only the marker tells them apart.)
    taker = shutil.copyfile(probe, test_dir / "takes-wininet.exe")
    run(taker, args=["loadlib", "wininet.dll"], env=environment(test_dir))
    assert marker.exists()


def probe(run, test_dir, cls, *options, name="probe"):
    tool = require_built("win64/test-tools/dialog-probe")
    out = test_dir / f"{name}.json"
    result = run(tool, args=["live", cls, "60000", winpath(out), *options], timeout=120)
    report = json.loads(out.read_text(encoding="utf-8")) if out.exists() else None
    return result.exit_code, report


@pytest.mark.parametrize("known, versions, expected", [
    (True, {"126": "1.8", "127": "17"}, "No 64-bit Java here. Download one? (at least 1.8, at most 17)"),
    (False, {"127": "17"}, "No 64-bit Java here. (at most 17)"),
    (False, {}, "No 64-bit Java here."),
])
def test_missing_runtime_dialog_and_cancel(download_setup, start, run, registry, test_dir,
                                           known, versions, expected):
    exe = download_setup("http://127.0.0.1:9/jre.tar.gz" if known else "", keys=versions)
    running = start(exe, env=environment(test_dir), timeout=120)
    shot = test_dir / "dialog104.bmp"
    code, report = probe(run, test_dir, "#32770", f"shot={winpath(shot)}", "cancel")
    assert code == 0
    controls = {c["id"]: c for c in report["controls"]}
    assert report["caption"] == "Setup Test"
    assert controls[1003]["text"] == expected
    assert controls[1004]["visible"] == known
    assert (controls[1004]["text"], controls[1005]["text"], controls[2]["text"]) == (
        "Get it", "Locate...", "Stop")
    result = running.wait()
    assert result.exit_code == 1
    assert registry.values(HAND_OVER) == {}


def half_then_wait(body, release):
    """Sends the first half of `body`, then the rest once `release` is set."""
    def handler(request):
        request.send_response(200)
        request.send_header("Content-Length", str(len(body)))
        request.end_headers()
        request.wfile.write(body[:len(body) // 2])
        request.wfile.flush()
        release.wait(timeout=300)
        request.wfile.write(body[len(body) // 2:])
        request.close_connection = True
    return handler


def test_download_button_shows_the_progress_line(download_setup, serve, start, run, test_dir,
                                                 archive_bytes):
    # The server holds the second half back until the test has seen the line, so the
    # download cannot end before the look, however slow the machine.
    release = threading.Event()
    server = serve({"/jre.tar.gz": half_then_wait(archive_bytes, release)})
    exe = download_setup(server.url("/jre.tar.gz"))
    running = start(exe, env=environment(test_dir), timeout=300)
    try:
        code, _ = probe(run, test_dir, "#32770", "press=1004", name="ask")
        assert code == 0
        shot = test_dir / "downloading.bmp"
        limit = time.monotonic() + 120
        while True:
            code, report = probe(run, test_dir, "MyDialogClass", f"shot={winpath(shot)}",
                                 name="progress")
            line = {c["id"]: c for c in report["controls"]}[1002] if report else None
            if code == 0 and line["visible"] and " MB (" in line["text"]:
                break
            assert time.monotonic() < limit, f"no progress line: {line}"
    finally:
        release.set()
    assert "%)" in line["text"] and "(100%)" not in line["text"], line["text"]
    result = running.wait()
    assert result.exit_code == 0, result.log
    assert "download successful" in result.log


def test_lengths_beyond_4_gib_are_refused(download_setup, serve, run, test_dir, archive_bytes):
    def huge(request):
        request.send_response(200)
        request.send_header("Content-Length", str((1 << 32) + len(archive_bytes)))
        request.end_headers()
        request.wfile.write(archive_bytes)
        request.close_connection = True

    server = serve({"/jre.tar.gz": huge})
    exe = download_setup(server.url("/jre.tar.gz"), keys={"157": "1"})
    result = run(exe, args=["-q"], env=environment(test_dir), timeout=120)
    assert result.exit_code == 1
    assert errors(result).count("download refused: Content-Length %d" % ((1 << 32) + len(archive_bytes))) == 3
    assert "file size:" not in result.log


def test_a_body_longer_than_announced_is_never_written_past_its_length(
        download_setup, serve, run, test_dir, archive_bytes):
    def longer(request):
        request.send_response(200)
        request.send_header("Content-Length", str(len(archive_bytes)))
        request.send_header("Connection", "close")
        request.end_headers()
        request.wfile.write(archive_bytes + b"\\x1f\\x8b trailing bytes of another file" * 50)
        request.close_connection = True

    server = serve({"/jre.tar.gz": longer})
    exe = download_setup(server.url("/jre.tar.gz"), keys={"157": "1"})
    result = run(exe, args=["-q"], env=environment(test_dir), timeout=120)
    log = result.log
    assert "file size: %d," % len(archive_bytes) in log
    # The reads stop at the announced length (Wine's WinINet also hides what follows, so the
    # launcher's check for more data finds none): exactly the announced file arrives.
    assert result.exit_code == 0, log
    assert "untaring JRE was successful" in log
    assert "download longer than announced" not in log


def test_cancel_in_the_progress_dialog_during_the_download(download_setup, serve, start, run,
                                                           registry, test_dir, archive_bytes):
    # Half the file, then nothing until the cancel has landed: the press always falls into
    # the download. (The worker then waits in its read for the rest; see the release below.)
    release = threading.Event()
    server = serve({"/jre.tar.gz": half_then_wait(archive_bytes, release)})
    exe = download_setup(server.url("/jre.tar.gz"), keys={"157": "1"})
    running = start(exe, env=environment(test_dir), timeout=180)
    partial = lambda: list((test_dir / "tmp").glob("*_dir*/jre.tar.gz"))
    try:
        limit = time.monotonic() + 120
        while not (partial() and partial()[0].stat().st_size > 0) and time.monotonic() < limit:
            time.sleep(0.1)
        assert partial(), "the download did not begin"
        values = registry.values(HAND_OVER)
        assert values.get("InstallStarted") == 1
        assert any(name.startswith("InstallStarted_") for name in values)
        code, _ = probe(run, test_dir, "MyDialogClass", "cancel", name="cancel")
        assert code == 0
        log = lambda: "".join(p.read_text(errors="replace")
                              for p in (test_dir / "tmp").glob("qln_nlog_*"))
        limit = time.monotonic() + 120
        while "Canceled installer" not in log() and time.monotonic() < limit:
            time.sleep(0.1)
        assert "Canceled installer" in log()
    finally:
        # A worker blocked in a read of a stalled connection sees the cancel only once
        # data comes again.
        release.set()
    result = running.wait()
    assert (result.exit_code, result.boxes) == (0, []), result.log
    assert registry.values(HAND_OVER) == {}
    assert list((test_dir / "tmp").glob("tvo*")) == []
    assert not main_called(test_dir)
    log = result.log.splitlines()
    assert "Canceled installer" in log and "Worker stopped after cancel" in log


def test_the_unpacked_archive_is_the_one_that_was_verified(download_setup, serve, start,
                                                            test_dir, archive_bytes,
                                                            stand_in_home):
    # Halfway through the download the test puts another archive under the download's name;
    # the installer must unpack what it received and hashed, not what the name now holds.
    planted_home = test_dir / "planted-home"
    shutil.copytree(stand_in_home, planted_home)
    (planted_home / "planted.txt").write_text("planted")
    planted = stand_in_archive(test_dir / "planted.tar.gz", planted_home)
    swapped = threading.Event()

    def gated(request):
        request.send_response(200)
        request.send_header("Content-Length", str(len(archive_bytes)))
        request.end_headers()
        half = len(archive_bytes) // 2
        request.wfile.write(archive_bytes[:half])
        request.wfile.flush()
        swapped.wait(120)
        request.wfile.write(archive_bytes[half:])
        request.close_connection = True

    server = serve({"/jre.tar.gz": gated})
    exe = download_setup(server.url("/jre.tar.gz"), keys={"157": "1"})
    running = start(exe, args=["-q"], env=environment(test_dir), timeout=180)
    partial = lambda: list((test_dir / "tmp").glob("*_dir*/jre.tar.gz"))
    limit = time.monotonic() + 120
    while not (partial() and partial()[0].stat().st_size > 0) and time.monotonic() < limit:
        time.sleep(0.1)
    assert partial(), "the download did not begin"
    os.replace(shutil.copy(planted, partial()[0].with_name("planted-copy")), partial()[0])
    swapped.set()
    result = running.wait()
    assert result.exit_code == 0, result.log
    assert "untaring JRE was successful" in result.log
    assert "planted.txt" not in result.log
    assert main_called(test_dir)


# ---------------------------------------------------------------------------------------
# HTTPS: WinINet checks the server's certificate against the system's roots

def self_signed_tls(directory):
    """A TLS context with a new self-signed certificate for 127.0.0.1, which no system trusts;
    returns (context, DER bytes of the certificate)."""
    key, cert = directory / "tls-key.pem", directory / "tls-cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-keyout", str(key), "-out", str(cert), "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1,DNS:127.0.0.1",
                    "-addext", "basicConstraints=critical,CA:TRUE"],
                   check=True, capture_output=True)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context, ssl.PEM_cert_to_DER_cert(cert.read_text())


def test_an_untrusted_certificate_fails_every_attempt_and_nothing_is_unpacked(
        download_setup, serve, run, test_dir, archive_bytes):
    tls, _ = self_signed_tls(test_dir)
    server = serve({"/jre.tar.gz": send(archive_bytes)}, tls=tls)
    exe = download_setup(server.url("/jre.tar.gz"), keys={"157": "1"})
    result = run(exe, args=["-q"], env=environment(test_dir), timeout=120)
    assert result.exit_code == 1, result.log
    assert result.stderr_text.startswith(TEXTS["20003"]), result.stderr_text
    assert errors(result).count("Retry JRE download") == 3
    assert "download successful" not in result.log
    assert "untaring" not in result.log and "extracting JRE" not in result.log
    # 12045: ERROR_INTERNET_INVALID_CA
    assert result.log.splitlines().count("InternetOpenUrl failed with error code 12045") == 3
    assert not server.requests
    assert not list((test_dir / "tmp").rglob("jre*"))
    assert not main_called(test_dir)


@pytest.fixture
def trusted_tls(test_dir, registry):
    """A self-signed certificate that Wine's root store holds for the test."""
    tls, der = self_signed_tls(test_dir)
    thumbprint = hashlib.sha1(der).hexdigest().upper()
    # A serialized store element: property 32 (the certificate itself), 1, length, data.
    blob = struct.pack("<III", 32, 1, len(der)) + der
    key = rf"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates\{thumbprint}"
    registry.write(key, "Blob", blob)
    yield tls
    registry.delete_key(key)


def redirect(to):
    def handler(request):
        request.send_response(302)
        request.send_header("Location", to)
        request.send_header("Content-Length", "0")
        request.end_headers()
    return handler


@pytest.mark.parametrize("route", ["direct", "to-https", "to-http"])
def test_https_redirects(download_setup, serve, run, test_dir, archive_bytes, trusted_tls,
                         route):
    plain = serve({"/jre.tar.gz": send(archive_bytes)})
    secure = serve({"/jre.tar.gz": send(archive_bytes),
                    "/to-https": redirect("/jre.tar.gz"),
                    "/to-http": redirect(plain.url("/jre.tar.gz"))}, tls=trusted_tls)
    path = "/jre.tar.gz" if route == "direct" else f"/{route}"
    exe = download_setup(secure.url(path), keys={"157": "1"})
    result = run(exe, args=["-q"], env=environment(test_dir), timeout=120)
    if route != "to-http":
        assert result.exit_code == 0, result.log
        assert "untaring JRE was successful" in result.log
        assert main_called(test_dir)
        return
    assert result.exit_code == 1, result.log
    assert errors(result).count("Retry JRE download") == 3
    refused = f"download refused: redirected from HTTPS to {plain.url('/jre.tar.gz')}"
    assert errors(result).count(refused) == 3
    assert "download successful" not in result.log and "extracting JRE" not in result.log
    assert not list((test_dir / "tmp").rglob("jre*"))
    assert not main_called(test_dir)
