"""Downloads that survive real connections: an archive continued after drops and stalls, within a
pass and across starts, and remote texts that are not allowed to be big."""
import contextlib
import hashlib
import random
import re
import time

import pytest
from werkzeug import Response

from conftest import MODIFIED, STANDIN, body, resumable, winpath, zipped

DATA = random.Random(9).randbytes(3 << 20)
Q = len(DATA) // 4  # a multiple of the 64 KiB reads, so no partly read chunk is lost at a drop
ZIP = "/atualização/u.zip"  # an operator's folder name: kept escaped in the part's record


def changes_validator(handler, ignores_if_range=False):
    """The file is replaced on the server after its first answer (and its ranges sent, if `ignores_if_range`)."""
    def wrapped(request):
        if ignores_if_range and "Range" in request.headers:
            request.environ["HTTP_IF_RANGE"] = handler.validator[1]
        response = handler(request)
        handler.validator = ("ETag", '"v2"')
        return response
    wrapped.inner = handler
    return wrapped


def refuses_ranges(reply, handler):
    """Every request for a range gets `reply` while `refusing` holds."""
    def wrapped(request):
        return reply(request) if wrapped.refusing and "Range" in request.headers else handler(request)
    wrapped.inner, wrapped.refusing = handler, True
    return wrapped


BUSY, MAINTENANCE = body(b"busy", status=503), body(b"<html><body>Em manutencao</body></html>", content_type="text/html")
ROWS = [  # name, handler, ok, seconds announced before each resumption, restarts from zero, bytes served
    ("three drops", resumable(DATA, drops=[Q, 2 * Q, 3 * Q]), True, [1, 1, 1], 1, len(DATA)),
    ("Last-Modified", resumable(DATA, drops=[2 * Q], validator=("Last-Modified", MODIFIED)),
     True, [1], 1, len(DATA)),
    ("weak ETag beside Last-Modified", resumable(DATA, drops=[2 * Q], validator=("ETag", 'W/"v1"'),
                                                modified=MODIFIED), True, [1], 1, len(DATA)),
    ("no byte ranges", resumable(DATA, drops=[2 * Q], ranges=False), False, [], 1, 2 * Q),
    ("no validator", resumable(DATA, drops=[2 * Q], validator=None), False, [], 1, 2 * Q),
    ("file changed: 200 restarts", changes_validator(resumable(DATA, drops=[2 * Q])), True, [1], 2,
     2 * Q + len(DATA)),
    ("wrong Content-Range", resumable(DATA, drops=[2 * Q], shift=1), True, [1, 1], 2, None),
    ("Content-Range of another length", resumable(DATA, drops=[2 * Q], grown=1), True, [1, 1], 2, None),
    ("five failed resumptions", resumable(DATA, drops=[k * Q // 2 for k in range(1, 7)]), False, [1, 1, 1, 1, 2],
     1, 3 * Q),
    # Silence counts as a break once it lasts the stall limit (1.5 s here), however long the server waits.
    ("stall", resumable(DATA, drops=[(2 * Q, 60)]), True, [1], 1, len(DATA)),
    ("refused first answer", body(b"gone", status=404), False, [], 0, None),
    # Refusals of a resumption are breaks: the part stays.
    ("503, Last-Modified", refuses_ranges(BUSY, resumable(DATA, drops=[2 * Q], validator=("Last-Modified", MODIFIED))),
     False, [1, 1, 1, 1, 2], 1, 2 * Q),
    ("maintenance page", refuses_ranges(MAINTENANCE, resumable(DATA, drops=[2 * Q])), False, [1, 1, 1, 1, 2], 1, 2 * Q),
    # A changed file's piece: from zero; a piece asked for the whole: a failure.
    ("206 of a changed file", changes_validator(resumable(DATA, drops=[2 * Q]), True), True, [1, 1], 2, None),
    ("206 to a request for the whole file", body(DATA, status=206), False, [], 0, None),
    ("a web page sent as a file", body(b"<!DOCTYPE html>" + DATA[:5000]), False, [], 1, None),
    # A 416: the file is now shorter than the part, which goes; the next try starts from zero.
    ("416 to a resumption", refuses_ranges(body(b"", status=416), resumable(DATA, drops=[2 * Q])), True, [1, 1], 2,
     2 * Q + len(DATA)),
]


# The rows that wait longest come first: each worker starts one at once.
def dripped_head(request):
    """The status line and headers a byte every 3 s, 75 s in all: WinINet's time-outs never fire."""
    with contextlib.suppress(OSError):
        for byte in b"HTTP/1.1 200 OK\r\nX-Slow: ........":
            request.environ["werkzeug.socket"].sendall(bytes([byte]))
            time.sleep(3)
    return Response(b"")


@pytest.mark.parametrize("reply, seconds", [(body(100 << 20, content_type="text/plain", pause=0.005), None),
                                            (body(100 << 20, chunked=True, content_type="text/plain", pause=0.005), None),
                                            (body(1000, piece=1, pause=3, content_type="text/plain"), 45),
                                            (dripped_head, 45)],
                         ids=["100 MB, stated length", "100 MB, chunked", "a byte every 3 s", "headers a byte every 3 s"])
def test_a_remote_text_too_big_or_too_slow_is_no_connection(install, serve, reply, seconds):
    """Refused without the body in memory or on disk; a slow one after its 30 s. A big one is told by
    the memory, not the clock: closing its request may take the receive time-out under load."""
    serve({"/v.txt": reply})
    inst = install({"launcher_config.ini": "[Launcher]\r\nVersionURL={url}/v.txt\r\nUpdateURL={url}/u.zip\r\n"})
    inst.probe("wait-window", 20000)
    started = time.monotonic()
    inst.probe("wait-status", ((seconds or 30) + 15) * 1000, "Sem conexão. Jogue offline.")
    assert seconds is None or time.monotonic() - started < seconds
    peak = next(int(line.split()[1]) for line in open("/proc/%d/status" % inst.proc.pid) if line.startswith("VmHWM"))
    inst.probe("close")
    assert inst.proc.wait(20) == 0 and not (inst.dir / "_tmp_version_check.txt").exists()
    assert peak < 80 << 10, peak  # kB: far below the 100 MB a whole read would need


@pytest.mark.parametrize("handler, ok, waits, restarts, served", [pytest.param(*r[1:], id=r[0]) for r in ROWS])
def test_archive_download(fetch, httpserver, tmp_path, handler, ok, waits, restarts, served):
    httpserver.expect_request(ZIP).respond_with_handler(handler)
    got = fetch(httpserver.url_for(ZIP), dest=winpath(tmp_path / "update_temp.zip"), archive=("1.0.1", 100, 1500))
    part = tmp_path / "update_temp.zip.part"
    assert (got["ok"], got["waits"], got["restarts"]) == (ok, waits, restarts)
    assert not got["calls"] or got["calls"][-1][2] < 10000  # the stall did not hold the download
    assert served is None or getattr(handler, "inner", handler).served == served
    assert (tmp_path / "update_temp.zip").exists() == ok
    if ok:
        assert (tmp_path / "update_temp.zip").read_bytes() == DATA
        assert got["sha256"] == hashlib.sha256(DATA).hexdigest()  # the hash followed every resumption
    # What can still be continued stays for the next start; anything else goes.
    assert (part.exists(), (tmp_path / "update_temp.zip.part.txt").exists()) == (not ok and bool(waits),) * 2
    assert not part.exists() or part.read_bytes() == DATA[:part.stat().st_size]
    if part.exists():  # the next start, the server well again, asks only for the rest
        kept, handler.refusing = part.stat().st_size, False
        httpserver.clear_log()
        got = fetch(httpserver.url_for(ZIP), dest=winpath(tmp_path / "update_temp.zip"), archive=("1.0.1", 100, 1500))
        assert (got["ok"], got["restarts"], httpserver.log[0][0].headers.get("Range")) == (True, 0, "bytes=%d-" % kept)
        assert (tmp_path / "update_temp.zip").read_bytes() == DATA


def test_closed_mid_download_then_started_again(install, serve, httpserver, build):
    """A drop is resumed within the pass; the bar and the text follow the download and Play is
    ignored meanwhile; the window is closed while the server is silent; the next start for the
    same version asks once for the rest and verifies the whole."""
    archive = zipped({"velmoraclient.exe": STANDIN, "data/world.pak": DATA}, build)
    handler = resumable(archive, drops=[Q, (2 * Q, 120)])
    serve({"/v.txt": "1.0.1", "/u.zip": handler,
           "/cfg.txt": "[Launcher]\nUpdateSHA256=%s\n" % hashlib.sha256(archive).hexdigest()})
    files = {"launcher_config.ini": "[Launcher]\r\nConfigURL={url}/cfg.txt\r\nVersionURL={url}/v.txt\r\n"
                                    "UpdateURL={url}/u.zip\r\n", "version.txt": "1.0.0", "tar.exe.action": "unzip"}
    inst = install(files)
    state, = inst.probe("wait-window", 20000, "wait-status", 30000, "Conexão interrompida. Retomando em 1 s...",
                        "wait-status", 10000, "Baixando... *", "command", 0, "no-msgbox", 1500, "dump", "close",
                        "wait-gone", 10000)
    # The speed and the time left follow once the download has run a couple of seconds.
    speed = r"( - \d+(\.\d)? [KM]B/s( - \d+ (s|min|h)( \d+ min)? restantes)?)?"
    assert re.fullmatch(r"Baixando\.\.\. \d+\.\d / %.1f MB" % (len(archive) / 2**20) + speed, state["status"]), state
    assert 0 < state["progress"] < 100 and not state["play_enabled"]
    part = inst.dir / "update_temp.zip.part"
    assert inst.proc.wait(20) == 0 and part.read_bytes() == archive[:2 * Q]
    inst.start()
    inst.probe("wait-window", 20000, "wait-status", 30000, "Atualização concluída!", "close")
    assert inst.proc.wait(20) == 0
    ranges = [r.headers.get("Range") for r, _ in httpserver.log if r.path == "/u.zip"]
    assert ranges == [None, "bytes=%d-" % Q, "bytes=%d-" % (2 * Q)] and handler.served == len(archive)
    assert (inst.dir / "version.txt").read_bytes() == b"1.0.1" and not part.exists()


def test_part_of_another_version_is_dropped(fetch, httpserver, tmp_path):
    httpserver.expect_request("/u.zip").respond_with_handler(resumable(DATA))
    (tmp_path / "update_temp.zip.part").write_bytes(DATA[:Q])
    (tmp_path / "update_temp.zip.part.txt").write_text('url=%s\nversion=1.0.1\nvalidator="v1"\nlength=%d\n'
                                                        % (httpserver.url_for("/u.zip"), len(DATA)))
    got = fetch(httpserver.url_for("/u.zip"), dest=winpath(tmp_path / "update_temp.zip"), archive=("1.0.2", 100, 1500))
    assert got["ok"] and [r.headers.get("Range") for r, _ in httpserver.log] == [None]
    assert (tmp_path / "update_temp.zip").read_bytes() == DATA


@pytest.mark.parametrize("digest, asked", [(True, ["bytes=%d-" % Q]), (False, [None])], ids=["digest", "no digest"])
def test_part_left_by_another_address(fetch, httpserver, tmp_path, digest, asked):
    """The first address breaks off, then answers no more: the next one finishes its part only when a
    published digest checks the whole (asking for the rest without the first one's validator), else
    starts over."""
    httpserver.expect_request("/u.zip").respond_with_handler(refuses_ranges(BUSY, resumable(DATA, drops=[Q])))
    httpserver.expect_request("/m.zip").respond_with_handler(resumable(DATA, validator=("ETag", '"m"')))
    got = fetch(httpserver.url_for("/u.zip") + " " + httpserver.url_for("/m.zip"),
                dest=winpath(tmp_path / "update_temp.zip"), archive=("1.0.1", 0, 1500) + (("digest",) if digest else ()))
    assert got["ok"] and got["sha256"] == hashlib.sha256(DATA).hexdigest()
    assert [(r.headers.get("Range"), r.headers.get("If-Range")) for r, _ in httpserver.log if r.path == "/m.zip"] == [
        (range_, None) for range_ in asked]
    assert (tmp_path / "update_temp.zip").read_bytes() == DATA
