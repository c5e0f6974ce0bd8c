"""The launcher replacing itself once the remote configuration retires it: a newer build fetched
beside it, checked, swapped in and started, taking over the folder and the window; any refusal ends
as before. And a launcher handed the folder waits for the one handing it over."""
import hashlib
import subprocess
import threading
import time

import pefile
import pytest
from werkzeug import Response

from conftest import body, seen, wine_temp
from test_verified import keys, signature, signed  # noqa: F401 (keys is a fixture)

EXE = "Jogar Velmora.exe"  # the operator may rename the launcher
INI = "[Launcher]\r\nConfigURL={url}/cfg.txt\r\nVersionURL={url}/v.txt\r\nUpdateURL={url}/u.zip\r\n"
CURRENT = "Client atualizado!"
OUTDATED = "Launcher desatualizado! Acesse o site."


def build_of(path):
    return int(next(st.entries[b"LauncherBuild"] for info in pefile.PE(path).FileInfo[0]
                    if info.Key == b"StringFileInfo" for st in info.StringTable))


def claiming(exe, build, claimed):
    """The same program, its version text claiming another build (of as many digits)."""
    at = exe.index(str(build).encode("utf-16-le"), exe.rindex("LauncherBuild".encode("utf-16-le")))
    return exe[:at] + str(claimed).encode("utf-16-le") + exe[at + len(str(claimed)) * 2:]


def unstartable(exe):
    """The same program with no image size: every check passes, but Windows will not start it."""
    pe = pefile.PE(data=exe)
    pe.OPTIONAL_HEADER.SizeOfImage = 0
    return bytes(pe.write())


ROWS = [  # served launcher, its digest published, signed (None: no key), the bar at the box (None: replaced;
    # "heir": replaced, and the heir, still too old, ends as outdated instead of replacing itself again)
    pytest.param("next", "served", True, None, id="replaced, under a key"),
    pytest.param("next", "other", None, 100, id="digest mismatch"),
    pytest.param("html", "served", None, 0, id="HTML page"),  # turned down by its headers
    pytest.param("self", "served", None, 100, id="new build too old"),
    pytest.param("next", "served", False, 100, id="no signature under a key"),
    pytest.param("liar", "served", None, "heir", id="version text claims a newer build"),
    pytest.param("huge", "served", None, 0, id="larger than a launcher can be"),  # turned down by its length
    pytest.param("unstartable", "served", None, 100, id="new build does not start"),  # the old one put back
]


@pytest.mark.parametrize("served, digest, under_key, bar", ROWS)
def test_self_update(install, serve, httpserver, build, keys, served, digest, under_key, bar):
    old, new = (build / "VelmoraLauncher.exe").read_bytes(), (build / "tests/launcher_next.exe").read_bytes()
    wanted = build_of(build / "tests/launcher_next.exe")
    exe = {"next": new, "self": old, "html": "<!DOCTYPE html><html><title>Manutenção</title></html>".encode(),
           "liar": claiming(old, build_of(build / "VelmoraLauncher.exe"), wanted),
           "huge": bytes((64 << 20) + 1), "unstartable": unstartable(new)}[served]
    key, _ = keys["publisher"]
    lines = "[Launcher]\r\nMinLauncherBuild=%d\r\nSiteUrl=ftp://nada\r\nLauncherURL=%s/l.exe\r\nLauncherSHA256=%s\r\n" % (
        wanted, httpserver.url_for("").rstrip("/"), hashlib.sha256(exe if digest == "served" else exe + b"!").hexdigest())
    config = (lines + "LauncherSignature=%s\r\n" % signature(key, exe) if under_key else lines).encode()
    shown = threading.Event()  # the new launcher is sent once the old one's window has moved and says what it does
    kind = "text/html" if served == "html" else "application/octet-stream"
    serve({"/cfg.txt": signed(config, key) if under_key is not None else config, "/v.txt": "1.0.1",
           # Paced, so that Wine's drain of a refused body ends at once instead of reading it all.
           "/l.exe": lambda request: shown.wait(30) and body(exe, content_type=kind, pause=0.005)(request)})
    inst = install({"launcher_config.ini": INI + ("UpdatePublicKey=%s\r\n" % keys["publisher"][1]
                                                  if under_key is not None else ""), "version.txt": "1.0.1"},
                   start=False)
    (inst.dir / "VelmoraLauncher.exe").rename(inst.dir / EXE)
    files = sorted(p.name for p in inst.dir.iterdir())
    inst.proc = subprocess.Popen(["wine", inst.dir / EXE], cwd=inst.dir, env=inst.env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    inst.probe("wait-window", 20000, "move", 40, "wait-status", 30000, "Atualizando o launcher...")
    shown.set()
    if bar is None:
        assert inst.proc.wait(30) == 0  # the heir's window is the one left
        state, = inst.probe("wait-window", 20000, "wait-status", 30000, CURRENT, "dump", "close", "wait-gone", 10000)
        assert (state["x"], state["y"], state["caption"]) == (40, 40, "Velmora - Launcher")
        assert seen(httpserver) == ["/cfg.txt", "/l.exe", "/cfg.txt", "/v.txt"]
    else:
        assert bar != "heir" or inst.proc.wait(30) == 0
        box, state, _ = inst.probe("wait-window", 20000, "msgbox", 30000, "dump", "msgbox", 1000, "ok", "wait-gone",
                                   10000)
        assert (box["box_caption"], state["status"]) == ("Launcher Desatualizado", OUTDATED)
        assert state["progress"] == bar or bar == "heir"
        assert seen(httpserver) == ["/cfg.txt", "/l.exe"] + (["/cfg.txt"] if bar == "heir" else [])
    assert inst.proc.wait(20) == 0
    assert (sorted(p.name for p in inst.dir.iterdir()), (inst.dir / EXE).read_bytes()) == (
        files, exe if bar in (None, "heir") else old)


def test_heir_waits_for_its_predecessor(install, serve, httpserver):
    """Started with the folder handed over while the first launcher still runs, it asks nothing
    until that one has ended, then runs its own pass; a plain start meanwhile leaves. The first one
    left none of its remote texts' temporary files."""
    started = time.time()
    first = install({"launcher_config.ini": "[Launcher]\r\nVersionURL={url}/v.txt\r\nUpdateURL={url}/u.zip\r\n",
                     "version.txt": "1.0.1"})
    asked_while_first_ran = []
    serve({"/v.txt": lambda request: asked_while_first_ran.append(first.proc.poll() is None) or Response("1.0.1")})
    pid, = first.probe("wait-window", 20000, "wait-status", 30000, CURRENT, "pid")
    start = ["wine", first.dir / "VelmoraLauncher.exe"]
    heir = subprocess.Popen(start + ["--handover=%d" % pid["pid"]], cwd=first.dir, env=first.env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    plain = subprocess.run(start, cwd=first.dir, env=first.env, stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=30)
    assert plain.returncode == 0 and heir.poll() is None
    first.probe("close")
    assert first.proc.wait(20) == 0
    first.probe("wait-window", 20000, "wait-status", 30000, CURRENT, "close", "wait-gone", 10000)
    assert heir.wait(20) == 0 and asked_while_first_ran == [True, False]
    assert not [p for p in wine_temp().glob("velmora-text-%d-*" % pid["pid"]) if p.stat().st_mtime >= started]
