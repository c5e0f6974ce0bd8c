"""Local stand-in for the Google download hosts, for end-to-end tests under Wine.

Wine's WinINet sends every request through the proxy named by `http_proxy`. This proxy ends the
TLS of CONNECTs to HOSTS itself, with a certificate from a throwaway CA that `install_ca` trusts
in one Wine prefix only, and answers each scripted (host, path with query) with its Reply. Every
request is recorded in that form, in order. Plain HTTP to loopback is passed through, so a
test's own servers stay reachable; anything else is refused and never reaches the network.

    ca = make_test_ca(folder, label="my suite")
    install_ca(ca, trust_exe)                      # once per Wine prefix and CA
    with start_proxy(ca, {("drive.google.com", "/uc?..."): Reply(b"PK..")}) as proxy:
        env["http_proxy"] = proxy.url              # then run the program under Wine
        proxy.recorded()                           # [("drive.google.com", "/uc?..."), ...]
"""
import os
import socket
import ssl
import subprocess
import urllib.parse
from pathlib import Path

from fixture_server import NOT_FOUND, OCTET, LoopbackServer, ScriptedHandler
from harness import winpath

HOSTS = ("drive.google.com", "docs.google.com", "drive.usercontent.google.com")
LOOPBACK = ("127.0.0.1", "localhost")
REFUSED = {"status": 403, "body": ""}


def Reply(body=b"", content_type=OCTET, status=200):
    """A fixed answer; a content_type of None sends no Content-Type."""
    return {"status": status, "type": content_type, "body_hex": body.hex()}


def make_test_ca(folder, label="tests"):
    """A fresh CA in `folder`, valid two days, and a server certificate from it for HOSTS.

    Installing a CA replaces earlier ones with the same subject, so suites that may run at the
    same time in one prefix pass different labels."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    for args in (["-keyout", "ca.key", "-out", "ca.pem", "-subj", "/CN=Velmora Test CA (%s)" % label,
                  "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"],
                 ["-CA", "ca.pem", "-CAkey", "ca.key", "-keyout", "server.key", "-out", "server.pem",
                  "-subj", "/CN=" + HOSTS[0], "-addext", "basicConstraints=CA:FALSE",
                  "-addext", "extendedKeyUsage=serverAuth", "-addext", "subjectAltName=DNS:" + ",DNS:".join(HOSTS)]):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "2", *args],
                       cwd=folder, check=True, capture_output=True)
    (folder / "ca.der").write_bytes(ssl.PEM_cert_to_DER_cert((folder / "ca.pem").read_text()))
    return folder


def install_ca(ca, trust_exe):
    """Trusts the CA in $WINEPREFIX, which must be set: a default prefix is never touched."""
    if not os.environ.get("WINEPREFIX"):
        raise RuntimeError("install_ca needs WINEPREFIX")
    done = subprocess.run(["wine", str(trust_exe), winpath(Path(ca) / "ca.der")], stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=120)
    if done.returncode:
        raise RuntimeError("trusting the test CA failed: %r" % (done.stdout + done.stderr))


class _Handler(ScriptedHandler):
    def do_CONNECT(self):
        host = self.path.rpartition(":")[0]
        self.close_connection = True
        if host not in HOSTS:
            self.server.record(host, "CONNECT refused")
            return self.answer(REFUSED)
        self.wfile.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
        with self.server.tls.wrap_socket(self.connection, server_side=True) as tls:
            _Handler(tls, self.client_address, self.server)  # serves the requests inside the tunnel

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if not url.scheme:  # inside a tunnel
            host = self.headers.get("Host", "").split(":")[0]
            return self.answer(self.server.record(host, self.path) or NOT_FOUND)
        target = "/" + self.path.split("://", 1)[1].partition("/")[2]
        if url.hostname in LOOPBACK:
            return self._forward(url, target)
        refused = url.hostname not in HOSTS
        reply = self.server.record(url.hostname, "refused " + target if refused else target)
        self.answer(REFUSED if refused else reply or NOT_FOUND)

    def _forward(self, url, target):
        """One request per upstream connection, closed after the reply."""
        head = "".join("%s: %s\r\n" % (k, v) for k, v in self.headers.items()
                       if k.lower() not in ("connection", "proxy-connection"))
        with socket.create_connection((url.hostname, url.port or 80), 30) as upstream:
            upstream.sendall(("GET %s HTTP/1.1\r\n%sConnection: close\r\n\r\n" % (target, head)).encode("latin-1"))
            while data := upstream.recv(65536):
                self.wfile.write(data)
        self.close_connection = True


class _Proxy(LoopbackServer):
    def __init__(self, ca, script, lifetime):
        self.tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        self.tls.load_cert_chain(Path(ca) / "server.pem", Path(ca) / "server.key")
        super().__init__(_Handler, lifetime)
        self.set_script(script)

    def set_script(self, script):
        """Replaces the replies and forgets the requests seen so far."""
        with self.lock:
            self.script, self.requests = dict(script), []

    def recorded(self):
        with self.lock:
            return list(self.requests)

    def record(self, host, target):
        with self.lock:
            self.requests.append((host, target))
            return self.script.get((host, target))


def start_proxy(ca, script, lifetime=600):
    """A running proxy on loopback; it stops itself after `lifetime` seconds."""
    return _Proxy(ca, script, lifetime)
