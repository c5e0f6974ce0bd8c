"""Google Drive links through the real DownloadFile under Wine, against the local TLS stand-in.

Each scenario scripts the stand-in hosts, runs fetch.exe once and checks the result, the
requests in the order they arrived, and the bytes left at the destination.
Needs WINEPREFIX and DISPLAY (scripts/test sets both).
"""
import argparse
import os
import random
import subprocess
import sys
from pathlib import Path

from harness import winpath
from tls_proxy import Reply, install_ca, make_test_ca, start_proxy

ID = "1AbC-Zz_09"
DRIVE, USERCONTENT = "drive.google.com", "drive.usercontent.google.com"
SHARE_URL = "https://drive.google.com/file/d/%s/view?usp=sharing" % ID
SHARE = (DRIVE, "/file/d/%s/view?usp=sharing" % ID)
DIRECT = (DRIVE, "/uc?export=download&confirm=t&id=" + ID)
USER = (USERCONTENT, "/download?id=%s&export=download&confirm=t" % ID)
ACCOUNT = (USERCONTENT, "/download?id=%s&export=download&authuser=0&confirm=t" % ID)
NO_ID_ACCOUNT = (USERCONTENT, "/download?id=&export=download&authuser=0&confirm=t")
FORM = (USERCONTENT, "/download?id=%s&export=download&confirm=t&at=AX1&uuid=u-42" % ID)
LATE_FORM = (USERCONTENT, "/late")
NO_ID = (DRIVE, "/drive/shared-update")

ARCHIVE = b"PK\x03\x04" + random.Random(5).randbytes(150000)
ZIP = Reply(ARCHIVE, "application/zip")
OLD = b"previous contents"
FETCH_TIMEOUT = 90


def html(text):
    return Reply(text.encode("latin-1"), "text/html; charset=utf-8")


WARNING = ("<!DOCTYPE html><html><body>Google Drive can't scan this file for viruses."
           "<form id=\"download-form\" action=\"https://drive.usercontent.google.com/download?id=%s"
           "&amp;export=download&amp;confirm=t&amp;at=AX1\" method=\"get\">"
           "<input type=\"hidden\" name=\"uuid\" value=\"u-42\"></form></body></html>" % ID)
NO_FORM = html("<html><body>Quota exceeded</body></html>")
FILLER = "<!-- " + "x" * (1 << 20) + " -->"

# name, URL, script, expected result, expected requests, expected destination bytes
SCENARIOS = [
    ("direct link answers the file", SHARE_URL, {DIRECT: ZIP}, True, [DIRECT, DIRECT], ARCHIVE),
    ("docs host with id= form", "https://docs.google.com/uc?export=download&id=" + ID,
     {DIRECT: ZIP}, True, [DIRECT, DIRECT], ARCHIVE),
    ("confirmation page: form link with uuid", SHARE_URL, {DIRECT: html(WARNING), FORM: ZIP},
     True, [DIRECT, FORM], ARCHIVE),
    ("confirmation page without form: user-content link", SHARE_URL, {DIRECT: NO_FORM, USER: ZIP},
     True, [DIRECT, USER], ARCHIVE),
    ("main request HTML: retry with account succeeds", SHARE_URL,
     {DIRECT: NO_FORM, USER: NO_FORM, ACCOUNT: ZIP}, True, [DIRECT, USER, ACCOUNT], ARCHIVE),
    ("main request HTML: retry answers HTML too", SHARE_URL,
     {DIRECT: NO_FORM, USER: NO_FORM, ACCOUNT: NO_FORM}, False, [DIRECT, USER, ACCOUNT], OLD),
    ("main request error status: retry", SHARE_URL,
     {DIRECT: Reply(b"gone", "text/plain", 404), ACCOUNT: ZIP}, True, [DIRECT, DIRECT, ACCOUNT], ARCHIVE),
    ("empty form action: the given URL is taken", SHARE_URL,
     {DIRECT: html("<form action=\"\"><input name=\"uuid\" value=\"u-7\">"), SHARE: ZIP},
     True, [DIRECT, SHARE], ARCHIVE),
    ("link without id: given URL, then retry with empty id", "https://drive.google.com/drive/shared-update",
     {NO_ID: NO_FORM, NO_ID_ACCOUNT: ZIP}, True, [NO_ID, NO_ID_ACCOUNT], ARCHIVE),
    ("large page: form within the first MiB is used", SHARE_URL, {DIRECT: html(WARNING + FILLER * 3), FORM: ZIP},
     True, [DIRECT, FORM], ARCHIVE),
    ("page read stops at 1 MiB: later form not seen", SHARE_URL,
     {DIRECT: html(FILLER + "<form action=\"https://drive.usercontent.google.com/late\">" + FILLER * 7),
      LATE_FORM: ZIP, USER: ZIP}, True, [DIRECT, USER], ARCHIVE),
]


def describe(data):
    return "nothing" if data is None else "%d bytes starting %r" % (len(data), data[:16])


def run(proxy, fetch_exe, dest, url, script, want_ok, want_requests, want_bytes):
    """The problems one scenario shows."""
    proxy.set_script(script)
    dest.write_bytes(OLD)
    env = {k: v for k, v in os.environ.items() if k not in ("https_proxy", "no_proxy")}
    env.update(http_proxy=proxy.url, WINEDEBUG="-all")
    problems, got_ok = [], None
    try:
        done = subprocess.run(["wine", fetch_exe, url, winpath(dest)], env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=FETCH_TIMEOUT)
        got_ok = {0: True, 1: False}.get(done.returncode)
        if got_ok is None:
            problems.append("fetch exited with %d: %r" % (done.returncode, done.stderr[-500:]))
    except subprocess.TimeoutExpired:
        problems.append("fetch did not finish within %d s" % FETCH_TIMEOUT)
    if got_ok != want_ok:
        problems.append("result %s, expected %s" % (got_ok, want_ok))
    requests = proxy.recorded()
    if requests != want_requests:
        problems.append("requests %r, expected %r" % (requests, want_requests))
    if len(requests) > 4:
        problems.append("%d requests, at most 4 allowed" % len(requests))
    got = dest.read_bytes() if dest.exists() else None
    if got != want_bytes:
        problems.append("destination holds %s, expected %s" % (describe(got), describe(want_bytes)))
    return problems


def main():
    ap = argparse.ArgumentParser()
    for name in ("--fetch", "--trust", "--work"):
        ap.add_argument(name, required=True)
    args = ap.parse_args()
    work = Path(args.work)
    ca = make_test_ca(work / "ca", label="drive download")
    install_ca(ca, args.trust)
    failed = 0
    with start_proxy(ca, {}) as proxy:
        for name, *case in SCENARIOS:
            problems = run(proxy, args.fetch, work / "download.bin", *case)
            print("%s: %s" % ("FAIL" if problems else "ok  ", name))
            for p in problems:
                print("      " + p)
            failed += bool(problems)
    print("%d scenario(s) failed" % failed if failed else "all scenarios passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
