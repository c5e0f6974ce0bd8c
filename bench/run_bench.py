#!/usr/bin/env python3
"""Serves a large file from loopback and times DownloadFile, a bare WinINet loop and curl.

Run through scripts/bench, which builds download_bench.exe and sets up Wine first.
"""

import argparse
import os
import re
import statistics
import subprocess
import sys
import time

from pytest_httpserver import HTTPServer

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from conftest import body  # noqa: E402

LINE = re.compile(r"^(downloadfile|bare) round=(\d+) ok=(\d) bytes=(\d+) seconds=([\d.]+) calls=(\d+) "
                  r"busiest_second=(\d+) peak=(\d+)")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--size-mb", type=int, default=256)
    ap.add_argument("--rounds", type=int, default=7)
    args = ap.parse_args()

    size = args.size_mb * 1024 * 1024
    os.makedirs(args.work, exist_ok=True)
    out = os.path.join(os.path.abspath(args.work), "bench_download.bin")
    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    with HTTPServer(host="127.0.0.1") as server:
        server.expect_request("/big").respond_with_handler(body(size, piece=1 << 20))
        server.expect_request("/warm").respond_with_handler(body(1 << 20))
        run = subprocess.run(["wine", args.exe, server.url_for("/big"), server.url_for("/warm"),
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
            if os.path.getsize(out) != size:
                sys.exit("curl got a short file")
        os.remove(out)

    baseline = int(re.search(r"working_set=(\d+)", run.stdout).group(1))
    rows = {"downloadfile": [], "bare": [], "curl": curl}
    df_peak, calls_per_s, busiest = None, [], []
    for m in filter(None, map(LINE.match, run.stdout.splitlines())):
        kind, rnd, ok, nbytes, seconds, calls, most, peak = m.groups()
        if ok != "1" or int(nbytes) != size:
            sys.exit("incomplete download: " + m.group(0))
        rows[kind].append(float(seconds))
        if kind == "downloadfile":
            calls_per_s.append(int(calls) / float(seconds))
            busiest.append(int(most))
            if rnd == "1":
                df_peak = int(peak)  # round 1 runs DownloadFile before any bare loop

    rate = {k: args.size_mb / statistics.median(v) for k, v in rows.items()}
    print("%d MB from 127.0.0.1, %d rounds each, median of each:" % (args.size_mb, args.rounds))
    print("| method | median MB/s | all rounds, seconds |")
    print("|---|---|---|")
    for name, key in (("DownloadFile", "downloadfile"), ("bare WinINet loop", "bare"), ("curl (native)", "curl")):
        print("| %s | %.0f | %s |" % (name, rate[key], " ".join("%.2f" % s for s in rows[key])))
    print()
    print("DownloadFile / bare loop: %.2fx (target >= 0.9)" % (rate["downloadfile"] / rate["bare"]))
    print("DownloadFile / curl:      %.2fx" % (rate["downloadfile"] / rate["curl"]))
    print("working set: %.1f MB before, peak %.1f MB after a DownloadFile round; growth %.2f MB (target < 2)"
          % (baseline / 1048576.0, df_peak / 1048576.0, (df_peak - baseline) / 1048576.0))
    # A short transfer's first-chunk call and call after the loop inflate calls/duration, so
    # the rate is also given as the most calls that fell within any one second.
    print("progress calls: at most %d in any one second (target <= 11); calls/duration median %.1f/s"
          % (max(busiest), statistics.median(calls_per_s)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
