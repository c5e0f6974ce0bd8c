// A zip archive's central directory read from the file's tail. Pure byte work: the caller reads
// the file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Enough of the tail to hold the end record with the longest comment and the zip64 records
// in front of it.
constexpr uint64_t kZipTailBytes = 22 + 65535 + 20 + 56;

struct ZipEnd {
    uint64_t directoryOffset = 0;
    uint64_t directorySize = 0;
    uint64_t entryCount = 0;
    bool zip64 = false;
};
// The end-of-central-directory records in `tail`, the file's last bytes, which start at file
// offset `tailOffset`. Nothing when they are missing, inconsistent or point past them.
std::optional<ZipEnd> FindZipEnd(std::string_view tail, uint64_t tailOffset);

struct ZipEntry {
    std::string name;  // as stored: UTF-8 or the DOS code page, '/' or '\' separators
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    uint64_t offset = 0;  // of the local header
    uint32_t crc32 = 0;
    uint16_t method = 0;
    uint16_t flags = 0;  // bit 3: data descriptor; bit 11: UTF-8 name
    uint16_t madeBy = 0;
    uint16_t versionNeeded = 0;
    uint32_t externalAttributes = 0;
    bool zip64 = false;  // some value came from a zip64 extra field
};
// The `count` entries of a central directory; nothing when it is cut short or malformed.
std::optional<std::vector<ZipEntry>> ReadZipDirectory(std::string_view directory, uint64_t count);

