// Deciding what a patch update fetches: the record of installed files, which entries of the
// manifest differ from bin, the byte ranges to ask for, and the record of a patch in progress.
// Pure value work: the caller reads the disk and the network.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "patch/manifest.h"

// What the file system says of a file without reading it.
struct FileStamp {
    uint64_t size = 0;
    uint64_t writeTime = 0;  // the last-write FILETIME as one number
};

// One line of the record kept beside version.txt: a file whose content the launcher knows.
struct InstalledFile {
    std::string path;  // as the manifest names it
    FileStamp stamp;
    std::array<uint8_t, 32> sha256{};
    std::vector<FileChunk> chunks;  // of a chunked file: a later patch finds reusable bytes without reading it
};

// "<sha256> <size> <write time> <path>" lines; the path goes last, so its blanks need no quoting.
// A chunked file's line is followed by a "+<length> <sha256>" line for each of its chunks.
std::string FormatInstallRecord(const std::vector<InstalledFile>& files);
// Nothing when any line is malformed: a damaged record only costs the hashing it would have saved.
std::optional<std::vector<InstalledFile>> ParseInstallRecord(std::string_view text);

enum class FileVerdict {
    Same,     // the record vouches for the manifest's content
    Differs,  // missing, another size, or recorded with other content
    Unknown,  // to be hashed
};
// `onDisk` is nothing for a missing file; `recorded` is null when the record does not list it.
FileVerdict JudgeInstalled(const ManifestEntry& entry, const std::optional<FileStamp>& onDisk,
                           const InstalledFile* recorded);

// For each chunk of `wanted`, the offset in the old file of a chunk with the same length and
// digest, wherever it lies; nothing for a chunk that must be fetched.
std::vector<std::optional<uint64_t>> FindReusable(const std::vector<FileChunk>& wanted, const std::vector<FileChunk>& old);

// A patch whose entries' raw bytes exceed this share of the archive costs about what the full
// download does (and needs more requests): it is not attempted.
bool PatchPays(uint64_t neededRawBytes, uint64_t archiveSize);

// One single-range request: bytes first..last of the archive, covering `entries` (indices into
// the manifest's entries, by offset). Neighbours closer than kMergeGap go in one request: a few
// bytes of gap cost less than another round trip.
constexpr uint64_t kMergeGap = uint64_t{64} * 1024;
struct RangeRequest {
    uint64_t first = 0;
    uint64_t last = 0;
    std::vector<size_t> entries;
};
std::vector<RangeRequest> PlanRequests(const Manifest& manifest, std::vector<size_t> needed);

// Splits the body of one request into the entries it covers, dropping the gaps between them.
// `piece` gets each entry's bytes in order (`ends` on its last piece) and may stop the walk by
// returning false.
class EntrySplitter {
public:
    using Piece = std::function<bool(size_t entry, const char* data, size_t size, bool ends)>;
    EntrySplitter(const Manifest& manifest, const RangeRequest& request);
    bool Feed(const char* data, size_t size, const Piece& piece);

private:
    const Manifest& manifest_;
    const RangeRequest& request_;
    uint64_t at_;       // archive offset of the next byte
    size_t current_ = 0;  // index into request_.entries
};

// The record beside a patch in progress: which archive it belongs to and, in the order they lie
// in the part file, the entries complete in it (by their offset in the archive).
struct PatchPartRecord {
    std::array<uint8_t, 32> archiveSha256{};
    std::vector<uint64_t> done;
};
std::string FormatPatchPart(const PatchPartRecord& record);
std::optional<PatchPartRecord> ParsePatchPart(const std::string& text);
