// `VelmoraTool manifest`: the patch manifest of an update archive, written beside it.
#pragma once

#include <string>

// Reads the archive once, front to back, and writes its manifest at `manifestPath`. Returns
// the exit code: 0 when it is written, 1 (with an ERRO line) when the archive cannot be
// described: unreadable, malformed, an entry compressed other than stored or deflated, a CRC
// or size that does not match, a name the launcher would refuse.
int MakeManifest(const std::wstring& archivePath, const std::wstring& manifestPath);
