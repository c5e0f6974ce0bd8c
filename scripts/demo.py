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

from pytest_httpserver import HTTPServer

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from conftest import STANDIN, Install, body  # noqa: E402


def sample_zip(client):
    buf = io.BytesIO()
    with zipfile.ZipFile(buf, "w", zipfile.ZIP_STORED) as z:
        z.writestr("velmoraclient.exe", client.read_bytes())
        z.writestr("data/leia-me.txt", "Velmora 1.0.1: cliente de exemplo.\r\n".encode("utf-8"))
        z.writestr("data/mundo.pak", os.urandom(3 * 1048576))
    return buf.getvalue()


def screenshot(record, path):
    """Saves the launcher window's area of the X screen as a PNG."""
    geometry = "%dx%d+%d+%d" % (record["width"], record["height"], record["x"], record["y"])
    subprocess.run(["import", "-window", "root", "-crop", geometry, "+repage", str(path)], check=True, timeout=30)
    return path


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--headless", action="store_true")
    args = ap.parse_args()
    build = Path(args.build).resolve()
    with HTTPServer(host="127.0.0.1") as server:
        server.expect_request("/version.txt").respond_with_data("1.0.1\r\n")
        # Paced so the progress can be watched: about 1 MB/s.
        server.expect_request("/velmora-1.0.1.zip").respond_with_handler(
            body(sample_zip(build / "tests/standin.exe"), pause=0.06))
        print("Sample server:", server.url_for("/"))
        shutil.rmtree(build / "demo", ignore_errors=True)
        env = dict(os.environ, WINEDEBUG="-all", no_proxy="127.0.0.1")
        inst = Install(build, env, build / "demo/install", {
            "launcher_config.ini": "[Launcher]\r\nServerName=Velmora\r\nVersionURL={url}/version.txt\r\n"
                                   "UpdateURL={url}/velmora-1.0.1.zip\r\n",
            "version.txt": "1.0.0\r\n", "tar.exe.action": "unzip"}, server.url_for("").rstrip("/"))
        # The launcher runs tar.exe from the system folder, where Wine has none.
        shutil.copy(build / "tests/standin.exe", Path(os.environ["WINEPREFIX"]) / "drive_c/windows/system32/tar.exe")
        print("Install folder:", inst.dir)
        inst.start()
        if not args.headless:
            print("The launcher is open; close it (or press JOGAR) to end the demo.")
            inst.proc.wait()
            return 0
        try:
            rec = inst.probe("wait-window", 20000, "wait-status", 30000, "Nova versão: 1.0.0 -> 1.0.1",
                             "wait-status", 30000, "Baixando... *", "sleep", 1500, "dump")[-1]
            print("  ", rec["status"], "(%d%%)" % rec["progress"])
            print("Screenshot:", screenshot(rec, build / "demo-progress.png"))
            rec = inst.probe("wait-status", 60000, "Atualização concluída!", "dump")[-1]
        except AssertionError as failure:
            print("demo failed:", failure)
            return 1
        print("  ", rec["status"], "|", rec["version"])
        print("Screenshot:", screenshot(rec, build / "demo-done.png"))
        print("version.txt now holds:", (inst.dir / "version.txt").read_bytes().decode())
        print("bin:", ", ".join(sorted(str(p.relative_to(inst.dir / "bin")) for p in (inst.dir / "bin").rglob("*"))))
        inst.probe("close")
        inst.proc.wait(20)
        return 0


if __name__ == "__main__":
    sys.exit(main())
