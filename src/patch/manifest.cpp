#include "patch/manifest.h"

#include <windows.h>

#include <algorithm>
#include <map>
#include <string_view>

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

// Windows' own limits: a name of at most 255 UTF-16 units, a path of at most 32767, and what a
// zip's name field holds (a folder's trailing '/' included), or the patch could not write it.
const size_t kMaxComponentUnits = 255;
const size_t kMaxPathUnits = 32767;
const size_t kMaxZipName = 0xFFFF;

// The key under which Windows finds a file: names compared as the system upper-cases them
// (one unit for one), and '/' below every other character, so that the entries under a name
// sort right after it.
std::wstring Folded(std::wstring name) {
    if (!name.empty() && name.back() == L'/') name.pop_back();  // a folder and a file of one name collide
    if (!name.empty()) {
        std::wstring upper(name.size(), L'\0');
        if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.c_str(), static_cast<int>(name.size()), &upper[0],
                          static_cast<int>(upper.size()), nullptr, nullptr, 0) == static_cast<int>(name.size()))
            name = std::move(upper);
    }
    for (wchar_t& c : name)
        if (c == L'/') c = L'\0';
    return name;
}

// A component Windows would not create as named: a device (CON, COM1, COM\u00b9... with or
// without extension, blanks before the dot ignored), an NTFS metadata file, or what could be
// another file's short 8.3 alias (PROGRA~1.DLL). Every such name is short: a long one costs nothing.
bool IsReservedName(std::wstring_view component) {
    const size_t dot = component.find(L'.');
    std::wstring_view base = component.substr(0, dot);
    const std::wstring_view extension = dot == std::wstring_view::npos ? std::wstring_view() : component.substr(dot + 1);
    const size_t tilde = base.rfind(L'~');
    if (tilde != std::wstring_view::npos && tilde + 1 < base.size() && base.size() <= 8 && extension.size() <= 3 &&
        extension.find(L'.') == std::wstring_view::npos &&
        base.find_first_not_of(L"0123456789", tilde + 1) == std::wstring_view::npos)
        return true;
    while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
    if (base.size() < 3 || base.size() > 8) return false;
    wchar_t buffer[8];
    for (size_t i = 0; i < base.size(); ++i)
        buffer[i] = base[i] >= L'A' && base[i] <= L'Z' ? static_cast<wchar_t>(base[i] - L'A' + L'a') : base[i];
    const std::wstring_view lower(buffer, base.size());
    using namespace std::string_view_literals;
    for (const std::wstring_view name : {L"$mft"sv, L"$mftmirr"sv, L"$logfile"sv, L"$volume"sv, L"$attrdef"sv, L"$bitmap"sv,
                                         L"$boot"sv, L"$badclus"sv, L"$secure"sv, L"$upcase"sv, L"$extend"sv})
        if (dot == std::wstring_view::npos && lower == name) return true;
    for (const std::wstring_view name : {L"con"sv, L"prn"sv, L"aux"sv, L"nul"sv, L"conin$"sv, L"conout$"sv})
        if (lower == name) return true;
    return lower.size() == 4 && (lower.substr(0, 3) == L"com"sv || lower.substr(0, 3) == L"lpt"sv) &&
           L"0123456789\u00b9\u00b2\u00b3"sv.find(lower[3]) != std::wstring_view::npos;
}

// The path as UTF-16 when IsSafeManifestPath accepts it.
std::optional<std::wstring> SafeWidePath(const std::string& path) {
    if (path.empty() || path.size() > kMaxZipName || !IsValidUtf8(path) || HasUtf8Bom(path)) return std::nullopt;
    const std::wstring wide = DecodeText(path);
    if (wide.size() > kMaxPathUnits) return std::nullopt;
    const size_t end = wide.back() == L'/' ? wide.size() - 1 : wide.size();
    for (size_t start = 0; start <= end;) {
        size_t slash = wide.find(L'/', start);
        if (slash == std::wstring::npos || slash > end) slash = end;
        const std::wstring_view component = std::wstring_view(wide).substr(start, slash - start);
        // Windows drops trailing dots and blanks, so "a." would be "a" (and ".." the parent).
        if (component.empty() || component.size() > kMaxComponentUnits || component.back() == L'.' ||
            component.back() == L' ' || IsReservedName(component))
            return std::nullopt;
        start = slash + 1;
    }
    for (wchar_t c : wide)
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || std::wstring_view(L"\\:*?\"<>|").find(c) != std::wstring_view::npos)
            return std::nullopt;
    return wide;
}

// An entry line; `key` gets its name as Folded makes it.
std::optional<ManifestEntry> ParseEntry(const std::string& line, std::wstring& key) {
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
    entry.path = WithoutLeadingDotSlash(f[at + 5]);
    if (folder && entry.path.empty()) return entry;  // the top folder: nothing to list
    const bool endsWithSlash = !entry.path.empty() && entry.path.back() == '/';
    std::optional<std::wstring> wide = SafeWidePath(entry.path);
    if (endsWithSlash != folder || !wide) return std::nullopt;
    key = Folded(std::move(*wide));
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
// raw ranges share a byte. Sorted by their keys, the entries under a file follow it at once.
bool Consistent(const Manifest& manifest, std::vector<std::wstring>& keys) {
    std::map<std::wstring, bool> names;  // key, whether a file
    for (size_t i = 0; i < keys.size(); ++i)
        if (!names.emplace(std::move(keys[i]), !manifest.entries[i].folder).second) return false;
    for (auto it = names.begin(), next = std::next(it); next != names.end(); it = next++) {
        const std::wstring& name = it->first;
        if (it->second && next->first.size() > name.size() && next->first[name.size()] == L'\0' &&
            next->first.compare(0, name.size(), name) == 0)
            return false;
    }
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

std::string WithoutLeadingDotSlash(const std::string& path) {
    size_t at = 0;
    while (path.compare(at, 2, "./") == 0) at += 2;
    return path.substr(at);
}

bool IsSafeManifestPath(const std::string& path) { return SafeWidePath(path).has_value(); }

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
    std::vector<std::wstring> keys;  // each entry's, for Consistent
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
            std::optional<ManifestEntry> entry = ParseEntry(line, keys.emplace_back());
            if (!entry) return std::nullopt;
            if (entry->path.empty())
                keys.pop_back();  // "./": nothing listed
            else
                manifest.entries.push_back(std::move(*entry));
        }
    }
    if (headerLines < 2 || !Consistent(manifest, keys)) return std::nullopt;
    return manifest;
}
