"""Google Drive share links through the real DownloadFile under Wine, against the TLS stand-in for
Google's hosts: the requests in the order they arrive, and what reaches the destination."""
import pytest

from conftest import OLD, body, html, seen, winpath

ID = "1AbC-Zz_09"
SHARE = "drive.google.com/file/d/%s/view?usp=sharing" % ID
DIRECT = "drive.google.com/uc?export=download&confirm=t&id=" + ID
USER = "drive.usercontent.google.com/download?id=%s&export=download&confirm=t" % ID
ACCOUNT = "drive.usercontent.google.com/download?id=%s&export=download&authuser=0&confirm=t" % ID
FORM = USER + "&at=AX1&uuid=u-42"
LATE = "drive.usercontent.google.com/late"
NO_ID = "drive.google.com/drive/shared-update"
NO_ID_ACCOUNT = "drive.usercontent.google.com/download?id=&export=download&authuser=0&confirm=t"
ARCHIVE = b"PK\x03\x04" + bytes(range(256)) * 600
WARNING = ('<!DOCTYPE html><html><body>Google Drive can\'t scan this file for viruses.<form id="download-form" '
           'action="https://%s&amp;at=AX1" method="get"><input type="hidden" name="uuid" value="u-42"></form>'
           '</body></html>' % USER.replace("&", "&amp;"))
FILLER = "<!-- " + "x" * (1 << 20) + " -->"


NO_FORM = html("<html><body>Quota exceeded</body></html>")

ROWS = [  # name, link, replies, result, requests
    # A page that trickles is read for 30 s at most: its form, past that, is never seen.
    ("page trickled past its deadline", SHARE, {DIRECT: body(('<html>%s<form action="https://%s">' % (" " * 20, LATE))
                                                             .encode(), piece=1, pause=2, content_type="text/html"),
                                                LATE: ARCHIVE, USER: ARCHIVE}, True, [DIRECT, USER]),
    ("direct answers the file", SHARE, {DIRECT: ARCHIVE}, True, [DIRECT, DIRECT]),
    ("docs host, id=", "docs.google.com/uc?export=download&id=" + ID, {DIRECT: ARCHIVE}, True, [DIRECT, DIRECT]),
    ("form with uuid", SHARE, {DIRECT: html(WARNING), FORM: ARCHIVE}, True, [DIRECT, FORM]),
    ("page without form", SHARE, {DIRECT: NO_FORM, USER: ARCHIVE}, True, [DIRECT, USER]),
    # The main answer is refused: one more try, with the account.
    ("retry", SHARE, {DIRECT: NO_FORM, USER: NO_FORM, ACCOUNT: ARCHIVE}, True, [DIRECT, USER, ACCOUNT]),
    ("retry refused", SHARE, {DIRECT: NO_FORM, USER: NO_FORM, ACCOUNT: NO_FORM}, False, [DIRECT, USER, ACCOUNT]),
    ("error status, retry", SHARE, {DIRECT: ("gone", 404), ACCOUNT: ARCHIVE}, True, [DIRECT, DIRECT, ACCOUNT]),
    # An empty form action leads to the link itself; without an id, the retry has an empty one.
    ("empty action", SHARE, {DIRECT: html('<form action=""><input name="uuid" value="u-7">'), SHARE: ARCHIVE}, True,
     [DIRECT, SHARE]),
    ("no id", NO_ID, {NO_ID: NO_FORM, NO_ID_ACCOUNT: ARCHIVE}, True, [NO_ID, NO_ID_ACCOUNT]),
    # Only the first MiB of a confirmation page is read.
    ("form in the first MiB", SHARE, {DIRECT: html(WARNING + FILLER * 3), FORM: ARCHIVE}, True, [DIRECT, FORM]),
    ("form past the first MiB", SHARE,
     {DIRECT: html(FILLER + '<form action="https://%s">' % LATE + FILLER * 7), LATE: ARCHIVE, USER: ARCHIVE}, True,
     [DIRECT, USER]),
]


# The two rows that wait out a deadline come first: the first two workers take them at once.
def test_quota_notice_past_the_retry_pages_deadline(fetch, serve, httpserver, google, tmp_path):
    """The archive's last try reads its refused page for a quota notice for 30 s at most: one that
    trickles in later is an ordinary refusal."""
    trickled = body(b"<html>" + b" " * 40 + b"Quota exceeded</html>", status=403, piece=1, pause=1,
                    content_type="text/html")
    serve({DIRECT: html("<html></html>"), USER: html("<html></html>", 403), ACCOUNT: trickled})
    got = fetch("https://" + SHARE, env=google, dest=winpath(tmp_path / "u.zip"), archive=("1", 0, 5000))
    assert (got["ok"], got["quota"], seen(httpserver)) == (False, False, [DIRECT, USER, ACCOUNT])


@pytest.mark.parametrize("link, replies, ok, requests", [pytest.param(*row[1:], id=row[0]) for row in ROWS])
def test_drive_link(fetch, serve, httpserver, google, link, replies, ok, requests):
    serve(replies)
    got_ok, _, data = fetch("https://" + link, env=google)
    assert (got_ok, data) == (ok, ARCHIVE if ok else OLD)
    assert seen(httpserver) == requests
