"""Patch updates: with a manifest beside the archive, the launcher fetches only the entries bin lacks,
as single byte ranges, and anything unexpected ends as the full download, verified as ever. The
servers' logs are the witnesses: pytest-httpserver's, and a real nginx's access log."""
import hashlib
import io
import os
import random
import socket
import subprocess
import time
import urllib.request
import zipfile

import pytest
from werkzeug import Response

from conftest import STANDIN, make_zip, resumable, tree, wait_until, wine, winpath, zipped
from test_update import fill, small_disk  # noqa: F401 (small_disk is a fixture)
from test_verified import keys, signature, signed  # noqa: F401 (keys is a fixture)

DONE = "Atualização concluída!"
RECORD = "installed_files.txt"
PAK, MAP, README = (random.Random(18).randbytes(n) for n in (1 << 20, 200 << 10, 200 << 10))
OLD = {"velmoraclient.exe": STANDIN, "data/world.pak": PAK, "data/Canção.txt": b"velha", "data/readme.txt": README,
       "data/sounds.pak": PAK[::-1]}
# Two neighbours changed (one request), a new file in new nested folders far behind them, an empty folder.
NEW = dict(OLD, **{"data/Canção.txt": b"nova letra", "data/readme.txt": README[::-1], "data/mapas/novos/ilha.map": MAP,
                   "logs/": b""})
CANCAO, README_, ILHA = "data/Canção.txt", "data/readme.txt", "data/mapas/novos/ilha.map"
INI = "[Launcher]\r\nConfigURL={url}/cfg.txt\r\nVersionURL={url}/v.txt\r\nUpdateURL={url}/u.zip\r\n"


def sha(data):
    return hashlib.sha256(data).hexdigest()


def spans(archive):
    """Each entry's raw bytes: name -> (first, end), from its local header to the next header."""
    z = zipfile.ZipFile(io.BytesIO(archive))
    infos = sorted(z.infolist(), key=lambda i: i.header_offset)
    return {i.filename: (i.header_offset, end) for i, end in zip(infos, [i.header_offset for i in infos[1:]] +
                                                                  [z.start_dir])}


@pytest.fixture
def manifest(build, wine_env, tmp_path):
    """The manifest of an archive, as the operator's tool makes it."""
    def make(archive):
        (tmp_path / "a.zip").write_bytes(archive)
        done = wine(wine_env, build / "VelmoraTool.exe", "manifest", winpath(tmp_path / "a.zip"))
        assert done.returncode == 0, done.stdout
        return (tmp_path / "a.zip.manifest").read_bytes()
    return make


def asked(archive, *groups):
    """The Range header of one request per group of neighbouring entries."""
    at = spans(archive)
    return ["bytes=%d-%d" % (at[group[0]][0], at[group[-1]][1] - 1) for group in groups]


def publish(serve, listed, archive, **more):
    """Serves version 2, a configuration naming the manifest `listed`, and `archive` (a handler)."""
    serve(dict({"/v.txt": "2", "/cfg.txt": "[Launcher]\nUpdateManifest={url}/m.txt\n", "/m.txt": listed,
                "/u.zip": archive}, **more))


def ranges_asked(server):
    return [r.headers.get("Range") for r, _ in server.log if r.path == "/u.zip"]


def bin_holds(inst, files):
    standin = (inst.build / "tests/standin.exe").read_bytes()
    path = inst.dir / "bin"
    return all((path / n).is_dir() if n.endswith("/") else (path / n).read_bytes() == (standin if c is STANDIN else c)
               for n, c in files.items())


def installed(files, ini=INI):
    return dict({"bin/" + n: c for n, c in files.items()}, **{"launcher_config.ini": ini, "version.txt": "1",
                                                            "tar.exe.action": "unzip"})


def update(inst, ending=DONE, *before):
    inst.probe("wait-window", 20000, *before, "wait-status", 60000, ending, "close")
    assert inst.proc.wait(20) == 0


def test_patch_fetches_only_what_bin_lacks(install, serve, httpserver, build, manifest):
    """The first patch after an older launcher hashes bin; then a damaged file is repaired, while a file
    whose size and time still match the record is taken at its word; then only the version changes, and
    is recorded only while the client is there."""
    new, published = zipped(NEW, build), ["2"]
    publish(serve, manifest(new), resumable(new), **{"/v.txt": lambda request: Response(published[0])})
    inst = install(installed(OLD))
    update(inst)
    assert bin_holds(inst, NEW) and (inst.dir / RECORD).exists() and not (inst.dir / "update_temp.zip").exists()
    assert ranges_asked(httpserver) == asked(new, [CANCAO, README_], [ILHA])

    world, sounds = inst.dir / "bin/data/world.pak", inst.dir / "bin/data/sounds.pak"
    kept = sounds.stat()
    for path in (world, sounds):
        path.write_bytes(b"X" + path.read_bytes()[1:])
    os.utime(sounds, ns=(kept.st_atime_ns, kept.st_mtime_ns))  # size and time as recorded
    for version, requests in (("3", asked(new, ["data/world.pak"])), ("4", [])):
        httpserver.clear_log()
        published[0] = version
        inst.start()
        update(inst)
        assert ranges_asked(httpserver) == requests and (inst.dir / "version.txt").read_text() == version
    assert bin_holds(inst, dict(NEW, **{"data/sounds.pak": b"X" + NEW["data/sounds.pak"][1:]}))
    with open(inst.dir / "launcher_config.ini", "a") as ini:
        ini.write("ClientExe=outro.exe\r\n")  # a client the manifest does not list, not in bin
    published[0] = "5"
    inst.start()
    update(inst, "Extração incompleta: executável não encontrado em bin/. Tente novamente.")
    assert (inst.dir / "version.txt").read_text() == "4"


def test_drops_then_a_failed_pass_then_the_next_start(install, serve, httpserver, build, manifest):
    """A drop costs only the entry in flight; a range that breaks more often than the launcher resumes
    ends the pass with the error, neither falling back to the full download nor losing what arrived;
    the next start asks only for what is missing."""
    new = zipped(NEW, build)
    at = spans(new)
    first, end = at[ILHA]
    drops = [sum(at[README_]) // 2] + [first + k * (end - first) // 8 for k in range(1, 6)]
    publish(serve, manifest(new), resumable(new, drops=drops))
    inst = install(installed(OLD))
    update(inst, "Erro ao baixar. Verifique a URL/link.", "wait-status", 20000, "Conexão interrompida. Retomando em 1 s...")
    assert ranges_asked(httpserver) == asked(new, [CANCAO, README_], [README_], *[[ILHA]] * 5)
    # The part's complete entries are hashed again at the next start: one damaged meanwhile is asked anew.
    damaged = at[CANCAO][1] - at[CANCAO][0] + at[README_][1] - at[README_][0] - 1
    with open(inst.dir / "update_temp.zip.patch", "r+b") as part:
        part.seek(damaged)
        byte = part.read(1)
        part.seek(damaged)
        part.write(bytes([byte[0] ^ 1]))
    httpserver.clear_log()
    inst.start()
    update(inst)
    assert ranges_asked(httpserver) == asked(new, [README_], [ILHA]) and bin_holds(inst, NEW)


@pytest.mark.parametrize("small_disk", ["32m"], indirect=True)
def test_no_room_for_a_chunk_or_its_rebuilt_file(small_disk, install, serve, httpserver, build, manifest):
    """The chunks and the rebuilt file are weighed against the disk's room before any chunk is asked
    for; a disk another program fills meanwhile ends the pass with the room the patch still needs,
    never as the full download: when even a record line has no room (at the start, or as the
    chunk's line is saved), and when the chunk is in but its rebuilt file does not fit. With room
    again, nothing is fetched twice."""
    new = edited(PACK, 0.5, cut=1, put=b"?")
    archive = zipped(dict(BASE, **{BIG: new}), build)
    published = manifest(archive)
    wanted, = missing_chunks(manifest(zipped(dict(BASE, **{BIG: PACK}), build)), published)
    first, last = map(int, wanted[6:].split("-"))
    length = last - first + 1
    server = resumable(archive)
    publish(serve, published, server)
    inst = install(installed(dict(BASE, **{BIG: PACK})), start=False)
    need, pages = "Espaço insuficiente no disco (necessários %d MB).", -(-length // 4096) * 4096  # tmpfs counts pages
    # Dropped after whole reads of 64 KiB (WinINet hands no part of one over before the drop), the
    # chunk comes again into the room it took and the room left: with exactly its pages left, its
    # record line has none; with more, the rebuilt file has none.
    ahead, half = (length - 1) // 65536 * 65536, length // 2 // 65536 * 65536
    both, part = need % -(-(length + len(new)) // (1 << 20)), inst.dir / "update_temp.zip.chunks"
    # Filled before the start: no room even for the parts' records, then room for them only.
    for dropped, leave, ending in [(None, 0, both), (None, 64 << 10, both), (ahead, pages - ahead, both),
                                   (half, pages - half + (64 << 10), need % (len(new) >> 20))]:
        if dropped is None:
            fill(small_disk, leave)
        else:
            server.drops.append((first + dropped, 5))
        inst.start()
        if dropped:
            assert wait_until(lambda: part.exists() and part.stat().st_size == dropped, 30)
            fill(small_disk, leave)
        update(inst, ending)
        (small_disk / "filler").unlink()
    assert ranges_asked(httpserver) == [wanted] * 4
    httpserver.clear_log()
    inst.start()
    update(inst)
    assert ranges_asked(httpserver) == [] and bin_holds(inst, {BIG: new}) and not list(inst.dir.glob("update_temp.zip*"))


def test_a_disk_filled_during_a_patch(small_disk, install, serve, httpserver, build, manifest):
    """Another program takes the disk's room while a range is silent: the patch ends with the room it
    lacks, keeping what arrived, and the next start, with room again, asks only for the rest."""
    new = zipped(NEW, build)
    first, end = spans(new)[ILHA]
    publish(serve, manifest(new), resumable(new, drops=[((first + end) // 2, 5)]))
    inst = install(installed(OLD))
    assert wait_until(lambda: asked(new, [ILHA])[0] in ranges_asked(httpserver), 30)
    time.sleep(1)  # what comes before the silence reaches the part
    fill(small_disk)
    update(inst, "Espaço insuficiente no disco (necessários 1 MB).")
    # The write fails once the rest of the first answer arrives, or in the resumption after it.
    first_pass = asked(new, [CANCAO, README_], [ILHA])
    assert ranges_asked(httpserver) in (first_pass, first_pass + asked(new, [ILHA]))
    (small_disk / "filler").unlink()
    httpserver.clear_log()
    inst.start()
    update(inst)
    assert ranges_asked(httpserver) == asked(new, [ILHA]) and bin_holds(inst, NEW)


def test_no_stale_record_after_a_full_update_without_manifest(install, serve, httpserver, manifest):
    """The record the first update writes must not outlive a full update without a manifest that
    changes a file but not its size or time (the real tar gives files the archive's times): else
    the next patch takes the old bytes as there and skips the file."""
    first = make_zip({"velmoraclient.exe": b"MZ client", "data/world.pak": PAK})
    second = make_zip({"velmoraclient.exe": b"MZ client", "data/world.pak": PAK[::-1]})
    with_manifest = "[Launcher]\nUpdateManifest={url}/m.txt\n".replace("{url}", httpserver.url_for("").rstrip("/"))
    now = {}
    serve({"/v.txt": lambda request: Response(now["version"]), "/cfg.txt": lambda request: Response(now["cfg"]),
           "/m.txt": manifest(first), "/u.zip": lambda request: resumable(now["zip"])(request)})
    files = installed({})
    del files["tar.exe.action"]  # the real tar
    inst = install(files, start=False)
    for version, cfg, archive in (("2", with_manifest, first), ("3", "[Launcher]\n", second), ("4", with_manifest, first)):
        now.update(version=version, cfg=cfg, zip=archive)
        inst.start()
        update(inst)
    assert (inst.dir / "bin/data/world.pak").read_bytes() == PAK


def test_ranges_from_the_next_address(install, serve, httpserver, build, manifest):
    """Neither a Drive link nor the first web address answers ranges: the patch asks the next one, within
    the player's download cap."""
    new, times = zipped(NEW, build), []
    second = resumable(new)
    publish(serve, manifest(new), resumable(new, ranges=False),
            **{"/m2.zip": lambda request: times.append(time.monotonic()) or second(request)})
    sources = "https://drive.google.com/file/d/1x/view {url}/u.zip {url}/m2.zip"
    inst = install(installed(OLD, INI.replace("{url}/u.zip", sources) + "MaxDownloadKBps=64\r\n"))
    update(inst)
    mirror = [r.headers.get("Range") for r, _ in httpserver.log if r.path == "/m2.zip"]
    assert bin_holds(inst, NEW) and ranges_asked(httpserver) == asked(new, [CANCAO, README_])
    assert mirror == asked(new, [CANCAO, README_], [ILHA]) and times[1] - times[0] > 2.5  # 200 KiB at 64 KiB/s


FALLBACKS = [  # name, archive digest and signature in the configuration, the manifest's digest there, manifest of
    # another archive, server, key
    ("server ignores ranges", True, "right", False, dict(ranges=False), None),
    ("manifest of another archive", False, None, True, {}, None),
    ("tampered entry", True, "right", False, dict(tamper=True), None),
    ("archive digest, no manifest digest, no key", True, None, False, {}, None),
    ("manifest digest differs", True, "wrong", False, {}, None),
    ("unsigned manifest under a key", True, None, False, {}, "unsigned"),
    ("signed manifest of another archive", True, None, True, {}, "signed"),
]


@pytest.mark.parametrize("digest, manifest_digest, other, server, key", [pytest.param(*r[1:], id=r[0]) for r in FALLBACKS])
def test_anything_unexpected_ends_as_the_full_update(install, serve, httpserver, build, manifest, keys, digest,
                                                     manifest_digest, other, server, key):
    new = zipped(NEW, build)
    described = manifest(zipped(dict(NEW, extra=b"x"), build) if other else new)
    publisher = keys["publisher"]
    cfg = "[Launcher]\r\nUpdateManifest={url}/m.txt\r\n".replace("{url}", httpserver.url_for("").rstrip("/"))
    if digest:
        cfg += "UpdateSHA256=%s\r\nUpdateSignature=%s\r\nUpdateVersion=2\r\n" % (sha(new),
                                                                                signature(publisher[0], new))
    if manifest_digest:
        cfg += "UpdateManifestSHA256=%s\r\n" % sha(described + (b"" if manifest_digest == "right" else b"!"))
    serve({"/v.txt": "2", "/cfg.txt": signed(cfg.encode(), publisher[0]) if key else cfg,
           "/m.txt": signed(described, publisher[0]) if key == "signed" else described, "/u.zip": resumable(new, **server)})
    inst = install(installed(OLD, INI + ("UpdatePublicKey=%s\r\n" % publisher[1] if key else "")))
    update(inst)
    ranges = ranges_asked(httpserver)
    # Without a key, a published archive digest lets only a manifest whose own digest is published count.
    used = not key and manifest_digest != "wrong" and (manifest_digest == "right" or not digest)
    assert bin_holds(inst, NEW) and ranges[-1] is None and len(ranges) == (2 if used else 1)
    # Files are recorded only when the archive unpacked is the one the manifest describes.
    assert (inst.dir / RECORD).exists() == (used and not other)


@pytest.fixture
def nginx(tmp_path):
    """Debian's nginx on a loopback port, with a private prefix and configuration: its root, its URL,
    and its access log, which records each request's Range and If-Range."""
    root = tmp_path / "www"
    root.mkdir()
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    (tmp_path / "nginx.conf").write_text(
        "error_log %(t)s/error.log;\nevents { worker_connections 64; }\nhttp {\n"
        "  log_format witness escape=none '$uri|$http_range|$http_if_range|$status|$body_bytes_sent';\n"
        "  access_log %(t)s/access.log witness;\n  types { application/zip zip; }\n"
        "  client_body_temp_path %(t)s/body;\n  server { listen 127.0.0.1:%(p)d; root %(t)s/www; }\n}\n"
        % {"t": tmp_path, "p": port})
    proc = subprocess.Popen(["/usr/sbin/nginx", "-p", tmp_path, "-c", tmp_path / "nginx.conf", "-g",
                             "daemon off; pid %s/nginx.pid; user root;" % tmp_path])
    assert wait_until(lambda: socket.socket().connect_ex(("127.0.0.1", port)) == 0, 10)
    yield "http://127.0.0.1:%d" % port, root, tmp_path / "access.log"
    proc.terminate()
    proc.wait(10)


def test_patch_against_nginx_under_a_key(install, build, manifest, keys, nginx):
    url, root, log = nginx
    new = zipped(NEW, build)
    key, public = keys["publisher"]
    files = {"u.zip": new, "v.txt": b"2", "m.txt": signed(manifest(new), key),
             "cfg.txt": signed(("[Launcher]\r\nUpdateManifest=%s/m.txt\r\nUpdateSHA256=%s\r\nUpdateSignature=%s\r\n"
                                "UpdateVersion=2\r\n" % (url, sha(new), signature(key, new))).encode(), key)}
    for name, data in files.items():
        (root / name).write_bytes(data)
    inst = install(installed(OLD, INI.replace("{url}", url) + "UpdatePublicKey=%s\r\n" % public))
    update(inst)
    assert bin_holds(inst, NEW)
    lines = [line.split("|") for line in log.read_text().splitlines() if line.startswith("/u.zip")]
    etag = urllib.request.urlopen(urllib.request.Request(url + "/u.zip", method="HEAD"), timeout=10).headers["ETag"]
    want = asked(new, [CANCAO, README_], [ILHA])
    assert [tuple(line[1:4]) for line in lines] == [(want[0], "", "206"), (want[1], etag, "206")]
    at = spans(new)
    assert sum(int(line[-1]) for line in lines) <= 1.02 * sum(at[n][1] - at[n][0] for n in (CANCAO, README_, ILHA))


PACK = random.Random(26).randbytes(6 << 20)
BIG = "data/big.pak"
BASE = dict(OLD, **{"data/other.pak": PACK[::-1]})  # so that a whole pack is a patch's share


def edited(data, share, cut=0, put=b""):
    at = int(len(data) * share)
    return data[:at] + put + data[at + cut:]


def chunks(text):
    """(archive offset, length, digest) of each chunk the tool listed for BIG in a manifest."""
    lines = text.decode().splitlines()
    start = lines.index(next(line for line in lines if line.endswith("\t" + BIG)))
    base, found = None, []
    for line in lines[start + 1:]:
        kind, *f = line.split("\t")
        if kind == "S":
            base = int(f[0])
        elif kind == "C":
            found.append((base + int(f[0]), int(f[1]), f[2]))
        else:
            break
    return found


def missing_chunks(old_manifest, new_manifest):
    """The archive ranges of the new pack's chunks the old pack lacks, neighbours merged, as the tool
    listed both."""
    have = {(length, digest) for _, length, digest in chunks(old_manifest)}
    ranges = []
    for at, length, digest in chunks(new_manifest):
        if (length, digest) in have:
            continue
        if ranges and ranges[-1][1] + 1 == at:
            ranges[-1][1] = at + length - 1
        else:
            ranges.append([at, at + length - 1])
    return ["bytes=%d-%d" % tuple(r) for r in ranges]


CHUNKED = [  # name, pack in bin (None: missing), pack published, deflated, server, what is fetched (MiB at most)
    ("insertion: the chunks after it reused", PACK, edited(PACK, 0.1, put=random.Random(1).randbytes(100 << 10)),
     False, {}, 3),
    ("deletion: a pack that shrank", PACK, edited(PACK, 0.7, cut=50 << 10), False, {}, 3),
    ("a damaged chunk in the old file", edited(PACK, 0.5, cut=1, put=b"?"), PACK, False, {}, 4),
    ("old file missing", None, PACK, False, {}, "entry"),
    ("stored turned deflated", PACK, edited(PACK, 0.3, cut=1, put=b"?"), True, {}, "entry"),
    ("tampered chunk on the server", PACK, edited(PACK, 0.3, cut=1, put=b"?"), False, dict(tamper=True), "full"),
]


@pytest.mark.parametrize("old, new, deflated, server, fetched", [pytest.param(*r[1:], id=r[0]) for r in CHUNKED])
def test_big_stored_files_cost_their_changed_chunks(install, serve, httpserver, build, manifest, old, new, deflated,
                                                     server, fetched):
    archive = zipped(dict(BASE, **{BIG: new}), build, deflated=(BIG,) if deflated else ())
    published = manifest(archive)
    publish(serve, published, resumable(archive, **server))
    files = installed(dict(BASE, **({BIG: old} if old else {})))
    if deflated:
        del files["tar.exe.action"]  # the stand-in unpacks stored entries only: the real tar
    inst = install(files)
    update(inst)
    ranges = ranges_asked(httpserver)
    assert bin_holds(inst, {BIG: new}) and not list(inst.dir.glob("update_temp.zip*"))
    if fetched == "full":
        assert ranges[-1] is None
    elif fetched == "entry":
        assert ranges == asked(archive, [BIG])
    else:
        wanted = missing_chunks(manifest(zipped(dict(BASE, **{BIG: old}), build)), published)
        assert ranges == wanted and len(wanted) == 1 and sum(
            int(r.split("-")[1]) - int(r[6:].split("-")[0]) + 1 for r in wanted) <= fetched * (1 << 20)


def test_drop_and_restart_mid_chunk(install, serve, httpserver, build, manifest):
    """A drop costs only the chunk in flight; a launcher closed mid-patch asks at its next start only for
    the chunks still missing."""
    new = edited(edited(PACK, 0.2, cut=1, put=b"?"), 0.8, cut=1, put=b"?")
    archive = zipped(dict(BASE, **{BIG: new}), build)
    published = manifest(archive)
    first, second = missing_chunks(manifest(zipped(dict(BASE, **{BIG: PACK}), build)), published)
    middle = [sum(map(int, r[6:].split("-"))) // 2 for r in (first, second)]
    publish(serve, published, resumable(archive, drops=[middle[0], (middle[1], 60)]))
    inst = install(installed(dict(BASE, **{BIG: PACK})))
    inst.probe("wait-window", 20000, "wait-status", 60000, "Conexão interrompida. Retomando em 1 s...",
               "wait-status", 10000, "Baixando... *", "sleep", 2000, "close", "wait-gone", 10000)
    assert inst.proc.wait(20) == 0
    inst.start()
    update(inst)
    assert ranges_asked(httpserver) == [first, first, second, second] and bin_holds(inst, {BIG: new})


def test_a_pack_changed_under_its_recorded_stamp(install, serve, httpserver, build, manifest):
    """The record's chunks are taken at their word, so a damaged chunk is copied into the rebuilt file:
    its digest stops it before bin, and the full download mends the pack."""
    new = edited(PACK, 0.3, cut=1, put=b"?")
    archive = zipped(dict(BASE, **{BIG: new}), build)
    publish(serve, manifest(archive), resumable(archive))
    inst = install(installed(dict(BASE, **{BIG: edited(PACK, 0.8, cut=1, put=b"?")})), start=False)
    stamp = 1700000000
    os.utime(inst.dir / "bin" / BIG, (stamp, stamp))
    (inst.dir / RECORD).write_text("%s %d %d %s\n" % (sha(PACK), len(PACK), stamp * 10 ** 7 + 116444736000000000, BIG) +
                                   "".join("+%d %s\n" % c[1:] for c in chunks(manifest(zipped({BIG: PACK}, build)))))
    inst.start()
    update(inst)
    assert bin_holds(inst, {BIG: new}) and ranges_asked(httpserver)[-1] is None


# The same small client zipped as operators do; whether the tool must warn of names without the UTF-8 flag.
OPERATOR_ZIPS = {
    "zip -r": (["zip", "-qr", "{zip}", "."], True),
    "zip -r -n .pak": (["zip", "-qr", "-n", ".pak", "{zip}", "."], True),
    "zip -r -fz": (["zip", "-qr", "-fz", "{zip}", "."], True),
    "zip -r to a pipe": (["sh", "-c", "zip -qr - . | cat > '{zip}'"], True),
    "7z a -tzip": (["7z", "a", "-tzip", "-bd", "{zip}", "."], False),
    "bsdtar --format zip": (["bsdtar", "--format", "zip", "-cf", "{zip}", "."], False),
    "Python, stored": ("stored", False),
    "Python, deflated with data descriptors": ("streamed", False),
}
ACCENTED = {"data/mundo.pak": (PAK[:400 << 10], zipfile.ZIP_STORED), "velmoraclient.exe": b"MZ velmora " * 5000,
            "data/sub/ação.txt": b"acentos", "vazia/": None}


@pytest.mark.parametrize("name", OPERATOR_ZIPS)
def test_zips_as_operators_make_them(install, serve, httpserver, build, wine_env, tmp_path, name):
    """The real tar writes the names the manifest lists (or the tool warns), and a patch from an older
    client leaves bin as the real tar leaves it from the full archive."""
    how, warned = OPERATOR_ZIPS[name]
    client, archive, full = tmp_path / "Cliente", tmp_path / "cliente.zip", tmp_path / "full"
    for path, content in ACCENTED.items():
        (client / path).parent.mkdir(parents=True, exist_ok=True)
        (client / path).mkdir() if content is None else (client / path).write_bytes(
            content[0] if isinstance(content, tuple) else content)
    if how == "stored":
        archive.write_bytes(make_zip({k: v and (v[0] if isinstance(v, tuple) else v, zipfile.ZIP_STORED)
                                      for k, v in ACCENTED.items()}))
    elif how == "streamed":
        archive.write_bytes(make_zip(ACCENTED, stream=True))
    else:
        subprocess.run([arg.replace("{zip}", str(archive)) for arg in how], cwd=client, check=True,
                       stdout=subprocess.DEVNULL)
    told = wine(wine_env, build / "VelmoraTool.exe", "manifest", winpath(archive))
    assert told.returncode == 0, told.stderr.decode("utf-8", "replace")
    warning = '"data/sub/ação.txt" como "data/sub/a├º├úo.txt"'
    assert (warning in told.stdout.decode("utf-8")) == warned, told.stdout.decode("utf-8")
    listed = (tmp_path / "cliente.zip.manifest").read_text("utf-8")
    full.mkdir()
    assert wine(wine_env, build / "bsdtar/bsdtar.exe", "-xf", winpath(archive), "-C", winpath(full)).returncode == 0
    written = tree(full)
    paths = [line.split("\t")[-1] for line in listed.splitlines() if line[:2] in ("F\t", "D\t")]
    assert sorted(p for p in paths if not p.endswith("/")) == sorted(p for p, c in written.items() if c is not None)
    assert all(written.get(p.rstrip("/"), b"") is None for p in paths if p.endswith("/"))

    older = {p: c for p, c in written.items() if c is not None and "sub/" not in p}
    older["velmoraclient.exe"] = b"MZ older"
    files = installed(older, INI)
    del files["tar.exe.action"]  # the real tar
    publish(serve, listed.encode(), resumable(archive.read_bytes()))
    inst = install(files)
    update(inst)
    told = (inst.dir / "bsdtar.log").read_text() if (inst.dir / "bsdtar.log").exists() else "tar never ran"
    assert (tree(inst.dir / "bin"), told) == (written, "0\n") and None not in ranges_asked(httpserver)


CURRENT, CHECK, CHECKED = "Client atualizado!", ("syscommand", 0x110), "Arquivos verificados: %s."


def test_a_patched_install_mends_itself(install, serve, httpserver, build, manifest):
    """Files gone from a patched install come back at the next start, only their bytes fetched; a
    restore stopped mid-file is continued at the next start, and one whose unpacking failed is tried
    again. A file the player changed is left alone and loses its record line at once; the menu's check
    drops the line of a file damaged behind the record's back before fetching, restores both, spares a
    file outside the manifest, and then finds nothing. A restore whose fetch fails says so."""
    new = zipped(NEW, build)
    server = resumable(new)
    publish(serve, manifest(new), server)
    inst = install(installed(OLD))
    update(inst)
    for gone in (CANCAO, ILHA):
        (inst.dir / "bin" / gone).unlink()
    (inst.dir / "bin/data/world.pak").write_bytes(b"X" + PAK[1:])
    sounds, kept = inst.dir / "bin/data/sounds.pak", (inst.dir / "bin/data/sounds.pak").stat()
    sounds.write_bytes(b"X" + PAK[::-1][1:])
    os.utime(sounds, ns=(kept.st_atime_ns, kept.st_mtime_ns))  # damaged, size and time as recorded
    (inst.dir / "bin/shots").mkdir()
    (inst.dir / "bin/shots/1.png").write_bytes(b"png")
    record = lambda: (inst.dir / RECORD).read_text("utf-8")  # noqa: E731

    def stopped_at(name, *steps):
        """Starts the launcher (unless `steps` drive a running one) and closes it once the request for
        `name` hangs half-answered."""
        server.drops.append((sum(spans(new)[name]) // 2, 15))
        httpserver.clear_log()
        if not steps:
            inst.start()
        inst.probe(*(steps or ("wait-window", 20000)))
        assert wait_until(lambda: asked(new, [name])[0] in ranges_asked(httpserver), 30)
        inst.probe("sleep", 500, "close", "wait-gone", 30000)
        assert inst.proc.wait(20) == 0

    stopped_at(ILHA)
    assert ranges_asked(httpserver) == asked(new, [CANCAO], [ILHA])
    assert CANCAO in record() and ILHA in record() and "data/world.pak" not in record()
    (inst.dir / "tar.exe.action").write_text("exit 1")
    httpserver.clear_log()
    inst.start()
    update(inst, "Falha ao extrair. Extraia update_temp.zip manualmente.")
    assert ranges_asked(httpserver) == asked(new, [ILHA]) and CANCAO in record() and ILHA in record()

    (inst.dir / "tar.exe.action").write_text("unzip")
    inst.start()
    stopped_at("data/sounds.pak", "wait-window", 20000, "wait-status", 60000, CURRENT, "wait-enabled", 5000, *CHECK)
    assert bin_holds(inst, {CANCAO: NEW[CANCAO], ILHA: MAP, "data/world.pak": b"X" + PAK[1:]})
    assert "sounds.pak" not in record() and "world.pak" not in record()

    httpserver.clear_log()
    inst.start()
    inst.probe("wait-window", 20000, "wait-status", 30000, CURRENT, "wait-enabled", 5000, *CHECK, "wait-status", 30000,
               CHECKED % "2 restaurado(s)", "wait-enabled", 5000, "sleep", 300)
    assert ranges_asked(httpserver) == asked(new, ["data/world.pak"], ["data/sounds.pak"])
    assert bin_holds(inst, dict(NEW, **{"shots/1.png": b"png"})) and "world.pak" in record()
    update(inst, CHECKED % "nenhum problema", *CHECK)
    (inst.dir / "bin" / CANCAO).unlink()
    server.validator = None  # ranges refused: the restore fails, and says so
    inst.start()
    update(inst, "Erro ao baixar. Verifique a URL/link.")


def test_without_a_manifest_nothing_is_mended(install, serve, httpserver):
    """A missing recorded file stays missing at start, while the parts of an older download go (the
    archive's, the patch's and a rebuilt file); the menu's check, dropped while a pass runs, then
    says why it cannot run."""
    serve({"/v.txt": lambda request: (time.sleep(2), Response("1"))[1], "/cfg.txt": "[Launcher]\n"})
    line = "%s 5 1 data/gone.pak\n" % ("0" * 64)
    parts = {"update_temp.zip.part": b"PK older", "update_temp.zip.patch": b"PK", "update_temp.zip.rebuilt.3": b"x"}
    inst = install(dict(installed(OLD), **parts, **{RECORD: line}))
    inst.probe("wait-window", 20000, "wait-status", 20000, "Verificando atualizações...", *CHECK,
               "wait-status", 20000, CURRENT, "wait-enabled", 5000)
    versions = lambda: [r.path for r, _ in httpserver.log].count("/v.txt")  # noqa: E731
    assert versions() == 1 and (inst.dir / RECORD).read_text() == line
    assert not list(inst.dir.glob("update_temp.zip*"))
    update(inst, "Verificação indisponível: o servidor não publica um manifesto.", "sleep", 300, *CHECK)
    assert versions() == 2 and ranges_asked(httpserver) == [] and not (inst.dir / "bin/data/gone.pak").exists()
