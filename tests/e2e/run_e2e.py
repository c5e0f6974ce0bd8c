#!/usr/bin/env python3
"""End-to-end tests of the real launcher under Wine: the window, Play, and the update pass
against a scripted loopback server, with stand-ins for the client, tar.exe and powershell.exe.

Each scenario is one row of SCENARIOS; one runner plays them all."""
import argparse
import contextlib
import io
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

from fixture_server import FixtureServer
from harness import STANDIN, Install, Tools, screenshot, winpath
from tls_proxy import Reply, install_ca, make_test_ca, start_proxy

E2 = "Configure as URLs no launcher_config.ini"
E3 = "Sem conexão. Jogue offline."
E4 = "Client atualizado!"
E5 = "Erro ao baixar. Verifique a URL/link."
E6 = "Download inválido (arquivo muito pequeno)."
E7 = "Falha ao extrair. Extraia update_temp.zip manualmente."
E8 = "Extração incompleta: executável não encontrado em bin/. Tente novamente."
E9 = "Atualização concluída!"
E1 = "Launcher desatualizado! Acesse o site."
OUTDATED = ("Este launcher está desatualizado e não pode ser usado.\n\nPor favor, exclua o launcher atual e "
            "baixe a versão mais recente no nosso site:\n\n{site}\n\nApenas clique em OK e o site será "
            "aberto automaticamente.")

WAIT = 30000  # ms for any one stage to show


def ini(**keys):
    return "[Launcher]\r\n" + "".join("%s=%s\r\n" % kv for kv in keys.items())


def zip_bytes(entries):
    """A zip of stored entries (the stand-in unpacker reads those); STANDIN puts a real program."""
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_STORED) as z:
        for name, data in entries.items():
            z.writestr(name, STANDIN_BYTES if data is STANDIN else data)
    return buf.getvalue()


def served(data, **more):
    return dict(body_hex=data.hex(), **more)


# The launcher takes the archive tools from the system folder only; a row's stand-ins go there.
SYSTEM_TOOLS = {"tar.exe": "", "powershell.exe": "WindowsPowerShell/v1.0"}


def system_tool_folder(name):
    return Path(os.environ["WINEPREFIX"]) / "drive_c/windows/system32" / SYSTEM_TOOLS[name]


def place_system_tools(files):
    """Moves the row's tool stand-ins out of the install files into the prefix's system folder,
    and clears the tools' logs of earlier rows."""
    for name in SYSTEM_TOOLS:
        folder = system_tool_folder(name)
        (folder / "standin.log").unlink(missing_ok=True)
        if files.pop(name, None) is STANDIN:
            folder.mkdir(parents=True, exist_ok=True)
            shutil.copy(STANDIN_PATH, folder / name)
            (folder / (name + ".action")).write_text(files.pop(name + ".action"))


def system_tool_calls():
    """The tools started, in order: tar is always tried before PowerShell."""
    calls = []
    for name in SYSTEM_TOOLS:
        log = system_tool_folder(name) / "standin.log"
        calls += [line.split("\t", 1)[0] for line in log.read_text("utf-8").splitlines()] if log.exists() else []
    return calls


def unpacker(tar="unzip", ps="unzip"):
    """Stand-ins for the two archive tools, each told what to do."""
    return {"tar.exe": STANDIN, "tar.exe.action": tar, "powershell.exe": STANDIN, "powershell.exe.action": ps}


STANDIN_BYTES = b""  # filled in main()
STANDIN_PATH = None
CLIENT_ZIP = None    # a zip whose top level holds velmoraclient.exe


def client_archive():
    """The server script of an archive holding the client, built once the stand-in is known."""
    return served(CLIENT_ZIP)


def update_files(local="1.0.0", **tools):
    files = {"launcher_config.ini": ini(VersionURL="{url}/v.txt", UpdateURL="{url}/u.zip"),
             "version.txt": local + "\r\n"}
    files.update(unpacker(**tools))
    return files


def fixed_size_frame(inst, ctx):
    """Caption, system menu and minimize box; no sizing border, no maximize box."""
    style = ctx["records"][0]["style"]
    assert style & 0x00CF0000 == 0x00CA0000, hex(style)


def client_started(inst, ctx, folder="bin"):
    calls = inst.standin_calls(folder, wait=10)
    assert len(calls) == 1, calls
    name, cwd, cmdline = calls[0]
    assert cwd.lower() == winpath(inst.dir / "bin").lower(), cwd
    # No arguments of the launcher's making: the command line is at most the program itself.
    assert cmdline.strip().strip('"').lower().endswith(name.lower()), cmdline
    assert ctx["exit"] == 0, ctx["exit"]


def no_client_started(inst, ctx):
    assert inst.standin_calls("bin", wait=1) == [], "the client was started"


def browser_opened(url):
    def check(inst, ctx):
        log = Path(ctx["browser_log"])
        for _ in range(50 if url else 20):
            if log.exists() and log.read_text().strip():
                break
            time.sleep(0.1)
        opened = log.read_text().split() if log.exists() else []
        assert opened == ([url] if url else []), opened
    return check


def second_start_removes_kept_archive(inst, ctx):
    """A new start deletes the archive an extraction failure kept, before anything else."""
    ctx["server"].set_script("/v.txt", {"status": 404, "type": "text/plain", "body": "gone"})
    inst.start(ctx["env"])
    ok, rec = inst.probe("wait-window", 20000, "wait-status", WAIT, E3, "dump")
    assert ok, rec
    assert not (inst.dir / "update_temp.zip").exists()
    inst.probe("close")
    assert inst.wait_exit(20) == 0


# A row: install files ("{url}" stands for the server), server scripts, probe commands after
# the window is up with the records they must print (fields compared exactly, or by regex),
# then further probe commands, the exit code if the launcher must end, files on disk
# afterwards (bytes, True for present, False for absent), tool calls in order, the server
# paths requested in order, and extra checks.
SCENARIOS = [
    dict(name="defaults without ini",
         probe=["wait-enabled", 15000, "wait-focus", 2000, "dump"],
         expect=[{"caption": "Velmora - Launcher", "title": "Velmora", "version": "Versão: 0.0.0",
                  "status": E2, "play_enabled": True, "play_focused": True, "play_text": "JOGAR",
                  "progress": 0, "width": 500, "height": 300, "x": 433, "y": 234}],
         screenshot="launcher-window.png", then=["close"], exit=0, requests=[], check=fixed_size_frame),
    dict(name="empty update url ends at E2 without any request, even when current",
         files={"launcher_config.ini": ini(ServerName="Servidor Ação", VersionURL="{url}/v.txt").encode("cp1252"),
                "version.txt": "1.0.1\r\n"},
         server={"/v.txt": {"body": "1.0.1"}},
         probe=["wait-status", WAIT, E2, "wait-enabled", 5000, "dump"],
         expect=[{"caption": "Servidor Ação - Launcher", "title": "Servidor Ação",
                  "version": "Versão: 1.0.1", "play_enabled": True}],
         then=["close"], exit=0, requests=[]),
    dict(name="play starts the client from bin and the launcher ends",
         files={"bin/velmoraclient.exe": STANDIN},
         probe=["wait-enabled", 15000, "click"], exit=0, check=client_started),
    dict(name="any notification from the Play button counts as a press",
         files={"bin/velmoraclient.exe": STANDIN},
         probe=["wait-enabled", 15000, "command", 5], exit=0, check=client_started),
    dict(name="client in a sub-folder of bin still runs in bin",
         files={"launcher_config.ini": ini(ClientExe="game\\run.exe"), "bin/game/run.exe": STANDIN},
         probe=["wait-enabled", 15000, "click"], exit=0,
         check=lambda inst, ctx: client_started(inst, ctx, "bin/game")),
    dict(name="missing client explains and stays open",
         files={"bin": None},
         probe=["wait-enabled", 15000, "click", "msgbox", 10000, "ok", "sleep", 300, "dump"],
         expect=[{"box_caption": "Erro", "box_text": "Executável não encontrado:\n{bin}\\velmoraclient.exe",
                  "box_icon": "error", "box_owner_is_launcher": True},
                 {"play_enabled": True}],
         then=["close"], exit=0),
    dict(name="a file that is not a program cannot start",
         files={"bin/velmoraclient.exe": b"this is not a program\r\n"},
         probe=["wait-enabled", 15000, "click", "msgbox", 10000, "ok", "sleep", 300, "dump"],
         expect=[{"box_caption": "Erro", "box_text": "Falha ao iniciar o client!", "box_icon": "error"},
                 {"play_enabled": True}],
         then=["close"], exit=0),

    # The update pass.
    dict(name="E9: update found, downloaded, unpacked by tar, recorded, then played",
         files=update_files(),
         server={"/v.txt": {"body": "  1.0.1\r\n"}, "/u.zip": client_archive},
         probe=["wait-status", WAIT, "Nova versão: 1.0.0 -> 1.0.1", "dump",
                "wait-status", WAIT, E9, "wait-enabled", 5000, "wait-focus", 2000, "dump"],
         expect=[{"play_enabled": False, "progress": 0},
                 {"version": "Versão: 1.0.1", "progress": 100, "play_enabled": True, "play_focused": True}],
         screenshot="launcher-updated.png",
         then=["click"], exit=0, check=client_started,
         disk={"version.txt": b"1.0.1", "update_temp.zip": False, "bin/velmoraclient.exe": True,
               "_tmp_version_check.txt": False, "version.txt.new": False},
         tools=["tar.exe"], requests=["/v.txt", "/u.zip"]),
    dict(name="E4: equal versions, nothing downloaded",
         files=update_files("1.0.1"), server={"/v.txt": {"body": "1.0.1\n"}},
         probe=["wait-status", WAIT, E4, "wait-enabled", 5000, "dump"],
         expect=[{"version": "Versão: 1.0.1", "play_enabled": True}],
         then=["close"], exit=0, disk={"version.txt": b"1.0.1\r\n"}, tools=[], requests=["/v.txt"]),
    dict(name="a version differing only in letter case is an update; older counts too",
         files=update_files("1.0.1-Beta"), server={"/v.txt": {"body": "1.0.1-beta"}, "/u.zip": client_archive},
         probe=["wait-status", WAIT, E9, "dump"], expect=[{"version": "Versão: 1.0.1-beta"}],
         then=["close"], exit=0, disk={"version.txt": b"1.0.1-beta"}, requests=["/v.txt", "/u.zip"]),
    dict(name="E3: version unreachable, Play still usable",
         files=update_files(), server={"/v.txt": {"status": 500, "type": "text/plain", "body": "boom"}},
         probe=["wait-status", WAIT, E3, "wait-enabled", 5000, "dump"],
         expect=[{"version": "Versão: 1.0.0", "play_enabled": True}],
         then=["close"], exit=0, tools=[], requests=["/v.txt"]),
    dict(name="E5: archive download refused, nothing left behind",
         files=update_files(), server={"/v.txt": {"body": "1.0.1"}, "/u.zip": {"status": 404, "body": "x"}},
         probe=["wait-status", WAIT, E5, "wait-enabled", 5000, "dump"], expect=[{"play_enabled": True}],
         then=["close"], exit=0, disk={"update_temp.zip": False, "version.txt": b"1.0.0\r\n"}, tools=[]),
    dict(name="E6: a 999-byte archive is refused and deleted",
         files=update_files(), server={"/v.txt": {"body": "1.0.1"}, "/u.zip": {"size": 999}},
         probe=["wait-status", WAIT, E6, "wait-enabled", 5000], expect=[],
         then=["close"], exit=0, disk={"update_temp.zip": False}, tools=[]),
    dict(name="E7: a 1000-byte archive goes to the tools; all three fail; kept, then removed at next start",
         files=update_files(), server={"/v.txt": {"body": "1.0.1"}, "/u.zip": {"size": 1000}},
         probe=["wait-status", WAIT, E7, "wait-enabled", 5000, "dump"],
         expect=[{"progress": 100, "play_enabled": True}],
         then=["close"], exit=0, disk={"update_temp.zip": True, "version.txt": b"1.0.0\r\n"},
         tools=["tar.exe", "powershell.exe", "powershell.exe"], check=second_start_removes_kept_archive),
    dict(name="tar fails, Expand-Archive unpacks: exactly two tools run",
         files=update_files(tar="exit 1"), server={"/v.txt": {"body": "1.0.1"}, "/u.zip": client_archive},
         probe=["wait-status", WAIT, E9], expect=[], then=["close"], exit=0,
         disk={"bin/velmoraclient.exe": True}, tools=["tar.exe", "powershell.exe"]),
    dict(name="E8: client inside a sub-folder of the archive",
         files=update_files(), server={"/v.txt": {"body": "1.0.1"},
                                       "/u.zip": lambda: served(zip_bytes({"game/velmoraclient.exe": STANDIN}))},
         probe=["wait-status", WAIT, E8, "wait-enabled", 5000, "dump"],
         expect=[{"version": "Versão: 1.0.0", "play_enabled": True}],
         then=["close"], exit=0,
         disk={"version.txt": b"1.0.0\r\n", "update_temp.zip": False, "bin/game/velmoraclient.exe": True}),
    dict(name="remote config overrides name, URLs and client (CRLF, blanks around keys)",
         files=dict(unpacker(), **{"launcher_config.ini": ini(ConfigURL="{url}/cfg.txt", VersionURL="{url}/v.txt"),
                                   "version.txt": "1.0.0"}),
         server={"/cfg.txt": {"body": "; remote\r\n[Launcher]\r\n ServerName = Reino Remoto \r\n"
                                      "VersionURL={url}/v2.txt\r\nUpdateURL = {url}/u2.zip?a=1&b=2\r\n"
                                      "ClientExe=rc.exe\r\n"},
                 "/v2.txt": {"body": "2.0"},
                 "/u2.zip": lambda: served(zip_bytes({"rc.exe": STANDIN}))},
         probe=["wait-status", WAIT, E9, "dump"],
         expect=[{"caption": "Reino Remoto - Launcher", "title": "Reino Remoto", "version": "Versão: 2.0"}],
         then=["click"], exit=0, disk={"bin/rc.exe": True, "version.txt": b"2.0"},
         requests=["/cfg.txt", "/v2.txt", "/u2.zip?a=1&b=2"]),
    dict(name="a lower-case [launcher] header applies nothing",
         files={"launcher_config.ini": ini(ServerName="Local", ConfigURL="{url}/cfg.txt", VersionURL="{url}/v.txt")},
         server={"/cfg.txt": {"body": "[launcher]\nServerName=Remote\nUpdateURL={url}/u.zip\n"}},
         probe=["wait-status", WAIT, E2, "dump"], expect=[{"caption": "Local - Launcher", "title": "Local"}],
         then=["close"], exit=0, requests=["/cfg.txt"]),
    dict(name="E1: outdated launcher warns, opens the site and closes; Play never usable",
         files={"launcher_config.ini": ini(ConfigURL="{url}/cfg.txt", VersionURL="{url}/v.txt", UpdateURL="{url}/u.zip")},
         server={"/cfg.txt": {"body": "[Launcher]\nMinLauncherBuild=2\nSiteUrl=https://velmora.example/novo\n"}},
         probe=["msgbox", WAIT, "dump", "msgbox", 1000, "ok", "wait-gone", 10000],
         expect=[{"box_caption": "Launcher Desatualizado", "box_icon": "warning", "box_owner_is_launcher": True,
                  "box_text": OUTDATED.format(site="https://velmora.example/novo")},
                 {"status": E1, "play_enabled": False},
                 {"box_caption": "Launcher Desatualizado"}],
         exit=0, requests=["/cfg.txt"], check=browser_opened("https://velmora.example/novo")),
    dict(name="E1 with a site that is not a web address: told, closed, nothing opened",
         files={"launcher_config.ini": ini(ConfigURL="{url}/cfg.txt", VersionURL="{url}/v.txt", UpdateURL="{url}/u.zip")},
         server={"/cfg.txt": {"body": "[Launcher]\nMinLauncherBuild=7\nSiteUrl=C:\\windows\\notepad.exe\n"}},
         probe=["msgbox", WAIT, "ok", "wait-gone", 10000],
         expect=[{"box_text": OUTDATED.format(site="C:\\windows\\notepad.exe")}],
         exit=0, check=browser_opened(None)),
    dict(name="progress is shown while downloading; Play ignored while busy; closing mid-download ends cleanly",
         files=update_files(),
         server={"/v.txt": {"body": "1.0.1"},
                 "/u.zip": {"size": 4 * 1048576, "chunk_size": 65536, "chunk_delay_ms": 150}},
         probe=["wait-status", WAIT, "Baixando... *", "command", 0, "no-msgbox", 1500, "dump", "close",
                "wait-gone", 10000],
         expect=[{"status": re.compile(r"Baixando\.\.\. \d+\.\d / 4\.0 MB"), "play_enabled": False,
                  "progress": re.compile(r"[0-9]|[1-9][0-9]")}],
         exit=0, check=lambda inst, ctx: no_client_started(inst, ctx)),
]

# UpdateURL is a Google Drive share link; the Google hosts are played by a local TLS proxy whose
# CA only the test Wine prefix trusts. The direct link answers with the virus-scan page, whose
# form leads to the file.
DRIVE_ID = "1VelmoraZip_x"
DRIVE_FORM = ("drive.usercontent.google.com", "/download?id=%s&export=download&confirm=t&uuid=9f" % DRIVE_ID)
DRIVE_PAGE = ('<!DOCTYPE html><html><form id="download-form" action="https://drive.usercontent.google.com/'
              'download?id=%s&amp;export=download&amp;confirm=t" method="get">'
              '<input type="hidden" name="uuid" value="9f"></form></html>' % DRIVE_ID)
SCENARIOS.append(dict(
    name="UpdateURL as a Google Drive share link, through the confirmation page",
    files=dict(update_files(), **{"launcher_config.ini": ini(
        VersionURL="{url}/v.txt", UpdateURL="https://drive.google.com/file/d/%s/view?usp=sharing" % DRIVE_ID)}),
    server={"/v.txt": {"body": "1.0.1"}},
    drive={("drive.google.com", "/uc?export=download&confirm=t&id=" + DRIVE_ID):
           lambda: Reply(DRIVE_PAGE.encode(), "text/html; charset=utf-8"),
           DRIVE_FORM: lambda: Reply(CLIENT_ZIP, "application/octet-stream")},
    probe=["wait-status", WAIT, E9, "dump"], expect=[{"version": "Versão: 1.0.1"}], then=["close"], exit=0,
    disk={"bin/velmoraclient.exe": True, "version.txt": b"1.0.1"}, tools=["tar.exe"],
    drive_requests=[("drive.google.com", "/uc?export=download&confirm=t&id=" + DRIVE_ID), DRIVE_FORM]))

# The install folder of this row has blanks, an apostrophe and accents in its path, and tar is
# missing, so the PowerShell form must carry the escaped path intact.
SCENARIOS.append(dict(
    name="install path with blanks, apostrophe and accents updates through Expand-Archive",
    folder="Jogo d'Ação ‘Teste’", files=update_files(tar="exit 9009"),
    server={"/v.txt": {"body": "1.0.1"}, "/u.zip": client_archive},
    probe=["wait-status", WAIT, E9], expect=[], then=["close"], exit=0,
    disk={"bin/velmoraclient.exe": True, "version.txt": b"1.0.1"}, tools=["tar.exe", "powershell.exe"]))


def matches(value, want):
    if isinstance(want, re.Pattern):
        return want.fullmatch(str(value)) is not None
    return value == want


def run(tools, sc, index, browser_log):
    folder = tools.work / ("case%02d" % index) / sc.get("folder", "install")
    with contextlib.ExitStack() as stack:
        server = stack.enter_context(FixtureServer(lifetime=300))
        proxy = None
        if sc.get("drive"):
            proxy = stack.enter_context(start_proxy(tools.ca, {k: v() for k, v in sc["drive"].items()}, 300))
        subst = lambda v: v.replace("{url}", server.url) if isinstance(v, str) else v
        scripts = {}
        for path, script in sc.get("server", {}).items():
            if callable(script):  # built once the stand-in program is known
                script = script()
            scripts[path] = {k: subst(v) for k, v in script.items()}
        server.set_scripts(scripts)
        files = {k: subst(v) for k, v in sc.get("files", {}).items()}
        place_system_tools(files)
        inst = Install(tools, folder, files)
        if browser_log.exists():
            browser_log.unlink()
        env = dict(os.environ, VELMORA_BROWSER_LOG=str(browser_log))
        if proxy:
            env["http_proxy"] = proxy.url
        ctx = {"bin": winpath(inst.dir / "bin"), "server": server, "env": env, "browser_log": browser_log}
        inst.start(env)
        try:
            ok, records = inst.probe("wait-window", 20000, *sc["probe"])
            assert ok, records
            ctx["records"] = records
            want = sc.get("expect", [])
            assert len(records) == len(want), records
            for rec, fields in zip(records, want):
                for key, value in fields.items():
                    if isinstance(value, str):
                        value = value.format(**ctx)
                    assert matches(rec.get(key), value), "%s: %r, wanted %r" % (key, rec.get(key), value)
            if sc.get("screenshot"):
                print("  screenshot:", screenshot(records[-1], tools.work.parent / sc["screenshot"]))
            if sc.get("then"):
                ok, more = inst.probe(*sc["then"])
                assert ok, more
            if "exit" in sc:
                ctx["exit"] = inst.wait_exit(20)
                assert ctx["exit"] == sc["exit"], "exit code %r" % ctx["exit"]
            for rel, state in sc.get("disk", {}).items():
                path = inst.dir / rel
                if state is True or state is False:
                    assert path.exists() == state, "%s exists: %s" % (rel, path.exists())
                else:
                    assert path.exists() and path.read_bytes() == state, "%s: %r" % (
                        rel, path.read_bytes() if path.exists() else None)
            if "tools" in sc:
                called = system_tool_calls()
                assert called == sc["tools"], called
            if "requests" in sc:
                paths = [r["path"] for r in server.requests()]
                assert paths == sc["requests"], paths
            if "drive_requests" in sc:
                assert proxy.recorded() == sc["drive_requests"], proxy.recorded()
            if sc.get("check"):
                sc["check"](inst, ctx)
        finally:
            inst.stop()


def install_browser_recorder(tools):
    """Points the prefix's URL opener at a script that records what it was asked to open."""
    bindir = tools.work / "browser"
    bindir.mkdir(parents=True, exist_ok=True)
    script = bindir / "velmora-test-browser"
    script.write_text('#!/bin/sh\nprintf "%s\\n" "$@" >> "$VELMORA_BROWSER_LOG"\n')
    script.chmod(0o755)
    os.environ["PATH"] = str(bindir) + os.pathsep + os.environ["PATH"]
    subprocess.run(["wine", "reg", "add", "HKCU\\Software\\Wine\\WineBrowser", "/v", "Browsers", "/d",
                    "velmora-test-browser", "/f"], capture_output=True, timeout=60, check=True)
    return tools.work / "browser.log"


def main():
    global STANDIN_BYTES, STANDIN_PATH, CLIENT_ZIP
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--standin", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--trust", required=True, help="the helper that trusts a CA in the Wine prefix")
    ap.add_argument("-k", default="", help="run only scenarios whose name contains this")
    args = ap.parse_args()
    for var in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY"):
        os.environ.pop(var, None)
    tools = Tools(args.exe, args.probe, args.standin, args.work)
    STANDIN_BYTES = tools.standin.read_bytes()
    STANDIN_PATH = tools.standin
    CLIENT_ZIP = zip_bytes({"velmoraclient.exe": STANDIN, "data/readme.txt": b"Velmora client data\r\n"})
    browser_log = install_browser_recorder(tools)
    # Own label: another suite running at the same time trusts its own CA under its own name.
    tools.ca = make_test_ca(tools.work / "ca", label="launcher e2e")
    install_ca(tools.ca, args.trust)
    passed = failed = 0
    for i, sc in enumerate(SCENARIOS):
        if args.k not in sc["name"]:
            continue
        started = time.time()
        try:
            run(tools, sc, i, browser_log)
            passed += 1
            print("PASS %s (%.1fs)" % (sc["name"], time.time() - started))
        except AssertionError as e:
            failed += 1
            print("FAIL %s: %s" % (sc["name"], e))
        sys.stdout.flush()
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed or not passed else 0


if __name__ == "__main__":
    sys.exit(main())
