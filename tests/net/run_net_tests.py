#!/usr/bin/env python3
"""Runs net_tests.exe under Wine against a fresh fixture server on loopback."""

import argparse
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from fixture_server import FixtureServer  # noqa: E402


def windows_path(unix_path):
    # Wine's Z: drive is the Unix root.
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--wine-run", required=True)
    ap.add_argument("--timeout", type=float, default=600)
    args, rest = ap.parse_known_args()

    env = dict(os.environ)
    # WinINet honours these, and the fixture must be reached directly.
    for name in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"):
        env.pop(name, None)
    env["no_proxy"] = "127.0.0.1,localhost"

    with tempfile.TemporaryDirectory(prefix="velmora_net_") as scratch, \
            FixtureServer(lifetime=args.timeout + 30) as server:
        env["VELMORA_FIXTURE_URL"] = server.url
        if os.path.exists("/dev/full"):
            # Every write to /dev/full fails as on a full disk.
            os.symlink("/dev/full", os.path.join(scratch, "full.bin"))
            env["VELMORA_FULL_FILE"] = windows_path(os.path.join(scratch, "full.bin"))
        try:
            return subprocess.run([args.wine_run, args.exe] + rest, env=env, timeout=args.timeout,
                                  stdin=subprocess.DEVNULL).returncode
        except subprocess.TimeoutExpired:
            print("net_tests did not finish in %.0f s" % args.timeout, file=sys.stderr)
            return 1


if __name__ == "__main__":
    sys.exit(main())
