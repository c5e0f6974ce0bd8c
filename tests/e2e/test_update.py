"""The update pass of the real launcher under Wine: every ending, the remote configuration, a
Google Drive archive, the progress, and closing mid-download."""
import io
import math
import os
import random
import struct
import subprocess
import time
import zipfile

import pytest
from werkzeug import Response

from conftest import STANDIN, body, html, make_zip, resumable, seen, tree, wait_until, wine, winpath, zipped

E1 = "Launcher desatualizado! Acesse o site."
E2 = "Configure as URLs no launcher_config.ini"
E3 = "Sem conexão. Jogue offline."
E4 = "Client atualizado!"
E5 = "Erro ao baixar. Verifique a URL/link."
E6 = "Download inválido (arquivo muito pequeno)."
E7 = "Falha ao extrair. Extraia update_temp.zip manualmente."
E8 = "Extração incompleta: executável não encontrado em bin/. Tente novamente."
E9 = "Atualização concluída!"
QUOTA_ENDING = "Limite de downloads do Google Drive atingido. Tente mais tarde."
OUTDATED = ("Este launcher está desatualizado e não pode ser usado.\n\nPor favor, exclua o launcher atual e baixe a "
            "versão mais recente no nosso site:\n\n{}\n\nApenas clique em OK e o site será aberto automaticamente.")
POWERSHELL = "powershell.exe -NoProfile -NoLogo -NonInteractive -ExecutionPolicy Bypass -Command \""

OLD, NEW = "1.0.1-Beta", "1.0.1-beta"  # differing in letter case only, which is still an update
CLIENT = {"velmoraclient.exe": STANDIN, "data/readme.txt": b"Velmora client data\r\n"}
INSTALL = {"launcher_config.ini": "[Launcher]\r\nVersionURL={url}/v.txt\r\nUpdateURL={url}/u.zip\r\n",
           "version.txt": OLD + "\r\n", "_tmp_version_check.txt": "9.9.9 left by a failed check",
           "update_staging.txt.new": "velmora-staging complete\n9.9.9",  # a launcher stopped while writing the journal
           "powershell.exe.action": "unzip", "tar.exe": b"MZ planted beside the launcher: never to be run",
           "bin/keep.txt": b"not in the archive"}
KEPT = {"version.txt": (OLD + "\r\n").encode(), "version.txt.new": False, "_tmp_version_check.txt": False,
        "update_staging": False, "update_staging.txt": False, "update_staging.txt.new": False}
# The archive as a Drive share link whose direct link answers with the virus-scan page; its form leads to the file.
DRIVE = "https://drive.google.com/file/d/1VelmoraZip_x/view?usp=sharing"
DIRECT = "drive.google.com/uc?export=download&confirm=t&id=1VelmoraZip_x"
FORM = "drive.usercontent.google.com/download?id=1VelmoraZip_x&export=download&confirm=t&uuid=9f"
PAGE = html('<!DOCTYPE html><html><form id="download-form" action="https://%s" method="get"><input type="hidden" '
            'name="uuid" value="9f"></form></html>' % FORM.rpartition("&")[0].replace("&", "&amp;"))
USER = "drive.usercontent.google.com/download?id=1VelmoraZip_x&export=download&confirm=t"
ACCOUNT = USER.replace("&confirm", "&authuser=0&confirm")
QUOTA = html('<html><head><title>Google Drive - Quota exceeded</title></head><body><p class="uc-error-subcaption">'
             'Too many users have viewed or downloaded this file recently.</p></body></html>', 403)
OUT_OF_QUOTA = {DIRECT: QUOTA, USER: QUOTA, ACCOUNT: QUOTA, "/gone.zip": ("gone", 404)}
SWITCH = "Fonte 1 de 2 indisponível. Tentando a próxima..."
UPDATED = {"version": "Versão: " + NEW}


def sources(*urls):
    return {"launcher_config.ini": "[Launcher]\r\nVersionURL={url}/v.txt\r\nUpdateURL=%s\r\n" % " ".join(urls)}


REMOTE = {"/cfg.txt": "\ufeff; remote\r\n[Launcher]\r\n ServerName = Reino Além \r\nVersionURL={url}/v2.txt\r\n"
                      "UpdateURL = %s\r\nClientExe=rc.exe\r\nMinLauncherBuild=1\r\n" % DRIVE,
          "/v2.txt": NEW, DIRECT: PAGE, FORM: {"rc.exe": STANDIN}}


def on_disk(path, like):
    """Whether the file is there, or its bytes (False when it is not)."""
    return path.exists() if isinstance(like, bool) else path.exists() and path.read_bytes()


def current_at_next_start(inst, serve, server):
    """What the pass wrote reads back equal: the next start finds the client current, leaves the
    version file as it is, and Play starts the client."""
    (inst.dir / "version.txt").write_bytes(NEW.encode() + b"\r\n")
    inst.start()
    inst.probe("wait-window", 20000, "wait-status", 30000, E4, "wait-enabled", 5000, "click")
    inst.client_started()
    assert (inst.dir / "version.txt").read_bytes() == NEW.encode() + b"\r\n"


def tools_then_offline_start(inst, serve, server):
    """Each tool got the archive and bin by path, quoted its own way; the next start, offline, first
    removes the archive this one kept."""
    tar = winpath(inst.dir)
    ps = winpath(inst.dir.parent) + "\\Jogo d''Ação ‘‘Teste’’"  # apostrophe and typographic quotes doubled
    assert [line for _, _, line in inst.calls()] == [
        'tar.exe -xf "%s\\update_temp.zip" -C "%s\\update_staging"' % (tar, tar),
        POWERSHELL + "Expand-Archive -LiteralPath '%s\\update_temp.zip' -DestinationPath '%s\\update_staging' -Force\"" % (ps, ps),
        POWERSHELL + "Add-Type -AssemblyName System.IO.Compression.FileSystem; [System.IO.Compression.ZipFile]::"
                     "ExtractToDirectory('%s\\update_temp.zip', '%s\\update_staging', $true)\"" % (ps, ps)]
    server.clear_all_handlers()
    serve({"/v.txt": ("boom", 500)})
    inst.start()
    inst.probe("wait-window", 20000, "wait-status", 30000, E3, "wait-enabled", 5000, "close")
    assert inst.proc.wait(20) == 0 and not (inst.dir / "update_temp.zip").exists()


ROWS = [  # files over INSTALL, replies, ending, window fields, files afterwards, tools run, requests, then
    pytest.param({}, {"/u.zip": CLIENT}, E9, {"version": "Versão: " + NEW, "progress": 100},
                 {"version.txt": NEW.encode(), "version.txt.new": False, "_tmp_version_check.txt": False,
                  "update_temp.zip": False, "bin/velmoraclient.exe": True, "bin/data/readme.txt": True,
                  "bin/keep.txt": INSTALL["bin/keep.txt"], "update_staging": False},
                 ["tar.exe"], ["/v.txt", "/u.zip"], current_at_next_start, id="E9"),
    # The remote configuration is out of reach, so the local one (in the ANSI code page) stands; the
    # archive breaks off.
    pytest.param({"launcher_config.ini": (INSTALL["launcher_config.ini"] + "ServerName=Servidor Ação\r\n"
                                          "ConfigURL={url}/cfg.txt\r\n").encode("cp1252")},
                 {"/cfg.txt": ("gone", 404), "/u.zip": body(300000, drop_after=100000)}, E5,
                 {"caption": "Servidor Ação - Launcher", "title": "Servidor Ação"},
                 dict(KEPT, **{"update_temp.zip": False}), [], ["/cfg.txt", "/v.txt", "/u.zip"], None, id="E5"),
    pytest.param({}, {"/u.zip": b"z" * 999}, E6, {}, dict(KEPT, **{"update_temp.zip": False}), [],
                 ["/v.txt", "/u.zip"], None, id="E6"),
    pytest.param({}, {"/u.zip": b"z" * 1000}, E7, {"progress": 100}, dict(KEPT, **{"update_temp.zip": True}),
                 ["tar.exe", "powershell.exe", "powershell.exe"], ["/v.txt", "/u.zip"], tools_then_offline_start,
                 id="E7"),
    pytest.param({}, {"/u.zip": {"game/velmoraclient.exe": STANDIN}}, E8, {},
                 dict(KEPT, **{"update_temp.zip": False, "bin/game/velmoraclient.exe": True}), ["tar.exe"],
                 ["/v.txt", "/u.zip"], None, id="E8"),
    # Remote name (UTF-8 after a byte-order mark), URLs and client; tar fails, Expand-Archive unpacks.
    pytest.param({"launcher_config.ini": "[Launcher]\r\nConfigURL={url}/cfg.txt\r\nVersionURL={url}/v.txt\r\n",
                  "tar.exe.action": "exit 1"}, REMOTE, E9,
                 {"caption": "Reino Além - Launcher", "title": "Reino Além", "version": "Versão: " + NEW},
                 {"version.txt": NEW.encode(), "bin/rc.exe": True}, ["tar.exe", "powershell.exe"],
                 ["/cfg.txt", "/v2.txt", DIRECT, FORM], None, id="remote configuration, Drive archive"),
    # Several addresses: each failing one hands over to the next; the last one's reason ends the pass.
    pytest.param(sources("http://127.0.0.1:1/u.zip", "{url}/u.zip"), {"/u.zip": CLIENT}, (SWITCH, E9), UPDATED,
                 {"version.txt": NEW.encode()}, ["tar.exe"], ["/v.txt", "/u.zip"], None, id="dead, then working"),
    pytest.param(sources("{url}/gone.zip", DRIVE, "{url}/u.zip"), dict(OUT_OF_QUOTA, **{"/u.zip": CLIENT}),
                 ("Fonte 1 de 3 indisponível. Tentando a próxima...", "Fonte 2 de 3 *", E9), UPDATED,
                 {"version.txt": NEW.encode()}, ["tar.exe"], ["/v.txt", "/gone.zip", DIRECT, USER, ACCOUNT, "/u.zip"],
                 None, id="404, Drive out of quota, then plain"),
    pytest.param(sources(DRIVE), OUT_OF_QUOTA, QUOTA_ENDING, {}, dict(KEPT, **{"update_temp.zip": False}), [],
                 ["/v.txt", DIRECT, USER, ACCOUNT], None, id="Drive out of quota"),
    pytest.param(sources(DRIVE, "{url}/gone.zip"), OUT_OF_QUOTA, (SWITCH, E5), {},
                 dict(KEPT, **{"update_temp.zip": False}), [],
                 ["/v.txt", DIRECT, USER, ACCOUNT, "/gone.zip"], None, id="all failing"),
]


@pytest.mark.parametrize("files, replies, ending, fields, disk, tools, requests, then", ROWS)
def test_update_pass(install, serve, httpserver, google, files, replies, ending, fields, disk, tools, requests, then):
    serve({"/v.txt": " %s\r\n" % NEW, **replies})
    inst = install(dict(INSTALL, **files), env=google)
    waits = [arg for text in (ending if isinstance(ending, tuple) else (ending,)) for arg in ("wait-status", 30000, text)]
    announced, done = inst.probe("wait-window", 20000, "wait-status", 30000, "Nova versão: %s -> %s" % (OLD, NEW),
                                 "dump", *waits, "wait-enabled", 5000, "dump", "close")
    assert (announced["play_enabled"], announced["progress"]) == (False, 0)
    want = dict({"caption": "Velmora - Launcher", "version": "Versão: " + OLD, "play_enabled": True}, **fields)
    assert {key: done[key] for key in want} == want
    assert inst.proc.wait(20) == 0
    assert {rel: on_disk(inst.dir / rel, want) for rel, want in disk.items()} == disk
    assert ([name for name, _, _ in inst.calls()], seen(httpserver)) == (tools, requests)
    if then:
        then(inst, serve, httpserver)


def damaged(data):
    """`data` with the first byte of its last entry's data flipped: a tool writes the entries before it."""
    last = zipfile.ZipFile(io.BytesIO(data)).infolist()[-1]
    at = last.header_offset + 30 + sum(struct.unpack("<HH", data[last.header_offset + 26:last.header_offset + 30]))
    return data[:at] + bytes([data[at] ^ 1]) + data[at + 1:]


BIN = {"velmoraclient.exe": b"MZ old client", "zcrash.exe": STANDIN, "data/readme.txt": b"old, read-only",
       "keep.txt": b"not in the archive"}
NEWER = {"velmoraclient.exe": b"MZ" + random.Random(5).randbytes(4000), "zcrash.exe": b"MZ new crash reporter", "data/readme.txt": b"new",
         "data/sub/ação.txt": (b"acentos", zipfile.ZIP_STORED), "vazia/": None}
UPDATED = {"velmoraclient.exe": NEWER["velmoraclient.exe"], "zcrash.exe": NEWER["zcrash.exe"], "data/readme.txt": b"new",
           "data/sub": None, "data/sub/ação.txt": b"acentos", "vazia": None}
HELD = "O arquivo bin\\zcrash.exe está em uso por outro programa. A atualização será concluída no próximo início."
STAGED = [  # archive, files over INSTALL, ending
    pytest.param(damaged(make_zip(dict(NEWER, **{"z.bin": (bytes(999), zipfile.ZIP_STORED)}))),
                 {"powershell.exe.action": "exit 1"}, E7, id="a tool writes some files, then fails"),
    pytest.param(make_zip(NEWER, stream=True), {}, E9, id="data descriptors"),
    pytest.param(make_zip(NEWER, zip64=True), {}, E9, id="zip64"),
    pytest.param(make_zip(NEWER), {}, HELD, id="a file held open, then the launcher stopped between moves"),
]


@pytest.mark.parametrize("archive, files, ending", STAGED)
def test_bin_is_replaced_whole_or_not_at_all(install, serve, archive, files, ending):
    """The real tar unpacks beside bin; bin changes only once all of it is there, a read-only file in
    it is replaced and one the archive lacks stays. A set left staged is finished at the next start; a
    read-only file an unpacking stopped part-way left there goes first."""
    serve({"/v.txt": NEW, "/u.zip": archive})
    inst = install(dict(INSTALL, **files, **{"bin/" + name: data for name, data in BIN.items()}), start=False)
    (inst.dir / "bin/data/readme.txt").chmod(0o444)
    (inst.dir / "update_staging/data").mkdir(parents=True)
    (inst.dir / "update_staging/data/readme.txt").write_bytes(b"half")
    (inst.dir / "update_staging/data/readme.txt").chmod(0o444)
    before, updated = tree(inst.dir / "bin"), dict(tree(inst.dir / "bin"), **UPDATED)
    if ending == HELD:  # the crash reporter holds its own exe open; it is listed last, after every other file
        holder = subprocess.Popen(["wine", inst.dir / "bin/zcrash.exe", "hold", "60"], cwd=inst.dir.parent, env=inst.env,
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        assert wait_until(lambda: (inst.dir.parent / "standin.log").exists(), 10)
    inst.start()
    inst.probe("wait-window", 20000, "wait-status", 30000, ending, "wait-enabled", 5000, "close")
    assert inst.proc.wait(20) == 0
    assert tree(inst.dir / "bin") == (updated if ending == E9 else before)
    assert [(inst.dir / name).exists() for name in ("update_temp.zip", "update_staging")] == [ending == E7, ending == HELD]
    if ending == HELD:
        inst.start()  # still held at the next start: said again, and Play is handed back
        inst.probe("wait-window", 20000, "wait-status", 30000, HELD, "wait-enabled", 5000, "close", "wait-gone", 10000)
        holder.kill()
        holder.wait()
        os.replace(inst.dir / "update_staging/data/readme.txt", inst.dir / "bin/data/readme.txt")  # moved before the stop
        inst.start()
        inst.probe("wait-window", 20000, "wait-status", 30000, E4, "close")
        assert inst.proc.wait(20) == 0 and tree(inst.dir / "bin") == updated
        assert (inst.dir / "version.txt").read_text() == NEW and not (inst.dir / "update_staging.txt").exists()


def test_the_archive_keeps_to_the_players_download_cap(install, serve):
    """256 KiB at MaxDownloadKBps=64 take about 4 s."""
    asked, archive = [], zipped({"velmoraclient.exe": b"MZ" + random.Random(7).randbytes(256 << 10)})
    serve({"/v.txt": NEW, "/u.zip": lambda request: asked.append(time.monotonic()) or Response(archive)})
    inst = install(dict(INSTALL, **{"launcher_config.ini": INSTALL["launcher_config.ini"] + "MaxDownloadKBps=64\r\n"}))
    inst.probe("wait-window", 20000, "wait-status", 30000, E9, "close")
    assert time.monotonic() - asked[0] > 3


@pytest.fixture(scope="module")
def browser_log(wine_env, tmp_path_factory):
    """The program Wine hands web addresses to, named by its full path so that no search path is
    involved, and its log."""
    program = tmp_path_factory.mktemp("browser") / "velmora-test-browser"
    program.write_text('#!/bin/sh\nprintf "%%s\\n" "$@" >> "%s.log"\n' % program)
    program.chmod(0o755)
    wine(wine_env, "reg", "add", r"HKCU\Software\Wine\WineBrowser", "/v", "Browsers", "/d", '"%s"' % program, "/f")
    return program.with_name(program.name + ".log")


@pytest.mark.xdist_group("browser")  # the prefix names one browser for every worker: these rows share one
@pytest.mark.parametrize("site, opens", [("https://velmora.example/novo", "https://velmora.example/novo"),
                                         ("www.velmora.com.br", "http://www.velmora.com.br/"), (None, None)],
                         ids=["web site", "host name", "local program"])
def test_outdated_launcher_warns_opens_only_a_web_site_and_closes(install, serve, httpserver, browser_log, site,
                                                                   opens):
    browser_log.unlink(missing_ok=True)
    inst = install({"launcher_config.ini": INSTALL["launcher_config.ini"] + "ConfigURL={url}/cfg.txt\r\n",
                    "../site.exe": STANDIN}, start=False)
    site = site or winpath(inst.dir.parent / "site.exe")
    serve({"/cfg.txt": "[Launcher]\nMinLauncherBuild=2\nSiteUrl=%s\n" % site})
    inst.start()
    box, state, _ = inst.probe("wait-window", 20000, "msgbox", 30000, "dump", "msgbox", 1000, "ok", "wait-gone", 10000)
    assert box == {"box_caption": "Launcher Desatualizado", "box_text": OUTDATED.format(site), "box_icon": "warning",
                   "box_owner_is_launcher": True}
    assert (state["status"], state["play_enabled"]) == (E1, False)
    assert inst.proc.wait(20) == 0 and seen(httpserver) == ["/cfg.txt"]
    wait_until(browser_log.exists, 10 if opens else 1)
    assert (browser_log.read_text().split() if browser_log.exists() else [], inst.calls()) == ([opens] if opens else [], [])


@pytest.fixture
def small_disk(tmp_path, request):
    """The first install folder's disk: 8 MiB, or the size a row gives as its parameter."""
    (tmp_path / "0").mkdir()
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=" + getattr(request, "param", "8m"), "tmpfs", tmp_path / "0"],
                   check=True)
    yield tmp_path / "0"
    subprocess.run(["umount", "-l", tmp_path / "0"], check=True)


def fill(disk, leave=0):
    """Takes all the room `disk` has left but `leave` bytes, as another program would; removing
    disk/filler gives it back."""
    room = os.statvfs(disk)
    (disk / "filler").write_bytes(bytes(room.f_bavail * room.f_frsize - leave))


BIG = bytes(range(256)) * (6 << 12)  # 6 MiB


@pytest.mark.parametrize("reply, size", [(body((12 << 20) + 1), (12 << 20) + 1),
                                         (resumable(BIG, drops=[(1 << 20, 5)]), len(BIG)),
                                         (make_zip({"velmoraclient.exe": bytes(12 << 20)}), 12 << 20)],
                         ids=["too big for the disk", "disk filled meanwhile", "no room to unpack it"])
def test_a_full_disk(small_disk, install, serve, httpserver, reply, size):
    serve({"/v.txt": NEW, "/u.zip": reply})
    inst = install(dict(INSTALL, **sources("{url}/u.zip", "{url}/m.zip")))  # no room: no reason to try the next
    part, kept = inst.dir / "update_temp.zip.part", size == len(BIG)
    if kept:  # another program takes all the disk has left while the server is silent after the first MiB
        inst.probe("wait-window", 20000, "wait-status", 30000, "Baixando... *", "sleep", 1000)
        fill(small_disk)
    state, = inst.probe("wait-window", 20000, "wait-status", 30000, "Espaço insuficiente *", "wait-enabled", 5000,
                        "dump", "close")
    assert inst.proc.wait(20) == 0 and (part.exists(), (inst.dir / "update_temp.zip.part.txt").exists()) == (kept,) * 2
    assert "/m.zip" not in seen(httpserver)
    have = part.stat().st_size if kept else 0
    assert state["status"] == "Espaço insuficiente no disco (necessários %d MB)." % math.ceil((size - have) / (1 << 20))
    assert (inst.dir / "version.txt").read_bytes() == (OLD + "\r\n").encode()
    assert tree(inst.dir / "bin") == {"keep.txt": INSTALL["bin/keep.txt"]}
    assert (inst.dir / "update_temp.zip").exists() == (size == 12 << 20)  # kept, as after a failed unpacking
    assert not kept or (have == 1 << 20 and part.read_bytes() == BIG[:have])
