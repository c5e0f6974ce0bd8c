"""The shipped programs as files: 64-bit, stripped, small, system DLLs only; the launcher's icons and manifest."""
import struct

import pefile
import pytest

SYSTEM_DLLS = {name + ".dll" for name in ("kernel32", "user32", "gdi32", "comctl32", "shell32", "shlwapi", "wininet",
                                          "msvcrt", "advapi32", "bcrypt", "crypt32", "ole32")}
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24


@pytest.mark.parametrize("name, subsystem", [("VelmoraLauncher", 2), ("VelmoraTool", 3)], ids=["GUI", "console"])
def test_shipped_exe(build, name, subsystem):
    data = (build / (name + ".exe")).read_bytes()
    pe = pefile.PE(data=data)
    assert len(data) < 1 << 20
    assert (pe.FILE_HEADER.Machine, pe.OPTIONAL_HEADER.Magic, pe.OPTIONAL_HEADER.Subsystem) == (0x8664, 0x20B, subsystem)
    assert pe.FILE_HEADER.PointerToSymbolTable == 0 and not any(s.Name.startswith(b".debug") for s in pe.sections)
    dlls = {entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT}
    assert dlls <= SYSTEM_DLLS, dlls - SYSTEM_DLLS


def test_launcher_icons_and_manifest(build):
    pe = pefile.PE(build / "VelmoraLauncher.exe")

    res = {(kind.id, item.id): pe.get_data(item.directory.entries[0].data.struct.OffsetToData,
                                           item.directory.entries[0].data.struct.Size)
           for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries for item in kind.directory.entries}
    group = res[RT_GROUP_ICON, 1]
    icons = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(struct.unpack_from("<H", group, 4)[0])]
    assert sorted((w or 256, bpp, res[RT_ICON, icon][:4] == b"\x89PNG") for w, _, _, _, _, bpp, _, icon in icons) == [
        (16, 32, False), (32, 32, False), (48, 32, False), (256, 32, True)]
    manifest = res[RT_MANIFEST, 1].decode()
    for needle in ('level="asInvoker"', 'uiAccess="false"', 'name="Microsoft.Windows.Common-Controls"',
                   'version="6.0.0.0"', 'processorArchitecture="amd64"'):
        assert needle in manifest
    assert "dpiAware" not in manifest  # the system scales the window
