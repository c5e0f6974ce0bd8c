#!/usr/bin/env python3
"""Serves large files from loopback and measures the downloads side by side in one run:
throughput of a bare WinINet loop, DownloadFile and the hashed archive download (and curl);
an archive broken off at 25, 50 and 75 % against the same archive unbroken; the memory of a
5 GiB DownloadFile. Run through scripts/bench, which builds download_bench.exe and sets up Wine.
"""
import argparse
import logging
import os
import re
import statistics
import subprocess
import sys
import time

from pytest_httpserver import HTTPServer
from werkzeug import Response

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from conftest import PATTERN, body, resumable  # noqa: E402

LINE = re.compile(r"^(\w+) round=(\d+) ok=(\d) bytes=(\d+) seconds=([\d.]+) calls=(\d+) busiest_second=(\d+) "
                  r"peak=(\d+)")


def line_rate(size, rate=100 << 20):
    """A body fed as a line of `rate` bytes a second would feed it: each 64 KiB piece leaves at
    its own time, however long the one before took to be taken."""
    def handler(request):
        def pieces():
            start = time.monotonic()
            for at in range(0, size, 1 << 16):
                time.sleep(max(0.0, start + at / rate - time.monotonic()))
                yield PATTERN[at % 256:at % 256 + min(1 << 16, size - at)]
        return Response(pieces(), 200, {"Content-Length": str(size)}, direct_passthrough=True)
    return handler


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    # The files go to memory by default: a disk's writeback pauses would drown what is measured.
    ap.add_argument("--work", default="/dev/shm/velmora-bench")
    ap.add_argument("--size-mb", type=int, default=256)
    ap.add_argument("--broken-mb", type=int, default=1024)
    ap.add_argument("--huge-gb", type=int, default=5)
    ap.add_argument("--paced-mb", type=int, default=128)
    ap.add_argument("--rounds", type=int, default=5)
    args = ap.parse_args()

    size, broken = args.size_mb << 20, args.broken_mb << 20
    archive = PATTERN[:1 << 20] * args.broken_mb
    os.makedirs(args.work, exist_ok=True)
    out = os.path.join(os.path.abspath(args.work), "bench_download.bin")
    quarters = [broken // 4, broken // 2, 3 * broken // 4]
    per_round, clean = {}, resumable(archive)

    def dropping(request):  # a fresh set of breaks for every round
        return per_round.setdefault(request.args["round"], resumable(archive, drops=quarters))(request)

    logging.getLogger("werkzeug").setLevel(logging.ERROR)  # no line per request
    with HTTPServer(host="127.0.0.1") as server:
        server.expect_request("/big").respond_with_handler(resumable(PATTERN[:1 << 20] * args.size_mb))
        server.expect_request("/warm").respond_with_handler(body(1 << 20))
        server.expect_request("/clean").respond_with_handler(clean)
        server.expect_request("/drops").respond_with_handler(dropping)
        server.expect_request("/huge").respond_with_handler(body(args.huge_gb << 30, piece=1 << 20))
        server.expect_request("/paced").respond_with_handler(line_rate(args.paced_mb << 20))
        env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
        run = subprocess.run(["wine", args.exe, *(server.url_for(p) for p in ("/big", "/warm", "/clean", "/drops",
                                                                             "/huge", "/paced")),
                              "Z:" + out.replace("/", "\\"), str(args.rounds)],  # Z: is the Unix root
                             env=dict(env, WINEDEBUG="-all"), capture_output=True, text=True, timeout=3000,
                             stdin=subprocess.DEVNULL)
        if run.returncode != 0:
            sys.exit(run.stdout + run.stderr)
        curl = []
        for _ in range(args.rounds):
            start = time.perf_counter()
            subprocess.run(["curl", "-s", "--noproxy", "*", "-o", out, server.url_for("/big")], check=True)
            curl.append(time.perf_counter() - start)
        os.remove(out)

    rows = {"bare": [], "downloadfile": [], "archive": [], "hashed": [], "sha256": [], "clean": [], "dropped": [],
            "paced_bare": [], "paced_archive": [], "paced_hashed": [], "curl": curl}
    busiest = []
    for m in filter(None, map(LINE.match, run.stdout.splitlines())):
        kind, _, ok, nbytes, seconds, _, most, peak = m.groups()
        want = {"clean": broken, "dropped": broken, "after": 0}.get(kind, args.paced_mb << 20 if "paced" in kind else size)
        if ok != "1" or int(nbytes) != want:
            sys.exit("incomplete download: " + m.group(0))
        rows[kind].append(float(seconds)) if kind in rows else None
        if kind in ("downloadfile", "archive", "hashed"):  # one unbroken transfer each
            busiest.append(int(most))
        if kind == "after":
            huge_peak = int(peak)
    huge_before = int(re.search(r"huge before=(\d+)", run.stdout).group(1))

    length = dict(clean=broken, dropped=broken)
    rate = {k: length.get(k, args.paced_mb << 20 if "paced" in k else size) / 1048576 / statistics.median(v)
            for k, v in rows.items()}
    print("%d MB from 127.0.0.1, %d rounds each, median of each:" % (args.size_mb, args.rounds))
    print("| method | median MB/s | all rounds, seconds |")
    print("|---|---|---|")
    for name, key in (("bare WinINet loop", "bare"), ("DownloadFile", "downloadfile"),
                      ("archive download", "archive"), ("archive download with SHA-256", "hashed"),
                      ("SHA-256 alone, from memory", "sha256"), ("curl (native)", "curl")):
        print("| %s | %.0f | %s |" % (name, rate[key], " ".join("%.2f" % s for s in rows[key])))
    print()
    print("DownloadFile / bare loop:           %.2fx (target >= 0.9)" % (rate["downloadfile"] / rate["bare"]))
    print("archive with SHA-256 / bare loop:   %.2fx (target >= 0.9)" % (rate["hashed"] / rate["bare"]))
    print("at 100 MB/s (%d MB from a server paced like a gigabit line): bare loop %.0f MB/s, archive %.0f MB/s, "
          "archive with SHA-256 %.0f MB/s: %.2fx of the bare loop"
          % (args.paced_mb, rate["paced_bare"], rate["paced_archive"], rate["paced_hashed"],
             rate["paced_hashed"] / rate["paced_bare"]))
    served = sum(h.served for h in per_round.values()) / len(per_round)
    print("%d MB archive broken off at 25, 50 and 75 %%, against the same unbroken (%d rounds, medians):"
          % (args.broken_mb, args.rounds))
    print("  bytes served / archive size: %.4f (target <= 1.01)" % (served / broken))
    print("  time / clean time:           %.2f (target <= 1.10; pauses before resuming set to 0)"
          % (statistics.median(rows["dropped"]) / statistics.median(rows["clean"])))
    print("memory: peak working set %.1f MB before, %.1f MB after a %d GiB DownloadFile: growth %.2f MB (target < 2)"
          % (huge_before / 1048576, huge_peak / 1048576, args.huge_gb, (huge_peak - huge_before) / 1048576))
    print("progress calls: at most %d in any one second (target <= 11)" % max(busiest))
    return 0


if __name__ == "__main__":
    sys.exit(main())
