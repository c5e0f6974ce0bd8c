"""Runs the real launcher in throw-away install folders under Wine and looks at it through
the probe program. Shared by the end-to-end tests and the demo."""
import json
import os
import shutil
import subprocess
import time
from pathlib import Path

STANDIN = object()  # file content marker: a copy of the stand-in program


def winpath(path):
    """Wine maps the Unix root to drive Z:."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class Install:
    """One install folder with the launcher exe and the given files, and its running launcher."""

    def __init__(self, tools, folder, files):
        self.tools = tools
        self.dir = Path(folder)
        if self.dir.exists():
            shutil.rmtree(self.dir)
        self.dir.mkdir(parents=True)
        shutil.copy(tools.exe, self.dir / "VelmoraLauncher.exe")
        for rel, content in files.items():
            target = self.dir / rel
            target.parent.mkdir(parents=True, exist_ok=True)
            if content is STANDIN:
                shutil.copy(tools.standin, target)
            elif content is None:
                target.mkdir(exist_ok=True)
            else:
                target.write_bytes(content.encode("utf-8") if isinstance(content, str) else content)
        self.proc = None

    def start(self, env=None):
        self.proc = subprocess.Popen(["wine", str(self.dir / "VelmoraLauncher.exe")], cwd=self.dir,
                                     env=env or os.environ, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def probe(self, *commands, timeout=120):
        """Runs probe commands; returns (ok, records). A failed wait ends the list early."""
        out = subprocess.run(["wine", str(self.tools.probe), *map(str, commands)], capture_output=True,
                             stdin=subprocess.DEVNULL, timeout=timeout)
        lines = out.stdout.decode("utf-8").splitlines()
        records = [json.loads(line) for line in lines if line.startswith("{")]
        if out.returncode != 0 and not any("error" in r for r in records):
            records.append({"error": "probe exit %d: %s" % (out.returncode, out.stderr.decode()[-300:])})
        return out.returncode == 0, records

    def wait_exit(self, timeout):
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def standin_calls(self, folder="", wait=0.0):
        """Each stand-in start recorded in `folder`: (exe name, current folder, command line).
        With `wait`, gives a program started just now that long to write its record."""
        log = self.dir / folder / "standin.log"
        deadline = time.time() + wait
        while not log.exists() and time.time() < deadline:
            time.sleep(0.1)
        if not log.exists():
            return []
        return [tuple(line.split("\t", 2)) for line in log.read_text("utf-8").splitlines()]


def screenshot(record, path):
    """Saves the launcher window's area of the X screen as a PNG."""
    geometry = "%dx%d+%d+%d" % (record["width"], record["height"], record["x"], record["y"])
    subprocess.run(["import", "-window", "root", "-crop", geometry, "+repage", str(path)],
                   check=True, timeout=30)
    return path


class Tools:
    def __init__(self, exe, probe, standin, work):
        self.exe, self.probe, self.standin = (Path(p).resolve() for p in (exe, probe, standin))
        self.work = Path(work).resolve()
