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

sys.path.insert(0, str(Path(__file__).resolve().parent))
from tls_proxy import Reply, install_ca, make_test_ca, start_proxy, windows_path  # noqa: E402

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

rng = random.Random(5)
ARCHIVE = b"PK\x03\x04" + bytes(rng.randrange(256) for _ in range(150000))
OLD = b"previous contents"
MIB = 1 << 20
FETCH_TIMEOUT = 90


def html(text: str) -> Reply:
    return Reply(text.encode("latin-1"), "text/html; charset=utf-8")


def zip_reply() -> Reply:
    return Reply(ARCHIVE, "application/zip")


WARNING = html("<!DOCTYPE html><html><body>Google Drive can't scan this file for viruses."
               "<form id=\"download-form\" action=\"https://drive.usercontent.google.com/download?id=%s"
               "&amp;export=download&amp;confirm=t&amp;at=AX1\" method=\"get\">"
               "<input type=\"hidden\" name=\"uuid\" value=\"u-42\"></form></body></html>" % ID)
NO_FORM = html("<html><body>Quota exceeded</body></html>")
filler = "<!-- " + "x" * MIB + " -->"
EARLY_FORM_BIG = html(WARNING.body.decode("latin-1") + filler * 3)
LATE_FORM_PAGE = html(filler + "<form action=\"https://drive.usercontent.google.com/late\">" + filler * 7)

# name, URL, script, expected result, expected requests, expected destination bytes
SCENARIOS = [
    ("direct link answers the file", SHARE_URL, {DIRECT: zip_reply()}, True, [DIRECT, DIRECT], ARCHIVE),
    ("docs host with id= form", "https://docs.google.com/uc?export=download&id=" + ID,
     {DIRECT: zip_reply()}, True, [DIRECT, DIRECT], ARCHIVE),
    ("confirmation page: form link with uuid", SHARE_URL, {DIRECT: WARNING, FORM: zip_reply()},
     True, [DIRECT, FORM], ARCHIVE),
    ("confirmation page without form: user-content link", SHARE_URL, {DIRECT: NO_FORM, USER: zip_reply()},
     True, [DIRECT, USER], ARCHIVE),
    ("main request HTML: retry with account succeeds", SHARE_URL,
     {DIRECT: NO_FORM, USER: NO_FORM, ACCOUNT: zip_reply()}, True, [DIRECT, USER, ACCOUNT], ARCHIVE),
    ("main request HTML: retry answers HTML too", SHARE_URL,
     {DIRECT: NO_FORM, USER: NO_FORM, ACCOUNT: NO_FORM}, False, [DIRECT, USER, ACCOUNT], OLD),
    ("main request error status: retry", SHARE_URL,
     {DIRECT: Reply(b"gone", "text/plain", 404), ACCOUNT: zip_reply()}, True, [DIRECT, DIRECT, ACCOUNT], ARCHIVE),
    ("empty form action: the given URL is taken", SHARE_URL,
     {DIRECT: html("<form action=\"\"><input name=\"uuid\" value=\"u-7\">"), SHARE: zip_reply()},
     True, [DIRECT, SHARE], ARCHIVE),
    ("link without id: given URL, then retry with empty id", "https://drive.google.com/drive/shared-update",
     {(DRIVE, "/drive/shared-update"): NO_FORM, NO_ID_ACCOUNT: zip_reply()},
     True, [(DRIVE, "/drive/shared-update"), NO_ID_ACCOUNT], ARCHIVE),
    ("large page: form within the first MiB is used", SHARE_URL, {DIRECT: EARLY_FORM_BIG, FORM: zip_reply()},
     True, [DIRECT, FORM], ARCHIVE),
    ("page read stops at 1 MiB: later form not seen", SHARE_URL,
     {DIRECT: LATE_FORM_PAGE, LATE_FORM: zip_reply(), USER: zip_reply()}, True, [DIRECT, USER], ARCHIVE),
]


def run_scenario(proxy, fetch_exe, work: Path, url, script, want_ok, want_requests, want_bytes):
    proxy.set_script(script)
    dest = work / "download.bin"
    dest.write_bytes(OLD)
    env = dict(os.environ, http_proxy=proxy.url, WINEDEBUG="-all")
    env.pop("https_proxy", None)
    env.pop("no_proxy", None)
    problems = []
    try:
        done = subprocess.run(["wine", str(fetch_exe), url, windows_path(dest)], env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=FETCH_TIMEOUT)
        got_ok = done.stdout.strip().endswith(b"DownloadFile=1")
        if done.returncode not in (0, 1):
            problems.append("fetch exited with %d: %r" % (done.returncode, done.stderr[-500:]))
    except subprocess.TimeoutExpired:
        got_ok = None
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


def describe(data):
    if data is None:
        return "nothing"
    return "%d bytes starting %r" % (len(data), data[:16])


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--fetch", required=True)
    parser.add_argument("--trust", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("-k", default="", help="run only scenarios whose name contains this")
    args = parser.parse_args()
    if not os.environ.get("WINEPREFIX"):
        print("WINEPREFIX must be set (run scripts/test)")
        return 2
    work = Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    ca = make_test_ca(work / "ca", label="drive download")
    install_ca(ca, args.trust)

    failed = 0
    with start_proxy(ca, {}) as proxy:
        for name, url, script, want_ok, want_requests, want_bytes in SCENARIOS:
            if args.k not in name:
                continue
            problems = run_scenario(proxy, args.fetch, work, url, script, want_ok, want_requests, want_bytes)
            print("%s: %s" % ("ok  " if not problems else "FAIL", name))
            for p in problems:
                print("      " + p)
            failed += bool(problems)
    print("%d scenario(s) failed" % failed if failed else "all scenarios passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
