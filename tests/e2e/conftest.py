"""Fixtures of the end-to-end suite: the built programs, the Wine session scripts/test starts, the
loopback server (pytest-httpserver), a TLS stand-in for Google's download hosts, and throw-away
install folders with the real launcher running in them."""
import functools
import hashlib
import io
import json
import os
import queue
import select
import shutil
import socket
import socketserver
import ssl
import struct
import subprocess
import tempfile
import threading
import time
import zipfile
from pathlib import Path

import pytest
import pytest_httpserver.httpserver
import trustme
from werkzeug import Response

# A server that keeps silent on one connection must still answer the next.
pytest_httpserver.httpserver.make_server = functools.partial(pytest_httpserver.httpserver.make_server, threaded=True)

STANDIN = object()  # file content: a copy of the stand-in program
OLD = b"previous contents"  # what a download's destination holds before it
PATTERN = bytes(range(256)) * 4097  # sliced for bodies given by their size, pieces up to 1 MiB
GOOGLE = ("drive.google.com", "docs.google.com", "drive.usercontent.google.com")
MAP_FAILURE = b"failed to map the shared user data"  # now and then Wine cannot start a process
MODIFIED = "Sun, 06 Dec 2026 10:00:00 GMT"  # a Last-Modified date
FOLDER = "Jogo d'Ação ‘Teste’"  # every install folder: blanks, apostrophe, accent, typographic quotes


def pytest_addoption(parser):
    parser.addoption("--build", required=True, help="the build folder")


@pytest.fixture(scope="session")
def build(request):
    return Path(request.config.getoption("--build")).resolve()


@pytest.fixture(scope="session")
def wine_env():
    """For Wine programs: the prefix and display of scripts/test; loopback is reached directly."""
    if not (os.environ.get("WINEPREFIX") and os.environ.get("DISPLAY")):
        pytest.exit("WINEPREFIX and DISPLAY must be set: run the tests through scripts/test", returncode=2)
    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    return dict(env, WINEDEBUG="-all", no_proxy="127.0.0.1")


@pytest.fixture(scope="session")
def httpserver_listen_address():
    return ("127.0.0.1", 0)


def traced(env, channels):
    """`env` with Wine's messages on `channels` also shown (the test session's WINEDEBUG mutes the rest)."""
    return dict(env, WINEDEBUG=env.get("WINEDEBUG", "-all") + "," + channels)


def wine(env, *args):
    """Runs a Wine program to its end. Now and then Wine cannot start a process (the page it shares
    with the new process is taken there): only such a start is tried again."""
    env = traced(env, "err+virtual")
    for _ in range(3):
        # Into files, not pipes: a Wine service the program happens to start (the desktop) inherits
        # its output and would hold a pipe open long after the program has ended.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            ran = subprocess.run(["wine", *map(str, args)], env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                 timeout=120)
            out.seek(0)
            err.seek(0)
            done = subprocess.CompletedProcess(ran.args, ran.returncode, out.read(), err.read())
        if MAP_FAILURE not in done.stderr:
            break
    return done


def winpath(path):
    return "Z:" + str(path).replace("/", "\\")  # Wine maps the Unix root to drive Z:


def wait_until(condition, seconds):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.1)
    return condition()


def body(data, *, status=200, content_type="application/octet-stream", length=None, chunked=False, piece=65536,
         pause=0.0, drop_after=None, reset=False):
    """A server handler for what respond_with_data cannot say. `data` (bytes, or a size for that
    many PATTERN bytes) goes out in pieces of `piece` bytes, `pause` seconds apart. Content-Length
    states `length` (by default the true one) unless the body is `chunked`. After `drop_after`
    bytes the connection ends: closed, or reset when `reset`."""
    size = data if isinstance(data, int) else len(data)

    def handler(request):
        sock, end = request.environ["werkzeug.socket"], min(size, size if drop_after is None else drop_after)

        def pieces():
            for at in range(0, end, piece):
                time.sleep(pause if at else 0)
                n = min(piece, end - at)
                yield PATTERN[at % 256:at % 256 + n] if isinstance(data, int) else data[at:at + n]
            if drop_after is not None and reset:
                time.sleep(0.3)  # the client takes the data first, so the reset is what it meets
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                # The server's own file objects still hold the socket: only closing the descriptor
                # itself (theirs then fail on a detached socket) makes the reset happen now.
                os.close(sock.detach())
            elif drop_after is not None:
                sock.shutdown(socket.SHUT_RDWR)

        headers = {} if chunked else {"Content-Length": str(size if length is None else length)}
        response = Response(pieces(), status, headers, content_type=content_type, direct_passthrough=True)
        if content_type is None:
            del response.headers["Content-Type"]
        return response
    return handler


def html(text, status=200):
    """A handler answering `text` as a web page, as Google's hosts and many a host do."""
    return body(text.encode(), status=status, content_type="text/html; charset=utf-8")


def wine_temp():
    """The Wine user's temporary folder, as Windows programs in the test prefix see it."""
    return next(Path(os.environ["WINEPREFIX"]).glob("drive_c/users/*/Temp"))


def tree(folder):
    """Every file (its bytes) and folder (None) under `folder`, by relative path."""
    return {p.relative_to(folder).as_posix(): None if p.is_dir() else p.read_bytes() for p in folder.rglob("*")}


def resumable(data, *, drops=(), validator=("ETag", '"v1"'), modified=None, ranges=True, shift=0, grown=0, tamper=False):
    """A handler serving `data` as a file that can be continued: a single Range whose If-Range
    matches the validator or the Last-Modified date `modified` (a weak ETag never does), or that has
    none, gets its 206 (its Content-Range moved by `shift`, or its total by `grown`, to fake a wrong
    one; its last byte flipped when `tamper`). An answer ends early at the first of `drops` inside
    it, which is then used up: a drop is an offset into the file, or (offset, seconds of silence
    before the close). `validator` may be changed between requests; `served` counts the body bytes
    sent."""
    def handler(request):
        status, head = 200, {"Accept-Ranges": "bytes"} if ranges else {}
        if handler.validator:
            head[handler.validator[0]] = handler.validator[1]
        if modified:
            head["Last-Modified"] = modified
        span, if_range = request.range and request.range.range_for_length(len(data)), request.headers.get("If-Range")
        if ranges and handler.validator and span and if_range in (None, handler.validator[1], modified) and \
                not (if_range or "").startswith("W/"):
            status = 206
            head["Content-Range"] = "bytes %d-%d/%d" % (span[0] + shift, span[1] - 1, len(data) + grown)
        start, stop = span if status == 206 else (0, len(data))
        end, stall = min([d for d in handler.drops if start < d[0] < stop] + [(stop, 0)])
        if end < stop:
            handler.drops.remove((end, stall))
        sock = request.environ["werkzeug.socket"]

        def pieces():
            for at in range(start, end, 65536):
                piece = bytearray(data[at:min(end, at + 65536)])
                piece[-1] ^= tamper and status == 206 and at + len(piece) == stop
                handler.served += len(piece)
                yield bytes(piece)
            if end < stop:
                time.sleep(stall)
                sock.shutdown(socket.SHUT_RDWR)
        head["Content-Length"] = str(stop - start)
        return Response(pieces(), status, head, content_type="application/zip", direct_passthrough=True)
    handler.drops = [d if isinstance(d, tuple) else (d, 0) for d in drops]
    handler.validator, handler.served = validator, 0
    return handler


def zipped(entries, build=None, deflated=()):
    """A zip of `entries` (name: bytes, or STANDIN for a copy of the stand-in from `build`), stored but
    for the names in `deflated`."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w") as z:
        for name, entry in entries.items():
            z.writestr(name, (build / "tests/standin.exe").read_bytes() if entry is STANDIN else entry,
                       zipfile.ZIP_DEFLATED if name in deflated else zipfile.ZIP_STORED)
    return buf.getvalue()


class Unseekable(io.BytesIO):
    """A stream zipfile cannot seek back in, so it follows each entry with a data descriptor."""
    def seek(self, *args):
        raise OSError("not seekable")


class Cp437Name(zipfile.ZipInfo):
    """Names stored in the DOS code page without the UTF-8 flag, as old zip tools did."""
    def _encodeFilenameFlags(self):
        return self.filename.encode("cp437"), self.flag_bits & ~0x800


class Utf8Unflagged(zipfile.ZipInfo):
    """Names stored as UTF-8 bytes without the UTF-8 flag, as Info-ZIP's zip -r writes them."""
    def _encodeFilenameFlags(self):
        return self.filename.encode("utf-8"), self.flag_bits & ~0x800


def make_zip(entries, stream=False, zip64=False, names=zipfile.ZipInfo):
    """`entries`: name -> content (deflated), (content, method), or None for a folder entry."""
    out = Unseekable() if stream else io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:
        for name, content in entries.items():
            info = names(name, date_time=(2024, 5, 6, 7, 8, 10))
            if content is None:
                info.CRC = info.file_size = info.compress_size = 0
                info.external_attr = 0x10
                z.mkdir(info)
                continue
            data, info.compress_type = content if isinstance(content, tuple) else (content, zipfile.ZIP_DEFLATED)
            with z.open(info, "w", force_zip64=zip64) as f:
                f.write(data)
    return out.getvalue()


@pytest.fixture
def serve(httpserver, build):
    """Routes "/path?query" on the test server, or "host/path?query" for a Google host. A reply is
    the body ("{url}" stands for the server; a dict is a zip of stored entries, STANDIN for a copy
    of the stand-in), a (body, status) pair, or a handler."""
    def add(replies):
        for route, reply in replies.items():
            host, _, target = route.partition("/")
            path, _, query = target.partition("?")
            expect = httpserver.expect_request("/" + path, query_string=query or None,
                                               headers={"Host": host} if host else None)
            data, status = reply if isinstance(reply, tuple) else (reply, 200)
            if isinstance(data, dict):
                data = zipped(data, build)
            elif isinstance(data, str):
                data = data.replace("{url}", httpserver.url_for("").rstrip("/"))
            if callable(reply):
                expect.respond_with_handler(reply)
            else:
                expect.respond_with_data(data, status)
    return add


def seen(server):
    """The requests the server answered, in order, written as the routes of `serve`."""
    return [("" if r.host.startswith("127.") else r.host) + r.full_path.rstrip("?") for r, _ in server.log]


@pytest.fixture(scope="session")
def google(wine_env, make_httpserver):
    """For Wine programs that fetch from Google's download hosts: a CONNECT proxy ends their TLS
    with a certificate of a throwaway CA, trusted in the test prefix only, and hands the requests to
    the test server, where the Host header tells the hosts apart. Nothing else gets through."""
    ca, tls = trustme.CA(), ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ca.issue_cert(*GOOGLE).configure_cert(tls)
    der = ssl.PEM_cert_to_DER_cert(ca.cert_pem.bytes().decode())
    # Wine keeps the ROOT store in the registry: a key per certificate, named by its SHA-1, holding
    # it as a serialized element (id 32, encoding 1, length, bytes).
    key = r"HKLM\Software\Microsoft\SystemCertificates\Root\Certificates" + "\\" + hashlib.sha1(der).hexdigest().upper()
    blob = struct.pack("<III", 32, 1, len(der)) + der
    assert wine(wine_env, "reg", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f").returncode == 0

    class Tunnel(socketserver.StreamRequestHandler):
        def handle(self):
            method, target, _ = self.rfile.readline().decode("latin-1").split()
            while self.rfile.readline().strip():
                pass
            if method != "CONNECT" or target.rpartition(":")[0] not in GOOGLE:
                return self.wfile.write(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
            self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
            with tls.wrap_socket(self.connection, server_side=True) as inner, \
                    socket.create_connection(("127.0.0.1", make_httpserver.port)) as upstream:
                while ready := [inner] if inner.pending() else select.select([inner, upstream], [], [], 30)[0]:
                    for sock in ready:
                        if not (data := sock.recv(65536)):
                            return
                        (upstream if sock is inner else inner).sendall(data)

    proxy = socketserver.ThreadingTCPServer(("127.0.0.1", 0), Tunnel)
    proxy.daemon_threads = True
    threading.Thread(target=proxy.serve_forever, daemon=True).start()
    yield dict(wine_env, http_proxy="http://127.0.0.1:%d" % proxy.server_address[1])
    proxy.shutdown()
    wine(wine_env, "reg", "delete", key, "/f")


@pytest.fixture
def fetch(build, wine_env, tmp_path):
    """Runs DownloadFile once into a file that holds OLD before (or into `dest`): its result, its
    progress calls [received, expected, ms], and what the file holds afterwards (None: deleted).
    With `archive` (remote version, first pause and stall limit in ms), runs DownloadArchive into
    tmp_path/update_temp.zip instead and gives its JSON report (ok, calls, waits, restarts, sha256)."""
    out = tmp_path / "out.bin"

    def run(url, env=wine_env, dest=None, archive=()):
        out.write_bytes(OLD)
        done = wine(env, build / "tests/fetch.exe", url, dest or winpath(out), *archive)
        assert done.stdout, (done.returncode, done.stderr[-500:])  # the driver printed nothing: why
        result = json.loads(done.stdout)
        return result if archive else (result["ok"], result["calls"], out.read_bytes() if out.exists() else None)
    return run


class Probe:
    """One probe.exe per test process, serving a request per call: a Wine process start costs more
    CPU than most calls take. A probe whose wait ran out has exited; the next call starts another."""
    running = None
    DONE = b'{"done": true}\n'

    def __init__(self, env, build):
        self.err = tempfile.TemporaryFile()  # a file: Wine's services may inherit it
        self.proc = subprocess.Popen(["wine", build / "tests/probe.exe", "serve"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.err,
                                     env=traced(env, "err+virtual"))
        self.lines = queue.Queue()
        threading.Thread(target=lambda: list(map(self.lines.put, self.proc.stdout)), daemon=True).start()

    @classmethod
    def ask(cls, env, build, commands):
        """As `wine` running probe.exe with `commands` would: its exit code, records and errors."""
        for _ in range(3):  # as `wine` does, when Wine could not start the probe
            if not (cls.running and cls.running.proc.poll() is None):
                cls.running = Probe(env, build)
            probe, out, deadline = cls.running, [], time.monotonic() + 120
            probe.proc.stdin.write("\t".join(map(str, commands)).encode() + b"\n")
            probe.proc.stdin.flush()
            while out[-1:] != [cls.DONE]:
                try:
                    out.append(probe.lines.get(timeout=0.2))
                except queue.Empty:
                    if probe.proc.poll() is not None and probe.lines.empty() or time.monotonic() > deadline:
                        probe.proc.kill()
                        break
            probe.err.seek(0)
            err = probe.err.read()
            if out or MAP_FAILURE not in err:
                break
        finished = out[-1:] == [cls.DONE]
        return subprocess.CompletedProcess(commands, 0 if finished else 1, b"".join(out[:-1] if finished else out), err)


class Install:
    """An install folder with the launcher and `files` ("{url}" stands for the test server)."""

    def __init__(self, build, env, folder, files, url):
        self.build, self.env, self.dir, self.proc = build, env, folder, None
        folder.mkdir(parents=True)
        shutil.copy(build / "VelmoraLauncher.exe", folder)
        for rel, content in files.items():
            (folder / rel).parent.mkdir(parents=True, exist_ok=True)
            if content is STANDIN:
                shutil.copy(build / "tests/standin.exe", folder / rel)
            else:
                content = content.encode() if isinstance(content, str) else content
                (folder / rel).write_bytes(content.replace(b"{url}", url.encode()))

    def start(self, cwd=None):
        self.cwd, self.err = cwd, tempfile.TemporaryFile()  # a file: Wine's services may inherit it
        self.proc = subprocess.Popen(["wine", self.dir / "VelmoraLauncher.exe"], cwd=cwd or self.dir,
                                     env=traced(self.env, "err+all"),
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=self.err)

    def probe(self, *commands):
        """What probe.exe prints for `commands` about this folder's launcher; a wait that runs out
        fails the test, unless Wine could not start the launcher at all (as `wine` retries)."""
        done = Probe.ask(self.env, self.build, ["folder", winpath(self.dir), *commands])
        records = [json.loads(line) for line in done.stdout.decode().splitlines()]
        launcher = None
        if done.returncode and self.proc:
            self.err.seek(0)
            launcher = self.proc.poll(), self.err.read()[-2000:]  # its exit code and Wine's errors
            if launcher[0] is not None and MAP_FAILURE in launcher[1]:
                self.start(self.cwd)
                return self.probe(*commands)
        assert done.returncode == 0, (done.returncode, records, done.stderr[-2000:], launcher)
        return records

    def calls(self, folder="", wait=0):
        """The stand-in starts logged in `folder`: (exe name, current folder, command line), given
        `wait` seconds to appear."""
        log = self.dir / folder / "standin.log"
        wait_until(lambda: log.exists() and log.read_bytes().endswith(b"\n"), wait)  # created before it is written
        return [tuple(line.split("\t")) for line in log.read_text("utf-8").splitlines()] if log.exists() else []

    def client_started(self):
        """The launcher ended with 0 and the client ran once, in bin (its log is there), with no
        arguments of the launcher's making."""
        assert self.proc.wait(20) == 0
        (name, _, cmdline), = self.calls("bin", wait=10)
        assert cmdline.strip().strip('"').lower().endswith(name.lower()), cmdline


@pytest.fixture(scope="session")
def system_tools(build, wine_env):
    """The stand-in as tar.exe and PowerShell where the launcher looks for them, in the prefix's
    system folder; each test's install folder (the tools' current folder) holds their actions. A
    tar.exe given no action hands its command line to the real one, bsdtar.exe beside it (modules
    run side by side in one prefix, and some rows need tar to fail or hang)."""
    system = Path(wine_env["WINEPREFIX"]) / "drive_c/windows/system32"
    if not (build / "bsdtar/bsdtar.exe").exists():
        pytest.exit("build/bsdtar/bsdtar.exe is missing: run scripts/bsdtar (build_all does)", returncode=2)
    for tool, made in ((system / "tar.exe", "tests/standin.exe"), (system / "bsdtar.exe", "bsdtar/bsdtar.exe"),
                       (system / "WindowsPowerShell/v1.0/powershell.exe", "tests/standin.exe")):
        tool.parent.mkdir(parents=True, exist_ok=True)
        copy = tool.with_name("%s.%d" % (tool.name, os.getpid()))  # other modules may be copying it too
        shutil.copy(build / made, copy)
        os.replace(copy, tool)


@pytest.fixture
def install(build, wine_env, tmp_path, httpserver, system_tools):
    """Makes install folders named FOLDER and starts the launcher in them; stops it at the end."""
    made = []

    def make(files, env=wine_env, start=True):
        made.append(Install(build, env, tmp_path / str(len(made)) / FOLDER, files, httpserver.url_for("").rstrip("/")))
        if start:
            made[-1].start()
        return made[-1]
    yield make
    for inst in made:
        if inst.proc and inst.proc.poll() is None:
            inst.proc.kill()
            inst.proc.wait()
