#!/usr/bin/env python3
"""Runs net_tests.exe under Wine against a fresh fixture server on loopback.

bench/run_bench.py shares its helpers."""

import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from fixture_server import FixtureServer  # noqa: E402


def wine_program_args():
    """The options of a runner: the Windows program and the script that runs it under Wine."""
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--wine-run", required=True)
    return ap


def direct_env(**more):
    """The environment without proxy settings: WinINet honours them, and loopback is reached directly."""
    env = {k: v for k, v in os.environ.items() if not k.lower().endswith("_proxy")}
    return dict(env, no_proxy="127.0.0.1,localhost", **more)


def main():
    ap = wine_program_args()
    ap.add_argument("--timeout", type=float, default=600)
    args, rest = ap.parse_known_args()
    with FixtureServer(lifetime=args.timeout + 30) as server:
        return subprocess.run([args.wine_run, args.exe] + rest, env=direct_env(VELMORA_FIXTURE_URL=server.url),
                              timeout=args.timeout, stdin=subprocess.DEVNULL).returncode


if __name__ == "__main__":
    sys.exit(main())
