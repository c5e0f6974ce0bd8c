"""Verified updates: the archive against the published SHA-256 and the publisher's signature, and
a remote configuration that counts only when the publisher signed it, once the INI names a key.
Keys and signatures come from OpenSSL (through the cryptography package), as an operator's would."""
import base64
import hashlib

import pytest
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

from conftest import STANDIN, zipped

CORRUPT = "Download corrompido (verificação falhou). Tente novamente."
UNSIGNED = "Atualização sem assinatura válida. Contate o suporte."
DONE = "Atualização concluída!"


def spki(key):
    """The UpdatePublicKey value of a key."""
    der = key.public_key().public_bytes(serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo)
    return base64.b64encode(der).decode()


@pytest.fixture(scope="module")
def keys():
    """Two P-256 key pairs: name -> (private key, UpdatePublicKey value)."""
    made = {name: ec.generate_private_key(ec.SECP256R1()) for name in ("publisher", "stranger")}
    return {name: (key, spki(key)) for name, key in made.items()}


def signature(key, data, raw=False):
    """A DER signature, or the same as r||s."""
    der = key.sign(data, ec.ECDSA(hashes.SHA256()))
    return base64.b64encode(b"".join(n.to_bytes(32, "big") for n in decode_dss_signature(der)) if raw else der).decode()


@pytest.fixture(scope="module")
def archive(build):
    return zipped({"velmoraclient.exe": STANDIN}, build)


def signed(text, key, raw=False):
    return text + b";sig=" + signature(key, text, raw).encode() + b"\r\n"


# How each row's remote configuration is made from its lines: keys is the fixture, zip the archive.
def config(lines, how="publisher", raw=False, bom=False):
    def make(keys, zip_bytes):
        text = (b"\xef\xbb\xbf" if bom else b"") + b"[Launcher]\r\nServerName=Assinado\r\n" + b"".join(
            (line(keys, zip_bytes) if callable(line) else line) + b"\r\n" for line in lines)
        if how == "unsigned":
            return text
        return TAMPER.get(how, bytes)(signed(text, keys["stranger" if how == "stranger" else "publisher"][0], raw))
    return make


TAMPER = {"not last": lambda data: data + b"ClientExe=velmoraclient.exe\r\n",
          "byte changed": lambda data: data.replace(b"Assinado", b"Assinadu"),
          "line break changed": lambda data: data.replace(b"\r\n", b"\n", 1),
          "final break dropped": lambda data: data[:-2]}  # as some hosts and editors trim a text


def sha(upper=False):
    return lambda keys, z: ("UpdateSHA256=" + (str.upper if upper else str)(hashlib.sha256(z).hexdigest())).encode()


def sig(key="publisher", raw=False, of=None):
    return lambda keys, z: ("UpdateSignature=" + signature(keys[key][0], of or z, raw)).encode()


VERSION = b"UpdateVersion=1.0.1"  # the version text served
GOOD = [sha(), sig(), VERSION]
ROWS = [  # name, INI key, remote configuration (None: no ConfigURL), archive byte flipped, title, ending
    ("DER signature", "publisher", config(GOOD), False, "Assinado", DONE),
    ("raw signature, signature line without a final break", "publisher",
     config([sha(), sig(raw=True), VERSION], "final break dropped", raw=True), False, "Assinado", DONE),
    ("hash in upper case, no key; a signed text reads as before", None, config([sha(upper=True)]), False, "Assinado",
     DONE),
    ("byte-order mark kept; signature of another file", "publisher", config([sig(of=b"other"), VERSION], bom=True),
     False, "Assinado", UNSIGNED),
    ("hash but no signature under a key", "publisher", config([sha(), VERSION]), False, "Assinado", UNSIGNED),
    ("flipped byte, hash and signature of the original", "publisher", config(GOOD), True, "Assinado", CORRUPT),
    ("hash mismatch without key", None, config([lambda k, z: b"UpdateSHA256=" + b"0" * 64]), False, "Assinado",
     CORRUPT),
    ("remote configuration sets another key", "publisher",
     config([lambda k, z: ("UpdatePublicKey=" + k["stranger"][1]).encode(), sig("stranger"), VERSION]), False,
     "Assinado", UNSIGNED),
    ("no UpdateVersion under a key", "publisher", config([sha(), sig()]), False, "Assinado", UNSIGNED),
    ("UpdateVersion of another version", "publisher", config([sha(), sig(), b"UpdateVersion=1.0.0"]), False,
     "Assinado", UNSIGNED),
    ("configuration not signed", "publisher", config(GOOD, "unsigned"), False, "Velmora", UNSIGNED),
    ("signature line not last", "publisher", config(GOOD, "not last"), False, "Velmora", UNSIGNED),
    ("byte changed after signing", "publisher", config(GOOD, "byte changed"), False, "Velmora", UNSIGNED),
    ("line break changed after signing", "publisher", config(GOOD, "line break changed"), False, "Velmora", UNSIGNED),
    ("configuration signed by another key", "publisher", config(GOOD, "stranger"), False, "Velmora", UNSIGNED),
    ("key but no remote configuration", "publisher", None, False, "Velmora", UNSIGNED),
    ("malformed key", "not a key", config(GOOD), False, "Velmora", UNSIGNED),
]


@pytest.mark.parametrize("key, remote, flipped, title, ending", [pytest.param(*r[1:], id=r[0]) for r in ROWS])
def test_update_is_verified(install, serve, httpserver, keys, archive, key, remote, flipped, title, ending):
    served = archive[:-30] + bytes([archive[-30] ^ 1]) + archive[-29:] if flipped else archive
    text = remote(keys, archive) if remote else b""
    serve({"/v.txt": "1.0.1", "/u.zip": served, "/cfg.txt": text})
    ini = "[Launcher]\r\nVersionURL={url}/v.txt\r\nUpdateURL={url}/u.zip\r\n" + (
        "ConfigURL={url}/cfg.txt\r\n" if remote else "") + (
        "UpdatePublicKey=%s\r\n" % keys.get(key, (None, key))[1] if key else "")
    inst = install({"launcher_config.ini": ini, "version.txt": "1.0.0", "tar.exe.action": "unzip"})
    state, = inst.probe("wait-window", 20000, "wait-status", 30000, ending, "wait-enabled", 5000, "dump", "close")
    assert state["title"] == title and inst.proc.wait(20) == 0
    updated = ending == DONE
    assert (inst.dir / "bin/velmoraclient.exe").exists() == updated and not (inst.dir / "update_temp.zip").exists()
    assert (inst.dir / "version.txt").read_bytes() == (b"1.0.1" if updated else b"1.0.0")
    asked = not key or (title == "Assinado" and VERSION + b"\r\n" in text)
    assert ("/u.zip" in [r.path for r, _ in httpserver.log]) == asked
