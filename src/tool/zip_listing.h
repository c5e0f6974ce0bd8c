// The layout checks an update archive must pass, over its central directory's entries.
// Pure byte work: the caller reads the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/zip_directory.h"

// The entry's name as UTF-8 with '/' separators: as stored when the UTF-8 flag is set,
// otherwise read in the DOS code page 437, as zip tools wrote names before that flag.
std::string EntryNameUtf8(const ZipEntry& entry);

// An entry that would land outside the folder it is unpacked into: an absolute path, a
// drive letter, or a ".." component.
bool EscapesFolder(const std::string& name);

// Where the client executable is: at the top level (folder empty), under a folder (its
// name, with a trailing '/'), or nowhere (nothing). Letter case and separators are ignored,
// as on Windows.
std::optional<std::string> ClientFolderInZip(const std::vector<ZipEntry>& entries, const std::string& clientExeUtf8);
