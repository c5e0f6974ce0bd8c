#!/usr/bin/env python3
"""Patches inside one big pack, side by side in one run at a server paced like a gigabit line: a
client whose data is one stored pack of 2 GiB, changed by three edits (1 MiB overwritten at 30 %,
100 KiB inserted at 10 %, 50 KiB deleted at 70 %), updated through the full download, the patch
with the installed-files record and the patch without it. Run through `scripts/bench --chunks`; the
files live in --work (/dev/shm) and are removed afterwards.

Witnesses: the server's count of body bytes and its request log (patch_bench's Site), the status
line as probe.exe sees it, and the launcher's peak resident memory from /proc. A zsync-like scheme
of fixed blocks found anywhere in the old file is computed from the edits for comparison.
"""
import argparse
import hashlib
import logging
import mmap
import os
import shutil
import statistics
import subprocess
import sys
import time
import zipfile
from pathlib import Path

from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from pytest_httpserver import HTTPServer

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from patch_bench import DONE, EXTRACTING, FETCHING, RECORD, VERIFYING, Site, hash_files  # noqa: E402
from patch_bench import wine, winpath  # noqa: E402

PACK = "data/pack.pak"
MODES = {"full": (False, [EXTRACTING, DONE]), "record": (True, [DONE]), "no record": (True, [VERIFYING, FETCHING, DONE])}


def noise(seed, start, length):
    """Bytes start..start+length of an endless seeded stream (AES-CTR): random at any scale, cheap."""
    counter = (start // 16).to_bytes(16, "big")
    enc = Cipher(algorithms.AES(hashlib.sha256(seed).digest()), modes.CTR(counter)).encryptor()
    return enc.update(bytes(length + start % 16))[start % 16:]


def edits(size):
    """The new pack as pieces of (seed, start, length), and the edited ranges in the new pack's offsets."""
    mib, kib = 1 << 20, 1 << 10
    at10, at30, at70 = size // 10, size * 3 // 10, size * 7 // 10
    pieces = [(b"old", 0, at10), (b"insert", 0, 100 * kib), (b"old", at10, at30 - at10), (b"overwrite", 0, mib),
              (b"old", at30 + mib, at70 - at30 - mib), (b"old", at70 + 50 * kib, size - at70 - 50 * kib)]
    shift = 100 * kib
    changed = [(at10, at10 + 100 * kib), (at30 + shift, at30 + shift + mib), (at70 + shift, at70 + shift)]
    return pieces, changed


def write_pack_zip(path, exe, pieces):
    info = zipfile.ZipInfo(PACK, (2026, 1, 1, 0, 0, 0))
    info.file_size = sum(p[2] for p in pieces)
    with zipfile.ZipFile(path, "w", allowZip64=True) as z:
        z.write(exe, "velmoraclient.exe")
        with z.open(info, "w", force_zip64=True) as out:
            for seed, start, length in pieces:
                for at in range(start, start + length, 16 << 20):
                    out.write(noise(seed, at, min(16 << 20, start + length - at)))


def zsync_like(size, changed, block):
    """Bytes a zsync-like scheme fetches: the new file's fixed blocks that overlap an edit (any other
    block is found in the old file wherever it moved), plus its control file (4 + 16 bytes a block)."""
    touched = {b for first, end in changed for b in range(first // block, max(first, end - 1) // block + 1)}
    return sum(min(block, size - b * block) for b in touched), (size + block - 1) // block * 20


def peak_kib():
    """The high-water resident memory (KiB) of the launcher's Wine process: the largest among the
    processes whose command line names it."""
    peak = 0
    for pid in (p for p in os.listdir("/proc") if p.isdigit()):
        try:
            if b"VelmoraLauncher.exe" in Path("/proc/%s/cmdline" % pid).read_bytes():
                status = Path("/proc/%s/status" % pid).read_text()
                peak = max([peak] + [int(line.split()[1]) for line in status.splitlines() if line.startswith("VmHWM")])
        except (OSError, ValueError):
            continue
    return peak


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--work", default="/dev/shm/velmora-chunk-bench")
    ap.add_argument("--size-mb", type=int, default=2048)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--rate-mb", type=int, default=100, help="the line's pace, MiB a second")
    ap.add_argument("--reuse", action="store_true", help="keep archives and manifests an earlier run left in --work")
    args = ap.parse_args()
    build, work = Path(args.build), Path(args.work)
    env = dict({k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}, WINEDEBUG="-all",
               no_proxy="127.0.0.1")
    shutil.copy(build / "tests/standin.exe", Path(env["WINEPREFIX"]) / "drive_c/windows/system32/tar.exe")
    if not args.reuse:
        shutil.rmtree(work, ignore_errors=True)
    for leftover in ("old", "run"):
        shutil.rmtree(work / leftover, ignore_errors=True)
    work.mkdir(parents=True, exist_ok=True)
    try:
        return bench(args, build, work, env)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def bench(args, build, work, env):
    size = args.size_mb << 20
    pieces, changed = edits(size)
    started = time.monotonic()
    manifests = {}
    for version, parts in ((1, [(b"old", 0, size)]), (2, pieces)):
        archive = work / ("client%d.zip" % version)
        if not (args.reuse and Path(str(archive) + ".manifest").exists()):
            write_pack_zip(archive, build / "tests/standin.exe", parts)
            done = wine(env, build / "VelmoraTool.exe", "manifest", winpath(archive))
            if done.returncode != 0:
                sys.exit(done.stdout.decode(errors="replace"))
        manifests[version] = Path(str(archive) + ".manifest").read_bytes()
    print("archives and manifests made in %.0f s" % (time.monotonic() - started), flush=True)
    archive_size = (work / "client2.zip").stat().st_size
    new_digest = next(line.split("\t")[2] for line in manifests[2].decode().splitlines() if line.endswith(PACK))

    site = Site()
    logging.getLogger("werkzeug").setLevel(logging.ERROR)
    with HTTPServer(host="127.0.0.1") as server:
        for path in site.files:
            server.expect_request(path).respond_with_handler(site)
        url = server.url_for("").rstrip("/")
        maps = {}

        def publish(version, with_manifest):
            if version not in maps:
                with open(work / ("client%d.zip" % version), "rb") as f:
                    maps[version] = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
            site.files["/u.zip"], site.etag, site.files["/m.txt"] = maps[version], '"v%d"' % version, manifests[version]
            site.files["/v.txt"] = str(version).encode()
            site.files["/cfg.txt"] = ("[Launcher]\r\n" + ("UpdateManifest=%s/m.txt\r\n" % url if with_manifest
                                                           else "")).encode()

        def update(folder, version, waits):
            site.reset()
            launcher = subprocess.Popen(["wine", folder / "VelmoraLauncher.exe"], cwd=folder, env=env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            steps = [arg for text in waits for arg in ("wait-status", "900000", text, "pid")]
            probe = subprocess.Popen(["wine", build / "tests/probe.exe", "wait-window", "30000", *steps, "sleep", "300",
                                      "close"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
            seen, peak = [], 0
            for _ in probe.stdout:
                seen.append(time.monotonic())
                if len(seen) == len(waits):  # done, and the window is still open for a moment
                    peak = peak_kib()
            if probe.wait() != 0 or launcher.wait(60) != 0 or len(seen) != len(waits):
                sys.exit("update in %s failed" % folder)
            if (folder / "version.txt").read_text() != str(version):
                sys.exit("version not recorded in %s" % folder)
            return seen, list(site.log), dict(site.served), peak

        base = work / "old"
        base.mkdir()
        shutil.copy(build / "VelmoraLauncher.exe", base)
        ini = "[Launcher]\r\nConfigURL=%s/cfg.txt\r\nVersionURL=%s/v.txt\r\nUpdateURL=%s/u.zip\r\n" % (url, url, url)
        for name, text in (("launcher_config.ini", ini), ("version.txt", "0"), ("tar.exe.action", "unzip")):
            (base / name).write_text(text)
        publish(1, True)
        update(base, 1, [DONE])
        maps.pop(1).close()
        os.remove(work / "client1.zip")
        if "+" not in (base / RECORD).read_text():
            sys.exit("the record lists no chunks")
        print("old client installed in %.0f s" % (time.monotonic() - started), flush=True)

        rows = {mode: [] for mode in MODES}
        site.rate = args.rate_mb << 20
        for r in range(args.rounds):
            for mode in list(MODES)[r % 3:] + list(MODES)[:r % 3]:
                with_manifest, waits = MODES[mode]
                folder = work / "run"
                subprocess.run(["cp", "-a", base, folder], check=True)
                if mode == "no record":
                    os.remove(folder / RECORD)
                publish(2, with_manifest)
                seen, log, served, peak = update(folder, 2, waits)
                with open(folder / "bin" / PACK, "rb") as f:
                    if hashlib.file_digest(f, "sha256").hexdigest() != new_digest:
                        sys.exit("the new pack is not in bin after %s" % mode)
                begun = next(t for t, path, _ in log if path not in ("/cfg.txt", "/v.txt"))
                ranged = [t for t, path, asked in log if path == "/u.zip" and asked]
                row = {"served": served["/m.txt"] + served["/u.zip"], "work": seen[-1] - begun, "peak": peak / 1024}
                if mode == "no record":
                    row["scan"] = seen[1] - seen[0]  # "Verificando arquivos instalados..." until the fetching's status
                    scanned, row["native"] = hash_files(base / "bin", {PACK: (size, "", 0)})
                    row["native"] = scanned / row["native"]
                    alone = subprocess.run(["wine", build / "bench/chunk_scan_bench.exe", winpath(base / "bin" / PACK)],
                                           env=env, stdin=subprocess.DEVNULL, capture_output=True, check=True)
                    scanned, seconds = alone.stdout.split()
                    row["alone"] = int(scanned) / float(seconds)
                shutil.rmtree(folder)
                rows[mode].append(row)
                print("round %d %-9s served %d bytes in %d ranges, work %.2f s, peak %.1f MiB" %
                      (r + 1, mode, row["served"], len(ranged), row["work"], row["peak"]), flush=True)
    report(rows, args, size, changed, len(manifests[2]), archive_size)
    return 0


def report(rows, args, size, changed, manifest_size, archive_size):
    def spread(mode, key, scale=1.0):
        values = [row[key] * scale for row in rows[mode]]
        return "%.2f (%.2f-%.2f)" % (statistics.median(values), min(values), max(values))

    def med(mode, key):
        return statistics.median(row[key] for row in rows[mode])

    mib = 1 << 20
    print("\npack %d bytes in an archive of %d bytes; manifest %d bytes = %.4f %% of the archive (target <= 0.02 %%); "
          "server at %d MiB/s; %d rounds, order rotated; medians (min-max)"
          % (size, archive_size, manifest_size, 100.0 * manifest_size / archive_size, args.rate_mb, args.rounds))
    print("| update | bytes served | work, s | peak memory, MiB |")
    print("|---|---|---|---|")
    for mode in MODES:
        print("| %s | %d | %s | %s |" % (mode, med(mode, "served"), spread(mode, "work"), spread(mode, "peak")))
    print()
    for block in (mib, 4096):
        fetched, control = zsync_like(size, changed, block)
        print("zsync-like, %d-byte blocks found anywhere: %d bytes fetched + %d bytes of block sums = %.2f MiB"
              % (block, fetched, control, (fetched + control) / mib))
    patch = med("record", "served")
    print("patch bytes served - manifest = %.2f MiB (target <= 12 MiB)" % ((patch - manifest_size) / mib))
    print("work with the record / full work: %.4f (target <= 0.1)" % (med("record", "work") / med("full", "work")))
    print("work without the record / full work: %.4f" % (med("no record", "work") / med("full", "work")))
    rates = [size / row["scan"] / 1e9 for row in rows["no record"]]
    native = [row["native"] / 1e9 for row in rows["no record"]]
    ratios = [a / b for a, b in zip(rates, native)]
    print("no record: old pack cut and hashed at %.2f GB/s (%.2f-%.2f); native SHA-256 of the same file right after "
          "%.2f GB/s (%.2f-%.2f); ratio %.2f (%.2f-%.2f; target >= 0.9)"
          % (statistics.median(rates), min(rates), max(rates), statistics.median(native), min(native), max(native),
             statistics.median(ratios), min(ratios), max(ratios)))
    alone = [row["alone"] / 1e9 for row in rows["no record"]]
    against = [row["alone"] / row["native"] for row in rows["no record"]]
    print("no record: the same cutting and hashing alone in a process of its own %.2f GB/s (%.2f-%.2f); ratio to "
          "native %.2f (%.2f-%.2f; target >= 0.9)" % (statistics.median(alone), min(alone), max(alone),
                                                      statistics.median(against), min(against), max(against)))


if __name__ == "__main__":
    sys.exit(main())
