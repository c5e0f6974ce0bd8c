// The patch manifest published beside the update archive: what each entry of the archive holds
// and where its raw bytes lie, so a launcher can fetch only the entries that differ.
// Pure text work: the caller fetches and signs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "patch/chunk_rule.h"

// A manifest lists every entry in a line of about 250 bytes: this is room for some 60000.
constexpr uint64_t kManifestBytes = uint64_t{16} << 20;

struct ManifestEntry {
    std::string path;     // UTF-8, '/' separated, relative to bin; a folder ends with '/'
    bool folder = false;  // folders carry no content; they are listed so empty ones exist
    uint64_t size = 0;    // uncompressed content
    std::array<uint8_t, 32> contentSha256{};
    uint64_t offset = 0;     // of the entry's local header in the archive
    uint64_t rawLength = 0;  // local header through data and any data descriptor
    std::array<uint8_t, 32> rawSha256{};
    uint32_t crc32 = 0;           // as the central directory states them, so a launcher can
    uint64_t compressedSize = 0;  // write a new directory without reading data descriptors
    // A stored file of kChunkedFileBytes or more: where its content lies in the archive, and its
    // chunks (by the chunk rule), so a launcher can fetch only the chunks an old file lacks.
    uint64_t dataOffset = 0;
    std::vector<FileChunk> chunks;
};

struct Manifest {
    uint64_t archiveSize = 0;
    std::array<uint8_t, 32> archiveSha256{};
    std::vector<ManifestEntry> entries;  // in archive order
};

// The manifest as UTF-8 text, one entry a line (LF line breaks), no signature line.
std::string FormatManifest(const Manifest& manifest);

// `path` without its leading "./" (one or more), which tar drops too: "./" alone is the top
// folder itself and comes back empty.
std::string WithoutLeadingDotSlash(const std::string& path);

// Reads a manifest of either format; a trailing ";sig=" line and other ';' comment lines are
// ignored, a leading "./" is dropped from paths and a "./" entry ignored. Nothing when any line is
// malformed, a chunk list does not cover its stored file exactly (or a chunk exceeds
// kChunkMaxBytes), a path is unsafe (absolute, a drive, a backslash, a ".." or "."
// component, an empty component, a control character), a path repeats (letter case folded),
// or an entry's range lies outside the archive.
std::optional<Manifest> ParseManifest(const std::string& text);

// True when `path` (UTF-8, '/' separated, a trailing '/' for a folder) is one ParseManifest
// accepts: relative, no empty, "." or ".." component, no backslash, drive, control character
// or other character Windows refuses in a file name, no component ending in a dot or a blank
// (Windows would drop them), no device name (CON, NUL, COM1...).
bool IsSafeManifestPath(const std::string& path);
