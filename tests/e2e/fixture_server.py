#!/usr/bin/env python3
"""Scripted HTTP server on 127.0.0.1 for the download tests, the end-to-end tests and the demo.

Each path answers as its script says. A script is a JSON object; every key is optional:

  status          HTTP status code (200)
  type            Content-Type value, or null for no Content-Type header
                  ("application/octet-stream")
  body            body text; each character U+0000..U+00FF becomes one byte ("")
  body_hex        body bytes as hex, instead of "body"
  size            a generated body of this many bytes (a repeating 0..255 pattern), instead
  length          "auto" (the true length), "absent" (no Content-Length, the connection is
                  closed to end the body), "chunked", or a number sent as the Content-Length
                  whatever the body is; the connection is closed after a wrong one
  drop_after      close the connection after this many body bytes
  reset           with drop_after: end with a TCP reset instead of an orderly close
  delay_ms        wait before sending the status line
  chunk_size      send the body in pieces of this many bytes (65536) ...
  chunk_delay_ms  ... waiting this long before each piece after the first
  headers         further response headers, {"Name": "value"}

Unknown paths answer 404 "no script". The query string is ignored when a script is looked up
unless a script is set for the full path-and-query.

Control requests, never recorded:

  POST /__fixture/script?path=/x   body: a script for /x
  POST /__fixture/scripts          body: {"/x": script, ...}
  GET  /__fixture/requests         the recorded requests as JSON
  GET  /__fixture/requests.tsv     one line per request: method, path, user agent,
                                   cache-control, pragma, separated by tabs
  POST /__fixture/reset            forget the requests (scripts stay)

Use as a module (FixtureServer) or on the command line:

  fixture_server.py [--scripts FILE.json] [--lifetime SECONDS] [--port-file FILE]

which prints the base URL on its first line of output and serves until the lifetime ends, a
SIGTERM/SIGINT arrives or, with --until-stdin-closes, its standard input reaches end of file.
"""

import argparse
import http.server
import json
import os
import signal
import socket
import struct
import sys
import threading
import time
import urllib.parse

PATTERN = bytes(range(256)) * 4096  # 1 MiB, sliced for generated bodies
CONTROL = "/__fixture/"


def _body_of(script):
    if "size" in script:
        return None  # generated while sending
    if "body_hex" in script:
        return bytes.fromhex(script["body_hex"])
    return script.get("body", "").encode("latin-1")


def _body_size(script):
    return int(script["size"]) if "size" in script else len(_body_of(script))


def _pieces(script, total, piece):
    """Yields the body in pieces of at most `piece` bytes, `total` bytes in all."""
    body = _body_of(script)
    sent = 0
    while sent < total:
        n = min(piece, total - sent)
        if body is None:
            start = sent % len(PATTERN)
            n = min(n, len(PATTERN) - start)
            yield memoryview(PATTERN)[start:start + n]
        else:
            yield memoryview(body)[sent:sent + n]
        sent += n


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "Fixture/1.0"
    timeout = 30  # an idle kept-alive connection does not hold a thread for long

    def log_message(self, fmt, *args):
        if self.server.fixture.verbose:
            sys.stderr.write("fixture: " + (fmt % args) + "\n")

    def do_GET(self):
        self._dispatch()

    def do_POST(self):
        self._dispatch()

    def _read_request_body(self):
        n = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(n) if n else b""

    def _dispatch(self):
        fixture = self.server.fixture
        payload = self._read_request_body()
        if self.path.startswith(CONTROL):
            return self._control(fixture, payload)
        fixture._record(self)
        self._answer(fixture._script_for(self.path))

    def _control(self, fixture, payload):
        parsed = urllib.parse.urlsplit(self.path)
        name = parsed.path[len(CONTROL):]
        query = urllib.parse.parse_qs(parsed.query)
        if name == "script" and "path" in query:
            fixture.set_script(query["path"][0], json.loads(payload or b"{}"))
            return self._small(200, "text/plain", b"ok")
        if name == "scripts":
            fixture.set_scripts(json.loads(payload or b"{}"))
            return self._small(200, "text/plain", b"ok")
        if name == "requests":
            return self._small(200, "application/json", json.dumps(fixture.requests()).encode())
        if name == "requests.tsv":
            lines = ["\t".join([r["method"], r["path"], r["user_agent"], r["cache_control"], r["pragma"]])
                     for r in fixture.requests()]
            return self._small(200, "text/plain", "".join(l + "\n" for l in lines).encode("utf-8"))
        if name == "reset":
            fixture.reset()
            return self._small(200, "text/plain", b"ok")
        return self._small(404, "text/plain", b"unknown control")

    def _small(self, status, ctype, body):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def _answer(self, script):
        if script.get("delay_ms"):
            time.sleep(script["delay_ms"] / 1000.0)
        size = _body_size(script)
        length = script.get("length", "auto")
        drop_after = script.get("drop_after")
        send = size if drop_after is None else min(size, int(drop_after))

        self.send_response(int(script.get("status", 200)))
        ctype = script.get("type", "application/octet-stream")
        if ctype is not None:
            self.send_header("Content-Type", ctype)
        chunked = length == "chunked"
        if chunked:
            self.send_header("Transfer-Encoding", "chunked")
        elif length == "auto":
            self.send_header("Content-Length", str(size))
        elif length != "absent":
            self.send_header("Content-Length", str(int(length)))
            if int(length) != size:
                self.close_connection = True
        if length == "absent" or drop_after is not None:
            self.close_connection = True
        if self.close_connection:
            self.send_header("Connection", "close")
        for name, value in script.get("headers", {}).items():
            self.send_header(name, value)
        self.end_headers()

        delay = script.get("chunk_delay_ms", 0) / 1000.0
        first = True
        for piece in _pieces(script, send, int(script.get("chunk_size", 65536))):
            if delay and not first:
                time.sleep(delay)
            first = False
            if chunked:
                self.wfile.write(b"%x\r\n" % len(piece) + bytes(piece) + b"\r\n")
            else:
                self.wfile.write(piece)
        if drop_after is not None:
            # An abrupt end in the middle of the body, as when a connection breaks.
            self.wfile.flush()
            try:
                if script.get("reset"):
                    # Let the client take the data first, so the reset itself is what it meets.
                    time.sleep(0.3)
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    self.connection.close()
                else:
                    self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        elif chunked:
            self.wfile.write(b"0\r\n\r\n")


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False


class FixtureServer:
    """The server on an OS-chosen loopback port, serving from a background thread."""

    def __init__(self, scripts=None, lifetime=900, verbose=False):
        self.verbose = verbose
        self._lock = threading.Lock()
        self._scripts = {}
        self._requests = []
        self._lifetime = lifetime
        self._httpd = _Server(("127.0.0.1", 0), _Handler)
        self._httpd.fixture = self
        self.port = self._httpd.server_address[1]
        self.url = "http://127.0.0.1:%d" % self.port
        self._thread = None
        self._timer = None
        self.set_scripts(scripts or {})

    def start(self):
        self._thread = threading.Thread(target=self._httpd.serve_forever, kwargs={"poll_interval": 0.1},
                                        daemon=True)
        self._thread.start()
        if self._lifetime:
            self._timer = threading.Timer(self._lifetime, self.stop)
            self._timer.daemon = True
            self._timer.start()
        return self

    def stop(self):
        if self._timer:
            self._timer.cancel()
        if self._thread:
            self._httpd.shutdown()
        self._httpd.server_close()

    def wait(self):
        if self._thread:
            self._thread.join()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def set_script(self, path, script):
        with self._lock:
            self._scripts[path] = script

    def set_scripts(self, scripts):
        for path, script in scripts.items():
            self.set_script(path, script)

    def requests(self):
        with self._lock:
            return list(self._requests)

    def reset(self):
        with self._lock:
            self._requests.clear()

    def _script_for(self, path):
        with self._lock:
            key = path if path in self._scripts else urllib.parse.urlsplit(path).path
            return self._scripts.get(key, {"status": 404, "type": "text/plain", "body": "no script"})

    def _record(self, handler):
        h = handler.headers
        with self._lock:
            self._requests.append({
                "method": handler.command,
                "path": handler.path,
                "user_agent": h.get("User-Agent", ""),
                "cache_control": h.get("Cache-Control", ""),
                "pragma": h.get("Pragma", ""),
                "headers": dict(h.items()),
            })


def main():
    ap = argparse.ArgumentParser(description="Scripted loopback HTTP server for the launcher tests.")
    ap.add_argument("--scripts", help="JSON file: {path: script}")
    ap.add_argument("--lifetime", type=float, default=900, help="seconds before it stops by itself")
    ap.add_argument("--port-file", help="also write the base URL to this file")
    ap.add_argument("--until-stdin-closes", action="store_true",
                    help="also stop when standard input reaches end of file")
    ap.add_argument("--verbose", action="store_true")
    args = ap.parse_args()

    scripts = {}
    if args.scripts:
        with open(args.scripts) as f:
            scripts = json.load(f)
    server = FixtureServer(scripts, lifetime=args.lifetime, verbose=args.verbose).start()
    print(server.url, flush=True)
    if args.port_file:
        with open(args.port_file + ".tmp", "w") as f:
            f.write(server.url + "\n")
        os.replace(args.port_file + ".tmp", args.port_file)

    done = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: done.set())

    def watch_stdin():
        try:
            while sys.stdin.buffer.read(4096):
                pass
        except (OSError, ValueError):
            return
        done.set()

    if args.until_stdin_closes:
        threading.Thread(target=watch_stdin, daemon=True).start()
    threading.Thread(target=lambda: (server.wait(), done.set()), daemon=True).start()
    done.wait(args.lifetime or None)
    server.stop()


if __name__ == "__main__":
    main()
