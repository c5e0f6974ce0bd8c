#include "patch/patch_plan.h"

#include <algorithm>
#include <map>
#include <string_view>

#include "verify/der.h"

namespace {

std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// Plain decimal digits only, as written: no sign, no blanks, no overflow.
std::optional<uint64_t> Number(std::string_view text) {
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (c < '0' || c > '9' || value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<std::array<uint8_t, 32>> Digest(std::string_view text) {
    return ParseSha256Hex(std::wstring(text.begin(), text.end()));
}

// The text's lines; the last one must end with a line break like the others. Views into `text`:
// a big client's record has tens of thousands of lines, read at every start.
std::optional<std::vector<std::string_view>> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos) return std::nullopt;
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace

std::string FormatInstallRecord(const std::vector<InstalledFile>& files) {
    std::string out;
    for (const InstalledFile& file : files) {
        out += Ascii(FormatSha256Hex(file.sha256)) + " " + std::to_string(file.stamp.size) + " " +
               std::to_string(file.stamp.writeTime) + " " + file.path + "\n";
        for (const FileChunk& chunk : file.chunks)
            out += "+" + std::to_string(chunk.length) + " " + Ascii(FormatSha256Hex(chunk.sha256)) + "\n";
    }
    return out;
}

std::optional<std::vector<InstalledFile>> ParseInstallRecord(std::string_view text) {
    const std::optional<std::vector<std::string_view>> lines = Lines(text);
    if (!lines) return std::nullopt;
    std::vector<InstalledFile> files;
    files.reserve(lines->size());
    for (const std::string_view line : *lines) {
        if (line.compare(0, 1, "+") == 0) {
            const size_t blank = line.find(' ');
            const std::optional<uint64_t> length = Number(line.substr(1, blank - 1));
            const std::optional<std::array<uint8_t, 32>> digest =
                blank == std::string_view::npos ? std::nullopt : Digest(line.substr(blank + 1));
            if (files.empty() || !length || !digest) return std::nullopt;
            std::vector<FileChunk>& chunks = files.back().chunks;
            chunks.push_back({chunks.empty() ? 0 : chunks.back().offset + chunks.back().length, *length, *digest});
            continue;
        }
        const size_t a = line.find(' '), b = line.find(' ', a + 1), c = line.find(' ', b + 1);
        if (c == std::string_view::npos) return std::nullopt;
        const std::optional<std::array<uint8_t, 32>> digest = Digest(line.substr(0, a));
        const std::optional<uint64_t> size = Number(line.substr(a + 1, b - a - 1));
        const std::optional<uint64_t> time = Number(line.substr(b + 1, c - b - 1));
        const std::string_view path = line.substr(c + 1);
        if (!digest || !size || !time || path.empty()) return std::nullopt;
        files.push_back({std::string(path), {*size, *time}, *digest, {}});
    }
    // Chunks that do not cover their file exactly are no knowledge of it.
    for (const InstalledFile& file : files)
        if (!file.chunks.empty() && file.chunks.back().offset + file.chunks.back().length != file.stamp.size)
            return std::nullopt;
    return files;
}

FileVerdict JudgeInstalled(const ManifestEntry& entry, const std::optional<FileStamp>& onDisk,
                           const InstalledFile* recorded) {
    if (!onDisk || onDisk->size != entry.size) return FileVerdict::Differs;
    if (!recorded || recorded->stamp.size != onDisk->size || recorded->stamp.writeTime != onDisk->writeTime)
        return FileVerdict::Unknown;
    return recorded->sha256 == entry.contentSha256 ? FileVerdict::Same : FileVerdict::Differs;
}

std::vector<std::optional<uint64_t>> FindReusable(const std::vector<FileChunk>& wanted, const std::vector<FileChunk>& old) {
    std::map<std::pair<std::array<uint8_t, 32>, uint64_t>, uint64_t> where;
    for (const FileChunk& chunk : old) where.emplace(std::make_pair(chunk.sha256, chunk.length), chunk.offset);
    std::vector<std::optional<uint64_t>> found;
    for (const FileChunk& chunk : wanted) {
        const auto at = where.find({chunk.sha256, chunk.length});
        found.push_back(at == where.end() ? std::nullopt : std::optional<uint64_t>(at->second));
    }
    return found;
}

bool PatchPays(uint64_t neededRawBytes, uint64_t archiveSize) {
    // 60 % of the size, rounded down, without a product that could overflow.
    return neededRawBytes <= archiveSize / 5 * 3 + archiveSize % 5 * 3 / 5;
}

std::vector<RangeRequest> PlanRequests(const Manifest& manifest, std::vector<size_t> needed) {
    std::sort(needed.begin(), needed.end(), [&manifest](size_t a, size_t b) {
        return manifest.entries[a].offset < manifest.entries[b].offset;
    });
    std::vector<RangeRequest> requests;
    for (size_t index : needed) {
        const ManifestEntry& entry = manifest.entries[index];
        const uint64_t last = entry.offset + entry.rawLength - 1;
        // Entries never overlap (the manifest is refused otherwise), so a gap is never negative.
        if (!requests.empty() && entry.offset - requests.back().last - 1 < kMergeGap) {
            requests.back().last = last;
        } else {
            requests.push_back({entry.offset, last, {}});
        }
        requests.back().entries.push_back(index);
    }
    return requests;
}

EntrySplitter::EntrySplitter(const Manifest& manifest, const RangeRequest& request)
    : manifest_(manifest), request_(request), at_(request.first) {}

bool EntrySplitter::Feed(const char* data, size_t size, const Piece& piece) {
    while (size > 0 && current_ < request_.entries.size()) {
        const size_t index = request_.entries[current_];
        const ManifestEntry& entry = manifest_.entries[index];
        if (at_ < entry.offset) {  // the gap before the entry
            const size_t skip = static_cast<size_t>(std::min<uint64_t>(entry.offset - at_, size));
            at_ += skip;
            data += skip;
            size -= skip;
            continue;
        }
        const uint64_t end = entry.offset + entry.rawLength;
        const size_t take = static_cast<size_t>(std::min<uint64_t>(end - at_, size));
        at_ += take;
        if (at_ == end) ++current_;
        if (!piece(index, data, take, at_ == end)) return false;
        data += take;
        size -= take;
    }
    return true;
}

std::string FormatPatchPart(const PatchPartRecord& record) {
    std::string out = "archive " + Ascii(FormatSha256Hex(record.archiveSha256)) + "\n";
    for (uint64_t offset : record.done) out += std::to_string(offset) + "\n";
    return out;
}

std::optional<PatchPartRecord> ParsePatchPart(const std::string& text) {
    const std::optional<std::vector<std::string_view>> lines = Lines(text);
    if (!lines || lines->empty() || lines->front().compare(0, 8, "archive ") != 0) return std::nullopt;
    const std::optional<std::array<uint8_t, 32>> digest = Digest(lines->front().substr(8));
    if (!digest) return std::nullopt;
    PatchPartRecord record{*digest, {}};
    for (size_t i = 1; i < lines->size(); ++i) {
        const std::optional<uint64_t> offset = Number((*lines)[i]);
        if (!offset) return std::nullopt;
        record.done.push_back(*offset);
    }
    return record;
}
