#!/usr/bin/env python3
"""Serves large files from loopback and measures the downloads side by side in one run:
throughput of a bare WinINet loop, DownloadFile and the hashed archive download (and curl);
an archive broken off at 25, 50 and 75 % against the same archive unbroken; the memory of a
5 GiB DownloadFile. Run through scripts/bench, which builds download_bench.exe and sets up Wine.
With --cap-kbps, only the archive download under that MaxDownloadKBps instead: the most bytes any
10 s carried, as the server sent them and as the download received them, against the cap.
"""
import argparse
import logging
import os
import re
import socket
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


def timed(size, sent):
    """`size` bytes in 16 KiB pieces, as fast as the reader takes them; (time, bytes) of each piece
    once the socket has taken it goes to `sent`."""
    def handler(request):
        # A small fixed send buffer, not one grown to megabytes: what leaves the server is then what
        # the line carries to the launcher's side, give or take the receiving socket's buffer.
        request.environ["werkzeug.socket"].setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 1 << 14)

        def pieces():
            for at in range(0, size, 1 << 14):
                yield PATTERN[at % 256:at % 256 + min(1 << 14, size - at)]
                sent.append((time.monotonic(), min(1 << 14, size - at)))
        head = {"Content-Length": str(size), "ETag": '"c"', "Accept-Ranges": "bytes"}
        return Response(pieces(), 200, head, content_type="application/zip", direct_passthrough=True)
    return handler


def busiest_window(samples, span=10.0):
    """The most bytes within any `span` seconds of (time, bytes) samples."""
    most, first, total = 0, 0, 0
    for t, n in samples:
        total += n
        while samples[first][0] <= t - span:
            total -= samples[first][1]
            first += 1
        most = max(most, total)
    return most


def cap_bench(args, env):
    """The download under the cap, `rounds` times; each round's busiest 10 s against the cap's."""
    size, allowed = args.cap_mb << 20, args.cap_kbps * 1024 * 10
    out = os.path.join(os.path.abspath(args.work), "bench_capped.bin")
    server_side, client_side = [], []
    for _ in range(args.rounds):
        sent = []
        with HTTPServer(host="127.0.0.1") as server:
            server.expect_request("/capped").respond_with_handler(timed(size, sent))
            run = subprocess.run(["wine", args.exe, "cap", server.url_for("/capped"), "Z:" + out.replace("/", "\\"),
                                  str(args.cap_kbps)], env=env, capture_output=True, text=True, timeout=3000,
                                 stdin=subprocess.DEVNULL)
        if run.returncode != 0 or "capped ok=1 bytes=%d " % size not in run.stdout:
            sys.exit(run.stdout + run.stderr)
        received, samples = 0, []
        for line in run.stdout.splitlines():
            if line.startswith("sample "):
                t, count = line.split()[1:]
                samples.append((float(t), int(count) - received))
                received = int(count)
        server_side.append(busiest_window(sent) / allowed)
        client_side.append(busiest_window(samples) / allowed)
        seconds = float(re.search(r"seconds=([\d.]+)", run.stdout).group(1))
        print("round: %.1f s for %d MB (%.0f KiB/s); busiest 10 s / cap: sent %.4f, received %.4f"
              % (seconds, args.cap_mb, size / 1024 / seconds, server_side[-1], client_side[-1]))
    print("MaxDownloadKBps=%d, %d MB, %d rounds: busiest 10 s window / cap, sent by the server: worst %.4f, median "
          "%.4f; received by the download: worst %.4f, median %.4f (target <= 1.05)"
          % (args.cap_kbps, args.cap_mb, args.rounds, max(server_side), statistics.median(server_side),
             max(client_side), statistics.median(client_side)))
    return 0


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
    ap.add_argument("--cap-kbps", type=int, default=0, help="measure only the download under this cap")
    ap.add_argument("--cap-mb", type=int, default=48)
    args = ap.parse_args()
    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    os.makedirs(args.work, exist_ok=True)
    logging.getLogger("werkzeug").setLevel(logging.ERROR)  # no line per request
    if args.cap_kbps:
        return cap_bench(args, dict(env, WINEDEBUG="-all"))

    size, broken = args.size_mb << 20, args.broken_mb << 20
    archive = PATTERN[:1 << 20] * args.broken_mb
    out = os.path.join(os.path.abspath(args.work), "bench_download.bin")
    quarters = [broken // 4, broken // 2, 3 * broken // 4]
    per_round, clean = {}, resumable(archive)

    def dropping(request):  # a fresh set of breaks for every round
        return per_round.setdefault(request.args["round"], resumable(archive, drops=quarters))(request)

    with HTTPServer(host="127.0.0.1") as server:
        server.expect_request("/big").respond_with_handler(resumable(PATTERN[:1 << 20] * args.size_mb))
        server.expect_request("/warm").respond_with_handler(body(1 << 20))
        server.expect_request("/clean").respond_with_handler(clean)
        server.expect_request("/drops").respond_with_handler(dropping)
        server.expect_request("/huge").respond_with_handler(body(args.huge_gb << 30, piece=1 << 20))
        server.expect_request("/paced").respond_with_handler(line_rate(args.paced_mb << 20))
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
