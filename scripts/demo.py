#!/usr/bin/env python3
"""Runs the launcher through a real update from a bundled local server.

The sample install folder (build/demo/install) starts at version 1.0.0; the server publishes
1.0.1 with a zip holding a sample client at its top level. Wine has no tar.exe, and the launcher
takes its tools from the system folder only, so the tests' stand-in unpacker goes into the Wine
prefix's system folder under that name."""
import argparse
import io
import os
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from fixture_server import FixtureServer  # noqa: E402
from harness import Install, Tools, screenshot  # noqa: E402


def sample_zip(client):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_STORED) as z:
        z.writestr("velmoraclient.exe", client.read_bytes())
        z.writestr("data/leia-me.txt", "Velmora 1.0.1: cliente de exemplo.\r\n".encode("utf-8"))
        z.writestr("data/mundo.pak", os.urandom(3 * 1048576))
    return buf.getvalue()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--headless", action="store_true")
    args = ap.parse_args()
    build = Path(args.build)
    tools = Tools(build / "VelmoraLauncher.exe", build / "tests/probe.exe", build / "tests/standin.exe",
                  build / "demo")
    archive = sample_zip(tools.standin)
    scripts = {"/version.txt": {"body": "1.0.1\r\n"},
               # Paced so the progress can be watched: about 1 MB/s.
               "/velmora-1.0.1.zip": {"body_hex": archive.hex(), "chunk_size": 65536, "chunk_delay_ms": 60}}
    with FixtureServer(scripts, lifetime=3600) as server:
        print("Sample server:", server.url)
        inst = Install(tools, tools.work / "install", {
            "launcher_config.ini": "[Launcher]\r\nServerName=Velmora\r\nVersionURL=%s/version.txt\r\n"
                                   "UpdateURL=%s/velmora-1.0.1.zip\r\n" % (server.url, server.url),
            "version.txt": "1.0.0\r\n"})
        system = Path(os.environ["WINEPREFIX"]) / "drive_c" / "windows" / "system32"
        shutil.copy(tools.standin, system / "tar.exe")
        (system / "tar.exe.action").write_text("unzip")
        print("Install folder:", inst.dir)
        inst.start()
        if not args.headless:
            print("The launcher is open; close it (or press JOGAR) to end the demo.")
            inst.wait_exit(None)
            return 0
        ok, rec = inst.probe("wait-window", 20000, "wait-status", 30000, "Nova versão: 1.0.0 -> 1.0.1",
                             "wait-status", 30000, "Baixando... *", "sleep", 1500, "dump")
        if not ok:
            print("demo failed:", rec)
            return 1
        print("  ", rec[-1]["status"], "(%d%%)" % rec[-1]["progress"])
        print("Screenshot:", screenshot(rec[-1], build / "demo-progress.png"))
        ok, rec = inst.probe("wait-status", 60000, "Atualização concluída!", "dump")
        if not ok:
            print("demo failed:", rec)
            return 1
        print("  ", rec[-1]["status"], "|", rec[-1]["version"])
        print("Screenshot:", screenshot(rec[-1], build / "demo-done.png"))
        print("version.txt now holds:", (inst.dir / "version.txt").read_bytes().decode())
        print("bin:", ", ".join(sorted(str(p.relative_to(inst.dir / "bin")) for p in (inst.dir / "bin").rglob("*"))))
        inst.probe("close")
        inst.wait_exit(20)
        return 0


if __name__ == "__main__":
    sys.exit(main())
