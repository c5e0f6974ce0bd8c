#include "patch/manifest.h"

#include <algorithm>
#include <set>

#include "app/text.h"
#include "net/headers.h"
#include "verify/der.h"

// The text, line by line:
//   velmora-manifest 2
//   archive<TAB><size><TAB><sha256>
//   F<TAB><size><TAB><sha256><TAB><offset><TAB><raw length><TAB><raw sha256><TAB><crc32><TAB><compressed size><TAB><path>
//   D<TAB><offset><TAB><raw length><TAB><raw sha256><TAB><crc32><TAB><compressed size><TAB><path/>
//   S<TAB><offset of the content in the archive>          after the F line of a chunked file
//   C<TAB><offset in the content><TAB><length><TAB><sha256>   one for each of its chunks, in order
// Format 1 is the same without S and C lines. Numbers in decimal, digests in 64 hex digits, the CRC-32 in 8; the path comes last so that
// nothing in it can shift the other fields.

namespace {

const char kMagic[] = "velmora-manifest 2";
const char kMagicUnchunked[] = "velmora-manifest 1";
// The smallest local header: a raw range shorter than this plus its data cannot be an entry.
const uint64_t kLocalHeaderBytes = 30;

std::string Ascii(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string Hex32(uint32_t value) {
    static const char kHex[] = "0123456789abcdef";
    std::string out(8, '0');
    for (int i = 7; i >= 0; --i, value >>= 4) out[static_cast<size_t>(i)] = kHex[value & 0xF];
    return out;
}

std::vector<std::string> SplitFields(const std::string& line, size_t count) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (fields.size() + 1 < count) {
        const size_t tab = line.find('\t', start);
        if (tab == std::string::npos) break;
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(line.substr(start));  // the last field (a path) keeps whatever follows
    return fields;
}

// Plain decimal digits only: no sign, no blanks.
std::optional<uint64_t> Number(const std::string& field) {
    if (field.empty() || !std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return ParseByteCount(std::wstring(field.begin(), field.end()));
}

std::optional<std::array<uint8_t, 32>> Digest(const std::string& field) {
    return ParseSha256Hex(std::wstring(field.begin(), field.end()));
}

std::optional<uint32_t> Crc(const std::string& field) {
    if (field.size() != 8) return std::nullopt;
    uint32_t value = 0;
    for (char c : field) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return value;
}

// The code points of valid UTF-8.
std::u32string CodePoints(const std::string& utf8) {
    std::u32string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length && i + k < utf8.size(); ++k) c = c << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out.push_back(c);
        i += length;
    }
    return out;
}

// Upper case to lower case as Windows folds file names, for the alphabets client files are
// named in: Latin (ASCII, Latin-1, Latin Extended-A), Greek and Cyrillic.
char32_t FoldCase(char32_t c) {
    if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3AB && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return c + 0x20;
    if (c >= 0x400 && c <= 0x40F) return c + 0x50;
    if (c == 0x178) return 0xFF;
    const bool evenUpper = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if ((evenUpper && c % 2 == 0) || (oddUpper && c % 2 == 1)) return c + 1;
    return c;
}

std::u32string Folded(const std::string& path) {
    std::u32string out = CodePoints(path);
    if (!out.empty() && out.back() == U'/') out.pop_back();  // a folder and a file of one name collide
    for (char32_t& c : out) c = FoldCase(c);
    return out;
}

// A component Windows would not create as named: a device name, with or without extension.
bool IsDeviceName(const std::string& component) {
    std::string base = component.substr(0, component.find('.'));
    for (char& c : base) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (base == "con" || base == "prn" || base == "aux" || base == "nul") return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

std::optional<ManifestEntry> ParseEntry(const std::string& line) {
    const bool folder = line.compare(0, 2, "D\t") == 0;
    if (!folder && line.compare(0, 2, "F\t") != 0) return std::nullopt;
    const std::vector<std::string> f = SplitFields(line, folder ? 7 : 9);
    if (f.size() != (folder ? 7u : 9u)) return std::nullopt;
    ManifestEntry entry;
    entry.folder = folder;
    size_t at = 1;
    if (!folder) {
        const std::optional<uint64_t> size = Number(f[at++]);
        const std::optional<std::array<uint8_t, 32>> content = Digest(f[at++]);
        if (!size || !content) return std::nullopt;
        entry.size = *size;
        entry.contentSha256 = *content;
    }
    const std::optional<uint64_t> offset = Number(f[at]), rawLength = Number(f[at + 1]), compressed = Number(f[at + 4]);
    const std::optional<std::array<uint8_t, 32>> raw = Digest(f[at + 2]);
    const std::optional<uint32_t> crc = Crc(f[at + 3]);
    if (!offset || !rawLength || !compressed || !raw || !crc) return std::nullopt;
    entry.offset = *offset;
    entry.rawLength = *rawLength;
    entry.rawSha256 = *raw;
    entry.crc32 = *crc;
    entry.compressedSize = *compressed;
    entry.path = f[at + 5];
    const bool endsWithSlash = !entry.path.empty() && entry.path.back() == '/';
    if (endsWithSlash != folder || !IsSafeManifestPath(entry.path)) return std::nullopt;
    // Whatever else a raw range holds, it holds a local header and the data.
    if (entry.compressedSize > entry.rawLength || entry.rawLength - entry.compressedSize < kLocalHeaderBytes)
        return std::nullopt;
    return entry;
}

// An S or C line: the entry before it becomes chunked, or gets its next chunk.
bool AddChunkLine(std::vector<ManifestEntry>& entries, const std::string& line) {
    if (entries.empty() || entries.back().folder) return false;
    ManifestEntry& entry = entries.back();
    if (line.compare(0, 2, "S\t") == 0) {
        const std::optional<uint64_t> offset = Number(line.substr(2));
        if (!offset || entry.dataOffset != 0 || !entry.chunks.empty()) return false;
        entry.dataOffset = *offset;
        return entry.dataOffset != 0;
    }
    const std::vector<std::string> f = SplitFields(line, 4);
    if (f.size() != 4 || f[0] != "C" || entry.dataOffset == 0) return false;
    const uint64_t expected = entry.chunks.empty() ? 0 : entry.chunks.back().offset + entry.chunks.back().length;
    const uint64_t length = Number(f[2]).value_or(0);
    const std::optional<std::array<uint8_t, 32>> digest = Digest(f[3]);
    if (Number(f[1]) != expected || length == 0 || length > kChunkMaxBytes || !digest) return false;
    entry.chunks.push_back({expected, length, *digest});
    return true;
}

// A chunked file is stored, its content lies within its raw range after a local header, and its
// chunks cover that content exactly.
bool ChunksHold(const ManifestEntry& entry) {
    if (entry.dataOffset == 0) return true;
    return !entry.chunks.empty() && entry.compressedSize == entry.size && entry.size >= kChunkedFileBytes &&
           entry.dataOffset > entry.offset && entry.dataOffset - entry.offset >= kLocalHeaderBytes &&
           entry.dataOffset - entry.offset <= entry.rawLength - entry.size &&
           entry.chunks.back().offset + entry.chunks.back().length == entry.size;
}

// No two paths name one file, no file stands where another entry needs a folder, and no two
// raw ranges share a byte.
bool Consistent(const Manifest& manifest) {
    std::set<std::u32string> names, files;
    for (const ManifestEntry& entry : manifest.entries) {
        const std::u32string name = Folded(entry.path);
        if (!names.insert(name).second) return false;
        if (!entry.folder) files.insert(name);
    }
    for (const std::u32string& name : names)
        for (size_t slash = name.find(U'/'); slash != std::u32string::npos; slash = name.find(U'/', slash + 1))
            if (files.count(name.substr(0, slash))) return false;
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (const ManifestEntry& entry : manifest.entries) {
        if (!ChunksHold(entry)) return false;
        if (entry.offset > manifest.archiveSize || entry.rawLength > manifest.archiveSize - entry.offset) return false;
        ranges.emplace_back(entry.offset, entry.rawLength);
    }
    std::sort(ranges.begin(), ranges.end());
    for (size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i - 1].first + ranges[i - 1].second > ranges[i].first) return false;
    return true;
}

}  // namespace

bool IsSafeManifestPath(const std::string& path) {
    if (path.empty() || !IsValidUtf8(path)) return false;
    const size_t end = path.back() == '/' ? path.size() - 1 : path.size();
    for (size_t start = 0; start <= end;) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos || slash > end) slash = end;
        const std::string component = path.substr(start, slash - start);
        // Windows drops trailing dots and blanks, so "a." would be "a" (and ".." the parent).
        if (component.empty() || component.back() == '.' || component.back() == ' ' || IsDeviceName(component))
            return false;
        start = slash + 1;
    }
    for (char32_t c : CodePoints(path))
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || std::u32string_view(U"\\:*?\"<>|").find(c) != std::u32string_view::npos)
            return false;
    return true;
}

std::string FormatManifest(const Manifest& manifest) {
    std::string out = std::string(kMagic) + "\narchive\t" + std::to_string(manifest.archiveSize) + "\t" +
                      Ascii(FormatSha256Hex(manifest.archiveSha256)) + "\n";
    for (const ManifestEntry& e : manifest.entries) {
        if (e.folder)
            out += "D\t";
        else
            out += "F\t" + std::to_string(e.size) + "\t" + Ascii(FormatSha256Hex(e.contentSha256)) + "\t";
        out += std::to_string(e.offset) + "\t" + std::to_string(e.rawLength) + "\t" + Ascii(FormatSha256Hex(e.rawSha256)) +
               "\t" + Hex32(e.crc32) + "\t" + std::to_string(e.compressedSize) + "\t" + e.path + "\n";
        if (!e.chunks.empty()) out += "S\t" + std::to_string(e.dataOffset) + "\n";
        for (const FileChunk& c : e.chunks)
            out += "C\t" + std::to_string(c.offset) + "\t" + std::to_string(c.length) + "\t" +
                   Ascii(FormatSha256Hex(c.sha256)) + "\n";
    }
    return out;
}

std::optional<Manifest> ParseManifest(const std::string& text) {
    if (!IsValidUtf8(text)) return std::nullopt;
    Manifest manifest;
    int headerLines = 0;
    bool chunked = false;  // the format that may list chunks
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == ';') continue;
        if (headerLines == 0) {
            chunked = line == kMagic;
            if (!chunked && line != kMagicUnchunked) return std::nullopt;
            ++headerLines;
        } else if (headerLines == 1) {
            const std::vector<std::string> f = SplitFields(line, 3);
            const std::optional<uint64_t> size = f.size() == 3 && f[0] == "archive" ? Number(f[1]) : std::nullopt;
            const std::optional<std::array<uint8_t, 32>> digest = size ? Digest(f[2]) : std::nullopt;
            if (!digest) return std::nullopt;
            manifest.archiveSize = *size;
            manifest.archiveSha256 = *digest;
            ++headerLines;
        } else if (chunked && (line.compare(0, 2, "S\t") == 0 || line.compare(0, 2, "C\t") == 0)) {
            if (!AddChunkLine(manifest.entries, line)) return std::nullopt;
        } else {
            std::optional<ManifestEntry> entry = ParseEntry(line);
            if (!entry) return std::nullopt;
            manifest.entries.push_back(std::move(*entry));
        }
    }
    if (headerLines < 2 || !Consistent(manifest)) return std::nullopt;
    return manifest;
}
