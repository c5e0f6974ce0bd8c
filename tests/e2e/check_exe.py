#!/usr/bin/env python3
"""Checks the shipped exe as a file: 64-bit GUI, stripped, small, system DLLs only, and its
icon group and manifest resources."""
import struct
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll", "shlwapi.dll",
               "wininet.dll", "msvcrt.dll", "advapi32.dll", "bcrypt.dll"}
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24


class PE:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0"
        self.machine, nsect, _, self.symtab, _, optsize, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic, = struct.unpack_from("<H", data, opt)
        self.subsystem, = struct.unpack_from("<H", data, opt + 68)
        rsrc_rva, = struct.unpack_from("<I", data, opt + 112 + 2 * 8)  # data directory 2
        self.sections = []
        for i in range(nsect):
            s = opt + optsize + 40 * i
            vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
            self.sections.append((data[s:s + 8].rstrip(b"\0").decode(), va, max(vsize, rawsize), rawptr))
        self.rsrc = rsrc_rva

    def at(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("rva %x" % rva)

    def resources(self):
        """{(type, id): bytes} for every resource, first language only."""
        if not self.rsrc:
            return {}
        base = self.at(self.rsrc)
        out = {}

        def entries(off):
            named, ids = struct.unpack_from("<HH", self.data, off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", self.data, off + 16 + 8 * i)
                yield name, target

        for rtype, t1 in entries(base):
            for rid, t2 in entries(base + (t1 & 0x7FFFFFFF)):
                _, leaf = next(entries(base + (t2 & 0x7FFFFFFF)))
                rva, size = struct.unpack_from("<II", self.data, base + leaf)
                out[(rtype, rid)] = self.data[self.at(rva):self.at(rva) + size]
        return out


def main(exe, objdump):
    data = open(exe, "rb").read()
    pe = PE(data)
    problems = []
    check = lambda ok, what: ok or problems.append(what)
    check(len(data) < 1 << 20, "size %d is not under 1 MB" % len(data))
    check(pe.machine == 0x8664 and pe.magic == 0x20B, "not PE32+ x86-64")
    check(pe.subsystem == 2, "subsystem %d is not GUI" % pe.subsystem)
    check(pe.symtab == 0 and not any(s[0].startswith(".debug") for s in pe.sections), "not stripped")
    dump = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=True).stdout
    dlls = {line.split(":", 1)[1].strip().lower() for line in dump.splitlines() if "DLL Name:" in line}
    check(dlls and dlls <= SYSTEM_DLLS, "imports beyond the system DLLs: %s" % sorted(dlls - SYSTEM_DLLS))

    res = pe.resources()
    group = res.get((RT_GROUP_ICON, 1))
    check(group is not None, "no icon group 1")
    if group:
        _, _, count = struct.unpack_from("<HHH", group)
        sizes = []
        for i in range(count):
            w, h, _, _, _, bpp, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            image = res[(RT_ICON, icon_id)]
            sizes.append((w or 256, bpp, image[:4] == b"\x89PNG"))
        check(sorted(sizes) == sorted([(256, 32, True), (48, 32, False), (32, 32, False), (16, 32, False)]),
              "icon images %s" % sizes)
    manifest = res.get((RT_MANIFEST, 1), b"").decode("utf-8", "replace")
    for needle in ('level="asInvoker"', 'uiAccess="false"', 'name="Microsoft.Windows.Common-Controls"',
                   'version="6.0.0.0"', 'processorArchitecture="amd64"'):
        check(needle in manifest, "manifest lacks %s" % needle)
    check("dpiAware" not in manifest and "dpiAwareness" not in manifest, "manifest declares DPI awareness")

    for p in problems:
        print("FAIL", p)
    print("%d passed, %d failed" % (1 if not problems else 0, 1 if problems else 0))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
