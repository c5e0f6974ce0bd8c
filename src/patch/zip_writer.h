// Writing a zip from entries whose raw bytes (local header, data, data descriptor) are copied
// from another zip: the local header is read back, and a new central directory is written.
// Pure byte work.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a local file header says, from the first bytes of an entry's raw range.
struct LocalHeader {
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;  // bit 3: sizes in a data descriptor; bit 11: UTF-8 name
    uint16_t method = 0;
    uint16_t time = 0;
    uint16_t date = 0;
    std::string name;          // the name bytes as stored
    uint64_t headerLength = 0;  // 30 + name + extra field
};
// Nothing when `raw` does not start with a local header signature or is cut short.
std::optional<LocalHeader> ReadLocalHeader(std::string_view raw);

// One entry of the new archive.
struct CentralEntry {
    LocalHeader header;
    uint32_t crc32 = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t offset = 0;  // where its local header now starts
    bool folder = false;  // written with the directory attribute
};

// The local header and nothing else for a folder entry (stored, empty), named `name` (UTF-8,
// ending with '/').
std::string FolderLocalHeader(const std::string& name);

// The central directory for `entries`, starting at `directoryOffset`, followed by the zip64
// end record and locator when a count, size or offset needs them, and the end record.
std::string CentralDirectory(const std::vector<CentralEntry>& entries, uint64_t directoryOffset);
