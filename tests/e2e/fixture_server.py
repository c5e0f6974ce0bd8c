"""Scripted HTTP server on 127.0.0.1 for the download tests, the end-to-end tests and the demo.

Each path answers as its script, a JSON object, says; every key is optional:

  status          HTTP status (200)
  type            Content-Type, or null for none ("application/octet-stream")
  body            text, one byte per character U+0000..U+00FF; body_hex: the bytes as hex instead
  size            instead, this many bytes of the repeating 0..255 pattern
  length          "auto" (the true length), "absent" (the body ends with the connection),
                  "chunked", or a number sent whatever the body is (closing after a wrong one)
  drop_after      close the connection after this many body bytes; with "reset": true, reset it
  chunk_size      send the body in pieces this large (65536) ...
  chunk_delay_ms  ... pausing this long before each one after the first
  headers         further response headers, {"Name": "value"}

Unknown paths answer 404; the query is ignored unless a script names it. Control requests, not
recorded: POST /__fixture/script?path=/x with a script for /x as body; GET /__fixture/requests.tsv,
one line per request with method, path, user agent, cache-control and pragma, tab-separated;
POST /__fixture/reset forgets the requests.
"""
import http.server
import json
import socket
import struct
import sys
import threading
import time
import urllib.parse

PATTERN = memoryview(bytes(range(256)) * 4097)  # sliced for "size" bodies, pieces up to 1 MiB
CONTROL = "/__fixture/"
OCTET = "application/octet-stream"
NOT_FOUND = {"status": 404, "type": "text/plain", "body": "no script"}


class ScriptedHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 30  # an idle kept-alive connection does not hold a thread for long

    def log_message(self, *args):
        pass

    def answer(self, s):
        """Sends the response script `s` describes."""
        if "size" in s:
            body, size = None, int(s["size"])
        else:
            body = bytes.fromhex(s["body_hex"]) if "body_hex" in s else s.get("body", "").encode("latin-1")
            size = len(body)
        length, drop = s.get("length", "auto"), s.get("drop_after")
        stated = None if length in ("auto", "chunked", "absent") else int(length)
        self.send_response(int(s.get("status", 200)))
        if s.get("type", OCTET) is not None:
            self.send_header("Content-Type", s.get("type", OCTET))
        if length == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        elif length != "absent":
            self.send_header("Content-Length", str(size if stated is None else stated))
        if self.close_connection or length == "absent" or drop is not None or stated not in (None, size):
            self.send_header("Connection", "close")
        for name, value in s.get("headers", {}).items():
            self.send_header(name, value)
        self.end_headers()

        end = size if drop is None else min(size, int(drop))
        step, pause = min(int(s.get("chunk_size", 65536)), 1 << 20), s.get("chunk_delay_ms", 0) / 1000
        for at in range(0, end, step):
            if at and pause:
                time.sleep(pause)
            n = min(step, end - at)
            piece = PATTERN[at % 256:at % 256 + n] if body is None else memoryview(body)[at:at + n]
            self.wfile.write(b"%x\r\n%b\r\n" % (n, piece) if length == "chunked" else piece)
        if drop is not None:  # an abrupt end mid-body, as when a connection breaks
            try:
                if s.get("reset"):
                    time.sleep(0.3)  # the client takes the data first, so the reset is what it meets
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    self.connection.close()
                else:
                    self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        elif length == "chunked":
            self.wfile.write(b"0\r\n\r\n")


class LoopbackServer(http.server.ThreadingHTTPServer):
    """Serves from a background thread on an OS-chosen loopback port from construction until
    stop(), the end of a `with` block or `lifetime` seconds, whichever comes first."""
    daemon_threads = True

    def __init__(self, handler, lifetime):
        self.lock = threading.Lock()
        super().__init__(("127.0.0.1", 0), handler)
        self.url = "http://127.0.0.1:%d" % self.server_address[1]
        threading.Thread(target=self.serve_forever, args=(0.1,), daemon=True).start()
        self._timer = threading.Timer(lifetime, self.stop)
        self._timer.daemon = True
        self._timer.start()

    def stop(self):
        self._timer.cancel()
        self.shutdown()
        self.server_close()

    def __exit__(self, *exc):
        self.stop()

    def handle_error(self, request, client_address):
        if not isinstance(sys.exc_info()[1], OSError):  # a client going away is no fault of ours
            super().handle_error(request, client_address)


class _Handler(ScriptedHandler):
    def do_GET(self):
        payload = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        fixture, url, text = self.server, urllib.parse.urlsplit(self.path), {"type": "text/plain"}
        if url.path == CONTROL + "script":
            fixture.set_script(urllib.parse.parse_qs(url.query)["path"][0], json.loads(payload or b"{}"))
        elif url.path == CONTROL + "reset":
            fixture.reset()
        elif url.path == CONTROL + "requests.tsv":
            return self.answer(dict(text, body="".join("\t".join(r.values()) + "\n" for r in fixture.requests())))
        elif url.path.startswith(CONTROL):
            return self.answer(dict(text, status=404, body="unknown control"))
        else:
            return self.answer(fixture.record(self))
        self.answer(dict(text, body="ok"))

    do_POST = do_GET


class FixtureServer(LoopbackServer):
    def __init__(self, scripts=None, lifetime=900):
        self._scripts, self._requests = dict(scripts or {}), []
        super().__init__(_Handler, lifetime)

    def set_script(self, path, script):
        self.set_scripts({path: script})

    def set_scripts(self, scripts):
        with self.lock:
            self._scripts.update(scripts)

    def requests(self):
        """Oldest first, each a dict of method, path, user_agent, cache_control and pragma."""
        with self.lock:
            return list(self._requests)

    def reset(self):
        with self.lock:
            self._requests.clear()

    def record(self, handler):
        """Records the request and returns its script."""
        h = handler.headers
        with self.lock:
            self._requests.append(dict(method=handler.command, path=handler.path, user_agent=h.get("User-Agent", ""),
                                       cache_control=h.get("Cache-Control", ""), pragma=h.get("Pragma", "")))
            key = handler.path if handler.path in self._scripts else handler.path.split("?")[0]
            return self._scripts.get(key, NOT_FOUND)
