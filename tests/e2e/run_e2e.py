#!/usr/bin/env python3
"""End-to-end tests of the launcher window, Play and the client start, under Wine."""
import argparse
import sys
import time

from harness import STANDIN, Install, Tools, screenshot, winpath

WS_CAPTION_SYSMENU_MIN = 0x00CA0000
WS_SIZE_OR_MAX = 0x00050000  # sizing border, maximize box

INI_NO_URLS = "[Launcher]\r\nServerName=Servidor Ação\r\nVersionURL=http://127.0.0.1:9/v.txt\r\n"


def client_started(inst, rec, ctx):
    calls = inst.standin_calls("bin", wait=10)
    assert len(calls) == 1, calls
    name, cwd, cmdline = calls[0]
    assert cwd.lower() == winpath(inst.dir / "bin").lower(), cwd
    # No arguments of the launcher's making: the command line is at most the program itself.
    assert cmdline.strip().strip('"').lower().endswith(name.lower()), cmdline
    assert ctx["exit"] == 0, ctx["exit"]


def client_in_subfolder(inst, rec, ctx):
    calls = inst.standin_calls("bin/game", wait=10)
    assert len(calls) == 1 and calls[0][1].lower() == winpath(inst.dir / "bin").lower(), calls
    assert ctx["exit"] == 0


# Each scenario: install files, probe commands after the window is up, expected fields of the
# records the probe prints (in order), whether the launcher must have exited (and its code),
# and an optional extra check.
SCENARIOS = [
    dict(name="defaults without ini",
         files={},
         probe=["wait-enabled", 15000, "dump"],
         expect=[{"caption": "Velmora - Launcher", "title": "Velmora", "version": "Versão: 0.0.0",
                  "status": "Configure as URLs no launcher_config.ini", "play_enabled": True,
                  "play_focused": True, "play_text": "JOGAR", "progress": 0,
                  "width": 500, "height": 300, "x": 433, "y": 234}],
         screenshot="launcher-window.png",
         then=["close"], exit=0),
    dict(name="missing update url ends at E2 with Play usable",
         files={"launcher_config.ini": INI_NO_URLS.encode("cp1252"), "version.txt": "1.4.2\r\n"},
         probe=["wait-status", 15000, "Configure as URLs no launcher_config.ini", "wait-enabled", 5000, "dump"],
         expect=[{"caption": "Servidor Ação - Launcher", "title": "Servidor Ação",
                  "version": "Versão: 1.4.2", "play_enabled": True}],
         then=["close"], exit=0),
    dict(name="play starts the client from bin and the launcher ends",
         files={"bin/velmoraclient.exe": STANDIN},
         probe=["wait-enabled", 15000, "click"], expect=[], exit=0, check=client_started),
    dict(name="any notification from the Play button counts as a press",
         files={"bin/velmoraclient.exe": STANDIN},
         probe=["wait-enabled", 15000, "command", 5], expect=[], exit=0, check=client_started),
    dict(name="client in a sub-folder of bin still runs in bin",
         files={"launcher_config.ini": "[Launcher]\r\nClientExe=game\\run.exe\r\n", "bin/game/run.exe": STANDIN},
         probe=["wait-enabled", 15000, "click"], expect=[], exit=0, check=client_in_subfolder),
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
]


def run(tools, sc, index):
    inst = Install(tools, tools.work / ("case%02d" % index), sc["files"])
    ctx = {"bin": winpath(inst.dir / "bin")}
    inst.start()
    try:
        ok, records = inst.probe("wait-window", 20000, *sc["probe"])
        assert ok, records
        assert len(records) == len(sc["expect"]), records
        for rec, want in zip(records, sc["expect"]):
            for key, value in want.items():
                if isinstance(value, str):
                    value = value.format(**ctx)
                assert rec.get(key) == value, "%s: %r != %r" % (key, rec.get(key), value)
        if sc.get("screenshot"):
            print("  screenshot:", screenshot(records[0], tools.work.parent / sc["screenshot"]))
        if sc.get("then"):
            ok, more = inst.probe(*sc["then"])
            assert ok, more
        if "exit" in sc:
            ctx["exit"] = inst.wait_exit(20)
            assert ctx["exit"] == sc["exit"], "exit code %r" % ctx["exit"]
        if sc.get("check"):
            sc["check"](inst, records, ctx)
    finally:
        inst.stop()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--standin", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("-k", default="", help="run only scenarios whose name contains this")
    args = ap.parse_args()
    tools = Tools(args.exe, args.probe, args.standin, args.work)
    passed = failed = 0
    for i, sc in enumerate(SCENARIOS):
        if args.k not in sc["name"]:
            continue
        started = time.time()
        try:
            run(tools, sc, i)
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
