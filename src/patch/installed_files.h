// The client's files in bin measured against a manifest, and the record beside version.txt of
// the files whose content the launcher knows.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "patch/manifest.h"
#include "patch/patch_plan.h"

// The record's place: installed_files.txt beside version.txt.
std::wstring InstallRecordPath();

// What the file system says of a file, without reading it; nothing when it is missing or a folder.
std::optional<FileStamp> StampOf(const std::wstring& path);

// Where a manifest path lands under `bin` (no trailing backslash for a folder), in the extended
// "\\?\" form when it is MAX_PATH long or longer.
std::wstring EntryPath(const std::wstring& bin, const std::string& path);

// Reads files in pieces of its buffer. One for many files: under Wine a fresh megabyte for each
// file costs more than reading and hashing it.
class FileHasher {
    // Every piece of the file to `take`; false when it cannot be read to its end.
    bool Read(const std::wstring& path, const std::function<void(const uint8_t*, size_t)>& take,
              const std::function<void(uint64_t hashed)>& hashed);

public:
    FileHasher() : buffer_(size_t{1} << 20) {}
    // The SHA-256 of a file's bytes; `hashed` is told the bytes done so far. Nothing when the
    // file cannot be read to its end.
    std::optional<std::array<uint8_t, 32>> Hash(const std::wstring& path,
                                                const std::function<void(uint64_t hashed)>& hashed = nullptr);
    // The file's chunks by the chunk rule, each with its SHA-256, in one reading.
    std::optional<std::vector<FileChunk>> Chunks(const std::wstring& path,
                                                 const std::function<void(uint64_t hashed)>& hashed = nullptr);

private:
    std::vector<char> buffer_;
    std::vector<char> window_;  // of a chunked file's scan
};

struct InstalledCheck {
    std::vector<size_t> needed;        // manifest entries bin lacks: files missing or differing, folders missing
    std::vector<InstalledFile> intact;  // files found to hold the manifest's content, with their stamps
    // For needed chunked files whose old file is in bin: the old file's chunks, from the record
    // when it vouches for them, else found by reading it.
    std::map<size_t, std::vector<FileChunk>> oldChunks;
};
// Judges every entry against the record: a file whose size and time match its line is taken at
// its word, any other is hashed (a chunked one cut into its chunks instead, which says as much),
// the progress bar showing the share hashed. Without `useRecord` every file of the manifest's size
// is hashed.
InstalledCheck CheckInstalled(const Manifest& manifest, const std::wstring& bin, bool useRecord = true);

// Every file of the manifest whose size on disk is the manifest's, with its stamp now: what bin
// holds once an archive the manifest describes has been unpacked into it.
std::vector<InstalledFile> ManifestFilesOnDisk(const Manifest& manifest, const std::wstring& bin);

// Replaces the record through a staging file; no files removes it.
void WriteInstallRecord(const std::vector<InstalledFile>& files);
