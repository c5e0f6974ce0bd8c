// A zip archive on disk: its directory, read from the file's tail through zip_directory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "patch/zip_directory.h"

// `size` bytes of the file from `offset` (at most 256 MiB); nothing when they cannot all be read.
std::optional<std::string> ReadFileRange(HANDLE file, uint64_t offset, uint64_t size);

struct ZipListing {
    ZipEnd end;
    std::vector<ZipEntry> entries;
    uint64_t fileSize = 0;
};
// Nothing when the file cannot be read or holds no readable zip directory.
std::optional<ZipListing> ListZip(const std::wstring& path);
