"""Local stand-in for the Google download hosts, for end-to-end tests under Wine.

Wine's WinINet sends every request through the proxy named by the `http_proxy` environment
variable. This proxy answers CONNECT for the scripted hosts by terminating TLS itself, with a
certificate signed by a throwaway CA made by `make_test_ca`; `install_ca` trusts that CA inside
one Wine prefix only. Each scripted host+path gets a fixed reply, and every request is recorded
in order as (host, path with query). Plain-HTTP requests and CONNECTs to loopback hosts that are
not scripted are passed through, so a test's own local servers keep working behind the proxy;
everything else is refused and nothing ever reaches the network.

As a module:
    ca = make_test_ca(folder, label="my suite")
    install_ca(ca, trust_exe)                      # once per Wine prefix and CA
    with start_proxy(ca, {("drive.google.com", "/uc?..."): Reply(b"PK..")}) as proxy:
        env["http_proxy"] = proxy.url              # then run the program under Wine
        proxy.recorded()                           # [("drive.google.com", "/uc?..."), ...]

From the command line (makes the CA in FOLDER when missing and trusts it in $WINEPREFIX):
    python3 tls_proxy.py install-ca --trust-exe trust_ca.exe --dir FOLDER
"""

import argparse
import http
import os
import select
import socket
import ssl
import subprocess
import sys
import threading
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Dict, List, Optional, Tuple

DRIVE_HOSTS = ("drive.google.com", "docs.google.com", "drive.usercontent.google.com")
LOOPBACK = ("127.0.0.1", "localhost", "::1")
SOCKET_TIMEOUT = 30


@dataclass
class Reply:
    body: bytes = b""
    content_type: Optional[str] = "application/octet-stream"  # None: no Content-Type header
    status: int = 200


@dataclass
class TestCA:
    folder: Path
    ca_pem: Path
    ca_der: Path
    cert_pem: Path  # server certificate for every host in `hosts`
    key_pem: Path
    hosts: Tuple[str, ...]


Script = Dict[Tuple[str, str], Reply]


def _openssl(*args: str) -> None:
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _ca_files(folder: Path, hosts) -> TestCA:
    return TestCA(folder, folder / "ca.pem", folder / "ca.der", folder / "server.pem", folder / "server.key",
                  tuple(hosts))


def make_test_ca(folder, hosts=DRIVE_HOSTS, label="tests") -> TestCA:
    """A fresh CA (valid two days) and one server certificate naming all `hosts`.

    Installing a CA replaces earlier ones with the same subject, so test suites that may run at
    the same time in one prefix must pass different labels."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    ca = _ca_files(folder, hosts)
    ca_key = folder / "ca.key"
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "2",
             "-keyout", str(ca_key), "-out", str(ca.ca_pem), "-subj", "/CN=Velmora Test CA (%s)" % label,
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    _openssl("x509", "-in", str(ca.ca_pem), "-outform", "DER", "-out", str(ca.ca_der))
    csr = folder / "server.csr"
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-sha256", "-keyout", str(ca.key_pem), "-out", str(csr),
             "-subj", "/CN=" + hosts[0])
    ext = folder / "server.ext"
    ext.write_text("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature,keyEncipherment\n"
                   "extendedKeyUsage=serverAuth\nsubjectAltName=" + ",".join("DNS:" + h for h in hosts) + "\n")
    _openssl("x509", "-req", "-in", str(csr), "-CA", str(ca.ca_pem), "-CAkey", str(ca_key), "-CAcreateserial",
             "-sha256", "-days", "2", "-extfile", str(ext), "-out", str(ca.cert_pem))
    return ca


def windows_path(path) -> str:
    """The path as Wine's Z: drive shows it."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def install_ca(ca: TestCA, trust_exe, env=None) -> None:
    """Trusts the CA in the Wine prefix of `env` (default: this process's WINEPREFIX)."""
    env = dict(os.environ if env is None else env)
    if not env.get("WINEPREFIX"):
        raise RuntimeError("install_ca needs WINEPREFIX: it must never touch a default prefix")
    env.setdefault("WINEDEBUG", "-all")
    done = subprocess.run(["wine", str(trust_exe), windows_path(ca.ca_der)], env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=120)
    if done.returncode != 0:
        raise RuntimeError("trusting the test CA failed: %r %r" % (done.stdout, done.stderr))


def _recv_head(sock) -> Optional[bytes]:
    """Bytes up to and including the blank line; None when the peer closes first."""
    head = b""
    while not head.endswith(b"\r\n\r\n"):
        chunk = sock.recv(1)  # byte by byte: nothing past the head may be consumed
        if not chunk:
            return None
        head += chunk
        if len(head) > 65536:
            return None
    return head


def _parse_head(head: bytes):
    lines = head.decode("latin-1").split("\r\n")
    method, target, _ = (lines[0].split(" ") + ["", ""])[:3]
    headers = {}
    for line in lines[1:]:
        if ":" in line:
            name, value = line.split(":", 1)
            headers[name.strip().lower()] = value.strip()
    return method, target, headers


def _split_host_port(text: str, default_port: int) -> Tuple[str, int]:
    if text.startswith("["):
        host, _, rest = text[1:].partition("]")
        return host, int(rest[1:]) if rest.startswith(":") else default_port
    host, sep, port = text.rpartition(":")
    return (host, int(port)) if sep and port.isdigit() else (text, default_port)


def _pipe(a, b) -> None:
    """Copies both ways until either side closes."""
    socks = [a, b]
    while True:
        ready, _, _ = select.select(socks, [], [], SOCKET_TIMEOUT)
        if not ready:
            return
        for s in ready:
            data = s.recv(65536)
            if not data:
                return
            (b if s is a else a).sendall(data)


class StandInProxy:
    def __init__(self, ca: TestCA, script: Script, lifetime: float = 600):
        self._ca = ca
        self._lock = threading.Lock()
        self._script: Script = dict(script)
        self.requests: List[Tuple[str, str]] = []
        self._deadline = time.monotonic() + lifetime
        self._stopped = threading.Event()
        self._open = set()
        self._tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        self._tls.load_cert_chain(str(ca.cert_pem), str(ca.key_pem))
        self._listener = socket.create_server(("127.0.0.1", 0))
        self._listener.settimeout(0.2)
        self.port = self._listener.getsockname()[1]
        self.url = "http://127.0.0.1:%d" % self.port
        self._thread = threading.Thread(target=self._accept_loop, daemon=True)
        self._thread.start()

    def set_script(self, script: Script) -> None:
        """Replaces the replies and forgets the requests seen so far."""
        with self._lock:
            self._script = dict(script)
            self.requests = []

    def recorded(self) -> List[Tuple[str, str]]:
        with self._lock:
            return list(self.requests)

    def stop(self) -> None:
        self._stopped.set()
        self._thread.join(5)
        with self._lock:
            for s in list(self._open):
                try:
                    s.close()
                except OSError:
                    pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def _accept_loop(self) -> None:
        with self._listener:
            while not self._stopped.is_set() and time.monotonic() < self._deadline:
                try:
                    conn, _ = self._listener.accept()
                except socket.timeout:
                    continue
                conn.settimeout(SOCKET_TIMEOUT)
                threading.Thread(target=self._serve_client, args=(conn,), daemon=True).start()

    def _track(self, sock, keep: bool) -> None:
        with self._lock:
            (self._open.add if keep else self._open.discard)(sock)

    def _record(self, host: str, target: str) -> Optional[Reply]:
        with self._lock:
            self.requests.append((host, target))
            return self._script.get((host, target))

    def _serve_client(self, conn) -> None:
        self._track(conn, True)
        try:
            head = _recv_head(conn)
            if head is None:
                return
            method, target, headers = _parse_head(head)
            if method == "CONNECT":
                self._connect(conn, target)
            else:
                self._plain(conn, head, method, target, headers)
        except (OSError, ssl.SSLError, ValueError):
            pass
        finally:
            self._track(conn, False)
            conn.close()

    def _connect(self, conn, target: str) -> None:
        host, port = _split_host_port(target, 443)
        if host in self._ca.hosts:
            conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
            with self._tls.wrap_socket(conn, server_side=True) as tls:
                self._serve_scripted(tls, host)
        elif host in LOOPBACK:
            with socket.create_connection((host, port), SOCKET_TIMEOUT) as upstream:
                conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                _pipe(conn, upstream)
        else:
            self._record(host, "CONNECT refused")
            conn.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")

    def _plain(self, conn, head: bytes, method: str, target: str, headers) -> None:
        rest = target.split("://", 1)[1] if "://" in target else target
        authority, slash, path = rest.partition("/")
        host, port = _split_host_port(authority, 80)
        path = slash + path
        if host in self._ca.hosts:
            self._discard_body(conn, headers)
            self._send(conn, self._record(host, path or "/"), method)
        elif host in LOOPBACK:
            # One request per upstream connection keeps the pass-through simple.
            lines = head.decode("latin-1").split("\r\n")
            kept = [l for l in lines[1:] if l and not l.lower().startswith(("connection:", "proxy-connection:"))]
            out = "\r\n".join([" ".join([method, path or "/", "HTTP/1.1"])] + kept + ["Connection: close", "", ""])
            with socket.create_connection((host, port), SOCKET_TIMEOUT) as upstream:
                upstream.sendall(out.encode("latin-1"))
                while True:
                    data = upstream.recv(65536)
                    if not data:
                        break
                    conn.sendall(data)
        else:
            self._record(host, "refused " + path)
            conn.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")

    def _serve_scripted(self, tls, host: str) -> None:
        while not self._stopped.is_set():
            head = _recv_head(tls)
            if head is None:
                return
            method, target, headers = _parse_head(head)
            self._discard_body(tls, headers)
            name = _split_host_port(headers.get("host", host), 443)[0]
            self._send(tls, self._record(name, target), method)

    @staticmethod
    def _discard_body(sock, headers) -> None:
        left = int(headers.get("content-length", "0") or 0)
        while left > 0:
            got = sock.recv(min(left, 65536))
            if not got:
                return
            left -= len(got)

    @staticmethod
    def _send(sock, reply: Optional[Reply], method: str) -> None:
        if reply is None:
            reply = Reply(b"not scripted", "text/plain", 404)
        head = "HTTP/1.1 %d %s\r\n" % (reply.status, http.HTTPStatus(reply.status).phrase)
        if reply.content_type is not None:
            head += "Content-Type: %s\r\n" % reply.content_type
        head += "Content-Length: %d\r\nConnection: keep-alive\r\n\r\n" % len(reply.body)
        sock.sendall(head.encode("latin-1"))
        if method != "HEAD":
            view = memoryview(reply.body)
            for at in range(0, len(view), 65536):
                sock.sendall(view[at:at + 65536])


def start_proxy(ca: TestCA, script: Script, lifetime: float = 600) -> StandInProxy:
    """A running proxy on 127.0.0.1 (port chosen by the OS); it stops itself after `lifetime` s."""
    return StandInProxy(ca, script, lifetime)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    install = sub.add_parser("install-ca", help="make the test CA in --dir when missing; trust it in $WINEPREFIX")
    install.add_argument("--trust-exe", required=True)
    install.add_argument("--dir", required=True)
    install.add_argument("--label", default="tests", help="CA name suffix; one per concurrently running suite")
    args = parser.parse_args()
    folder = Path(args.dir)
    ca = _ca_files(folder, DRIVE_HOSTS) if (folder / "server.pem").exists() else make_test_ca(folder, label=args.label)
    install_ca(ca, args.trust_exe)
    print(ca.ca_pem)
    return 0


if __name__ == "__main__":
    sys.exit(main())
