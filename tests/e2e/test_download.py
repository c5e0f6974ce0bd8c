"""DownloadFile through the real WinINet under Wine against the loopback server: what it accepts,
what it leaves at the destination, and its progress calls."""
import socket

import pytest
from werkzeug import Response
from werkzeug.utils import redirect

from conftest import OLD, PATTERN, body

TYPE_255 = "text/html; x=" + "a" * 242  # the longest Content-Type that is read at all
UNCHECKED = ...
AGENT = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) Velmora-Launcher/1.0"



def in_one_write(answer):
    """Head and body in one write, so what WinINet receives does not depend on when its reads come."""
    def handler(request):
        sock = request.environ["werkzeug.socket"]
        sock.sendall(answer)
        sock.shutdown(socket.SHUT_RDWR)
        return Response(b"")
    return handler


ROWS = [  # name, reply, result, destination afterwards (None: deleted), last progress call (None: no call)
    ("text", body(b"version 1.4.2", content_type="text/plain"), True, b"version 1.4.2", [13, 13]),
    ("empty", b"", False, b"", [0, 0]),
    ("no type", body(b"abc", content_type=None), True, b"abc", [3, 3]),
    ("html type", body(b"x", content_type="application/text/html+x"), False, OLD, None),
    ("type case", body(b"plain words", content_type="TEXT/HTML"), True, b"plain words", [11, 11]),
    ("255-unit type", body(b"ok", content_type=TYPE_255), False, OLD, None),
    ("256-unit type", body(b"ok", content_type=TYPE_255 + "a"), True, b"ok", [2, 2]),
    # The head test: three markers, case-sensitive, within the first 14 bytes, before any NUL.
    ("<html>", b"<html><body>", False, None, [12, 12]),
    ("<HTML>", b"<HTML>", False, None, [6, 6]),
    ("<!DOC at 9", b"123456789<!DOC and more", False, None, [23, 23]),
    ("<html> at 10", b"0123456789<html>", True, b"0123456789<html>", [16, 16]),
    ("after NUL", b"a\0<html>", True, b"a\0<html>", [8, 8]),
    ("<!doctype", b"<!doctype html>", True, b"<!doctype html>", [15, 15]),
    # Short of the stated length, or ended by a failed read: incomplete, whatever was saved.
    ("short", body(b"abc", length=10), False, b"abc", [3, 10]),
    ("dropped", body(300000, drop_after=100000), False, PATTERN[:100000], [100000, 300000]),
    ("reset", body(300000, chunked=True, drop_after=100000, reset=True), False, UNCHECKED, UNCHECKED),
    # Longer than stated (Wine's WinINet hands over what the server sent): nothing of it is kept.
    ("long", in_one_write(b"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabcdef"), False, b"", [0, 3]),
    # No length stated and a clean end: complete.
    ("chunked", body(200000, chunked=True, piece=30000), True, PATTERN[:200000], [200000, 0]),
    # A piece of a file, to a request for all of it.
    ("206", body(b"abc", status=206), False, OLD, None),
    # Error statuses are refused from 400 up, whatever the content type; redirects are followed.
    ("400", ("bad", 400), False, OLD, None),
    ("299", ("odd but fine", 299), True, b"odd but fine", [12, 12]),
    ("302", lambda request: redirect("/target"), True, b"moved here", [10, 10]),
]


@pytest.mark.parametrize("reply, ok, left, last", [pytest.param(*row[1:], id=row[0]) for row in ROWS])
def test_response(fetch, serve, httpserver, reply, ok, left, last):
    serve({"/file": reply, "/target": "moved here"})
    got_ok, calls, data = fetch(httpserver.url_for("/file"))
    assert got_ok == ok
    assert left is UNCHECKED or data == left
    assert last is UNCHECKED or (calls[-1][:2] if calls else None) == last
    # The count only grows and the stated length never changes.
    assert all(a[0] <= b[0] and a[1] == b[1] for a, b in zip(calls, calls[1:])), calls
    # Every fetch reaches the server (a cached answer would give an earlier row's body), as the launcher.
    assert {(r.headers["User-Agent"], r.headers["Pragma"]) for r, _ in httpserver.log} == {(AGENT, "no-cache")}


def test_progress_is_throttled_and_ends_on_the_total(fetch, serve, httpserver):
    serve({"/slow": body(1310720, piece=32768, pause=0.025)})  # about a second: many more pieces than 100 ms slots
    ok, calls, _ = fetch(httpserver.url_for("/slow"))
    assert ok and 3 <= len(calls) <= calls[-1][2] // 100 + 2, calls
    assert calls[0][0] > 0 and calls[-1][:2] == [1310720, 1310720]
    # Calls are at least 100 ms apart; only the one after the last piece may come sooner.
    assert all(b[2] - a[2] >= 99 for a, b in zip(calls, calls[1:-1])), calls


def test_failures_before_or_at_the_first_write_make_no_progress_call(fetch, serve, httpserver, tmp_path):
    serve({"/data": body(300000)})
    for url, dest, requests in [("http://127.0.0.1:1/x", None, 0),  # nothing listens on port 1
                                (httpserver.url_for("/data"), r"Z:\no-such-folder\out.bin", 1),
                                (httpserver.url_for("/data"), r"Z:\dev\full", 1)]:  # opens; every write fails
        httpserver.clear_log()
        assert fetch(url, dest=dest) == (False, [], OLD)
        assert len(httpserver.log) == requests


def test_bodies_past_four_gib_count_in_full(fetch, serve, httpserver):
    """32-bit counts would wrap: the body would look short of its stated length, or empty."""
    size = (4 << 30) + (1 << 29)
    serve({"/huge": body(size, piece=1 << 20)})
    ok, calls, _ = fetch(httpserver.url_for("/huge"), dest="NUL")
    assert ok and calls[-1][:2] == [size, size] and any(4 << 30 < c[0] < size for c in calls), calls[-3:]
