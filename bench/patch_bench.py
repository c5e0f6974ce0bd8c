#!/usr/bin/env python3
"""Patch updates side by side in one run, at a server paced like a gigabit line: the same update
(a client of about 2 GiB in about 500 entries, 3 of them changed) through the full download, the
patch with the installed-files record, the patch without it (the first after an older launcher),
and an update that changes nothing but the version. Run through `scripts/bench --patch`, which
builds the programs and sets up Wine; the install folders and archives live in --work.

Witnesses: the server's own count of body bytes and its request log, and the status line as
probe.exe sees it. The work of an update runs from the first request after the version text (the
end of the announcement pause: nothing else happens between them) to "Atualização concluída!".
"""
import argparse
import hashlib
import logging
import mmap
import os
import random
import shutil
import statistics
import subprocess
import sys
import time
import zipfile
from pathlib import Path

from pytest_httpserver import HTTPServer
from werkzeug import Response

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from conftest import wine, winpath  # noqa: E402

DONE, VERIFYING, EXTRACTING = "Atualização concluída!", "Verificando arquivos instalados...", "Extraindo arquivos..."
FETCHING = "Baixando*"  # the patch's download, shown once the installed files are judged
RECORD = "installed_files.txt"
# mode: (installed client, version published, manifest published, statuses witnessed)
MODES = {"full": ("old", "2", False, [EXTRACTING, DONE]),
         "patch": ("old", "2", True, [DONE]),
         "first": ("old", "2", True, [VERIFYING, FETCHING, DONE]),
         "current": ("new", "3", True, [DONE])}


class Site:
    """Serves `files` (path: bytes-like), each piece of 64 KiB leaving at the time a line of `rate`
    bytes a second would send it (no pacing when None). A single Range gets its 206 unless an
    If-Range names another validator. Counts the body bytes it sends per path and logs each request."""

    def __init__(self):
        self.files, self.etag, self.rate = dict.fromkeys(("/v.txt", "/cfg.txt", "/m.txt", "/u.zip")), None, None
        self.reset()

    def reset(self):
        self.served, self.log = dict.fromkeys(self.files, 0), []

    def __call__(self, request):
        self.log.append((time.monotonic(), request.path, request.headers.get("Range")))
        data = self.files[request.path]
        span = request.range and request.range.range_for_length(len(data))
        partial = bool(span) and request.if_range.etag in (None, self.etag.strip('"'))
        start, stop = span if partial else (0, len(data))
        head = {"ETag": self.etag, "Accept-Ranges": "bytes", "Content-Length": str(stop - start)}
        if partial:
            head["Content-Range"] = "bytes %d-%d/%d" % (start, stop - 1, len(data))

        def pieces():
            began = time.monotonic()
            for at in range(start, stop, 1 << 16):
                if self.rate:
                    time.sleep(max(0.0, began + (at - start) / self.rate - time.monotonic()))
                piece = bytes(data[at:min(stop, at + (1 << 16))])
                self.served[request.path] += len(piece)
                yield piece
        return Response(pieces(), 206 if partial else 200, head, content_type="application/octet-stream",
                        direct_passthrough=True)


def client(count, total, version):
    """The entries of a client version: (name, size, salt). Three entries of 1/300 of the total each
    change between versions; the rest keep their content."""
    rng = random.Random(18)
    avg = total // count
    sizes = [rng.randint(avg // 64, 2 * avg - avg // 64) for _ in range(count)]
    changed = {count // 6, count // 2, 5 * count // 6}
    for i in changed:
        sizes[i] = total // 300
    return [("data/%02d/%03d.pak" % (i % 17, i), size, "%d:%d" % (i, version if i in changed else 0))
            for i, size in enumerate(sizes)]


def write_archive(path, entries, exe):
    """A zip of stored entries: a random megabyte repeated, behind a salt that makes each digest its own."""
    block = memoryview(random.Random(1).randbytes(1 << 20))
    with zipfile.ZipFile(path, "w") as z:
        z.write(exe, "velmoraclient.exe")
        for name, size, salt in entries:
            info = zipfile.ZipInfo(name, (2026, 1, 1, 0, 0, 0))
            info.file_size = size
            with z.open(info, "w") as out:
                out.write(hashlib.sha256(salt.encode()).digest()[:size])
                for at in range(32, size, len(block)):
                    out.write(block[:min(len(block), size - at)])


def manifest_entries(text):
    """path: (size, content digest, raw length), from the manifest's file lines."""
    fields = (line.split("\t") for line in text.decode("utf-8").splitlines())
    return {f[-1]: (int(f[1]), f[2], int(f[4])) for f in fields if f[0] == "F"}


def hash_files(folder, entries):
    """Hashes with Python's hashlib (OpenSSL, native) the files of `folder` whose size is the manifest's,
    as the launcher does without a record: the bytes and the seconds it took."""
    began, total = time.monotonic(), 0
    for path, (size, _, _) in entries.items():
        if (folder / path).exists() and (folder / path).stat().st_size == size:
            with open(folder / path, "rb") as f:
                hashlib.file_digest(f, "sha256")
            total += size
    return total, time.monotonic() - began


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--work", default="/dev/shm/velmora-patch-bench")
    ap.add_argument("--size-mb", type=int, default=2048)
    ap.add_argument("--entries", type=int, default=500)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--rate-mb", type=int, default=100, help="the line's pace, MiB a second")
    args = ap.parse_args()
    build, work = Path(args.build), Path(args.work)
    env = dict({k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}, WINEDEBUG="-all",
               no_proxy="127.0.0.1")
    # The stand-in unpacks as tar.exe would, from the prefix's system folder (its action file is per folder).
    shutil.copy(build / "tests/standin.exe", Path(env["WINEPREFIX"]) / "drive_c/windows/system32/tar.exe")
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    try:
        return bench(args, build, work, env)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def bench(args, build, work, env):
    started = time.monotonic()
    manifests = {}
    for version in (1, 2):
        archive = work / ("client%d.zip" % version)
        write_archive(archive, client(args.entries, args.size_mb << 20, version), build / "tests/standin.exe")
        done = wine(env, build / "VelmoraTool.exe", "manifest", winpath(archive))
        if done.returncode != 0:
            sys.exit(done.stdout.decode(errors="replace"))
        manifests[version] = Path(str(archive) + ".manifest").read_bytes()
    print("client and manifests made in %.0f s" % (time.monotonic() - started))
    old, new = manifest_entries(manifests[1]), manifest_entries(manifests[2])
    needed = sum(raw for path, (_, digest, raw) in new.items() if old.get(path, (0, ""))[1] != digest)
    archive_size = (work / "client2.zip").stat().st_size

    site = Site()
    logging.getLogger("werkzeug").setLevel(logging.ERROR)
    with HTTPServer(host="127.0.0.1") as server:
        for path in site.files:
            server.expect_request(path).respond_with_handler(site)
        url = server.url_for("").rstrip("/")
        ini = "[Launcher]\r\nConfigURL=%s/cfg.txt\r\nVersionURL=%s/v.txt\r\nUpdateURL=%s/u.zip\r\n" % (url, url, url)

        maps = {}

        def publish(version, archive, with_manifest):
            if archive not in maps:
                with open(work / ("client%d.zip" % archive), "rb") as f:
                    maps[archive] = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)  # the page cache's copy
            site.files["/u.zip"] = maps[archive]
            site.etag, site.files["/m.txt"] = '"v%d"' % archive, manifests[archive]
            site.files["/v.txt"] = version.encode()
            site.files["/cfg.txt"] = ("[Launcher]\r\n" + ("UpdateManifest=%s/m.txt\r\n" % url if with_manifest
                                                           else "")).encode()

        def update(folder, version, waits):
            """Runs the launcher in `folder` to the last of `waits`: the server's log and count, and
            when each status was seen."""
            site.reset()
            launcher = subprocess.Popen(["wine", folder / "VelmoraLauncher.exe"], cwd=folder, env=env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            steps = [arg for text in waits for arg in ("wait-status", "900000", text, "pid")]
            probe = subprocess.Popen(["wine", build / "tests/probe.exe", "wait-window", "30000", *steps, "close"],
                                     env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
            seen = [(time.monotonic(), line) for line in probe.stdout]  # a line as each status shows
            if probe.wait() != 0 or launcher.wait(60) != 0 or len(seen) != len(waits):
                sys.exit("update in %s failed: %r" % (folder, [line for _, line in seen]))
            if (folder / "version.txt").read_text() != version:
                sys.exit("version not recorded in %s" % folder)
            for path, (_, digest, _) in (old if version == "1" else new).items():
                changed = old[path][1] != new[path][1]
                if changed and hashlib.sha256((folder / "bin" / path).read_bytes()).hexdigest() != digest:
                    sys.exit("%s not installed in %s" % (path, folder))
            return [t for t, _ in seen], list(site.log), dict(site.served)

        # The old client as the launcher installs it, record included; then the new one from it.
        bases = {"old": work / "old", "new": work / "new"}
        bases["old"].mkdir()
        shutil.copy(build / "VelmoraLauncher.exe", bases["old"])
        for name, text in (("launcher_config.ini", ini), ("version.txt", "0"), ("tar.exe.action", "unzip")):
            (bases["old"] / name).write_text(text)
        publish("1", 1, True)
        update(bases["old"], "1", [DONE])
        maps.pop(1).close()
        os.remove(work / "client1.zip")
        subprocess.run(["cp", "-a", bases["old"], bases["new"]], check=True)
        publish("2", 2, True)
        update(bases["new"], "2", [DONE])
        if not all((base / RECORD).exists() for base in bases.values()):
            sys.exit("the launcher wrote no record of the installed files")
        print("old and new client installed in %.0f s" % (time.monotonic() - started))

        hashed = hash_files(bases["old"] / "bin", new)[0]
        rows = {mode: [] for mode in MODES}
        site.rate = args.rate_mb << 20
        for r in range(args.rounds):
            for mode in list(MODES)[r % 4:] + list(MODES)[:r % 4]:
                base, version, with_manifest, waits = MODES[mode]
                folder = work / "run"
                subprocess.run(["cp", "-a", bases[base], folder], check=True)
                if mode == "first":
                    os.remove(folder / RECORD)
                publish(version, 2, with_manifest)
                seen, log, served = update(folder, version, waits)
                shutil.rmtree(folder)
                begun = next(t for t, path, _ in log if path not in ("/cfg.txt", "/v.txt"))
                ranged = [t for t, path, asked in log if path == "/u.zip" and asked]
                # The update's bytes: the texts every start fetches (version, configuration) apart.
                row = {"served": served["/m.txt"] + served["/u.zip"], "texts": served["/v.txt"] + served["/cfg.txt"],
                       "work": seen[-1] - begun}
                if mode == "full":
                    row["download"] = seen[0] - begun
                if mode == "first":
                    row["hashing"] = ranged[0] - seen[0]
                    row["judging"] = seen[1] - seen[0]  # without the set-up of the first range request
                    # The same bytes hashed natively at the same moment: what the shared cores give now.
                    row["native"] = hashed / hash_files(bases["old"] / "bin", new)[1]
                rows[mode].append(row)
                print("round %d %-7s served %d bytes in %d requests (%d ranges), work %.2f s" %
                      (r + 1, mode, row["served"], len(log), len(ranged), row["work"]), flush=True)
    report(rows, args, needed, len(manifests[2]), archive_size, hashed)
    return 0


def report(rows, args, needed, manifest_size, archive_size, hashed):
    def med(mode, key):
        return statistics.median(row[key] for row in rows[mode])

    def spread(mode, key):
        values = [row[key] for row in rows[mode]]
        return "%.2f (%.2f-%.2f)" % (statistics.median(values), min(values), max(values))

    print("\nclient: %d entries, archive %d bytes; 3 entries changed, needed raw bytes %d (%.2f %% of the archive); "
          "manifest %d bytes; server paced at %d MiB/s; %d rounds, order rotated; medians (min-max)"
          % (args.entries + 1, archive_size, needed, 100.0 * needed / archive_size, manifest_size, args.rate_mb,
             args.rounds))
    print("| update | bytes served | work, s |")
    print("|---|---|---|")
    for mode, name in (("full", "full download (no manifest)"), ("patch", "patch, record present"),
                       ("first", "patch, no record (first after an older launcher)"),
                       ("current", "nothing changed but the version")):
        print("| %s | %d | %s |" % (name, med(mode, "served"), spread(mode, "work")))
    print()
    print("full path: download %s s of its work, unpacking the rest" % spread("full", "download"))
    for mode in ("patch", "first"):
        print("%s: bytes served / (1.02 x needed + manifest) = %.4f (target <= 1)"
              % (mode, med(mode, "served") / (1.02 * needed + manifest_size)))
    print("patch work / full work, record present: %.4f (target <= 0.05)"
          % (med("patch", "work") / med("full", "work")))
    print("patch work / full work, no record:      %.4f" % (med("first", "work") / med("full", "work")))
    print("patch work / the full path's download alone (its unpacking left out): record %.4f, no record %.4f"
          % (med("patch", "work") / med("full", "download"), med("first", "work") / med("full", "download")))
    rates = [hashed / row["hashing"] / 1e9 for row in rows["first"]]
    print("no record: %d bytes hashed in %s s: %.2f GB/s (%.2f-%.2f; target >= 1 GB/s)"
          % (hashed, spread("first", "hashing"), statistics.median(rates), min(rates), max(rates)))
    rates = [hashed / row["judging"] / 1e9 for row in rows["first"]]
    print("  to the download's first status instead: %s s, %.2f GB/s (%.2f-%.2f)"
          % (spread("first", "judging"), statistics.median(rates), min(rates), max(rates)))
    native = [row["native"] / 1e9 for row in rows["first"]]
    print("  the same files hashed natively (Python's hashlib, OpenSSL) right after: %.2f GB/s (%.2f-%.2f)"
          % (statistics.median(native), min(native), max(native)))
    print("nothing changed: bytes served %d, the manifest %d bytes (target: equal); every update also fetched the "
          "version and configuration texts, %d bytes"
          % (med("current", "served"), manifest_size, med("current", "texts")))


if __name__ == "__main__":
    sys.exit(main())
