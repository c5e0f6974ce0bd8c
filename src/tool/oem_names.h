// Entry names that are not ASCII and lack the zip's UTF-8 flag: Windows' tar.exe reads them in
// the system's OEM code page, so the player's files get other names than the operator's.
#pragma once

#include <string>
#include <vector>

#include "patch/zip_directory.h"

struct MisreadName {
    std::wstring meant;      // the bytes read as UTF-8 when they are (Info-ZIP writes them so), else as code page 437
    std::wstring brazilian;  // what a Windows in Brazilian Portuguese (OEM code page 850) names the file
};
std::vector<MisreadName> MisreadNames(const std::vector<ZipEntry>& entries);

// The warning about them, with the fix; empty when there are none.
std::wstring MisreadNamesWarning(const std::vector<MisreadName>& names);
