#include "tool/zip_listing.h"

#include <algorithm>
#include <iterator>

#include "patch/zip_format.h"

namespace {

std::string Normalised(std::string text) {
    for (char& c : text) {
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Values the 32-bit fields left at their maximum come from the zip64 extra field, in order.
bool ApplyZip64Extra(std::string_view extra, ZipEntry* entry) {
    std::pair<bool, uint64_t*> wanted[] = {{entry->size == 0xFFFFFFFF, &entry->size},
                                           {entry->compressedSize == 0xFFFFFFFF, &entry->compressedSize},
                                           {entry->offset == 0xFFFFFFFF, &entry->offset}};
    for (size_t at = 0; at + 4 <= extra.size();) {
        const uint64_t tag = Little(extra, at, 2), length = Little(extra, at + 2, 2);
        if (at + 4 + length > extra.size()) return false;
        if (tag == kZip64ExtraTag) {
            size_t field = at + 4;
            for (auto [full, value] : wanted) {
                if (!full) continue;
                if (field + 8 > at + 4 + length) return false;
                *value = Little(extra, field, 8);
                field += 8;
                entry->zip64 = true;
            }
            return true;
        }
        at += 4 + length;
    }
    return std::none_of(std::begin(wanted), std::end(wanted), [](const auto& w) { return w.first; });
}

// Code page 437's upper half.
const char16_t kCp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

}  // namespace

std::optional<ZipEnd> FindZipEnd(std::string_view tail, uint64_t tailOffset) {
    if (tail.size() < 22) return std::nullopt;
    // The end record is the last one whose comment reaches exactly to the end of the file.
    size_t at = tail.size() - 22;
    for (;; --at) {
        if (Little(tail, at, 4) == kEndSignature && at + 22 + Little(tail, at + 20, 2) == tail.size()) break;
        if (at == 0) return std::nullopt;
    }
    ZipEnd end{Little(tail, at + 16, 4), Little(tail, at + 12, 4), Little(tail, at + 10, 2), false};
    if (at >= 20 && Little(tail, at - 20, 4) == kZip64LocatorSignature) {
        const uint64_t record = Little(tail, at - 20 + 8, 8);
        // The record lies whole inside the tail, before the locator: an offset near 2^64 must not
        // wrap around to a small one.
        if (record < tailOffset || at - 20 < 56 || record - tailOffset > at - 20 - 56) return std::nullopt;
        const size_t r = static_cast<size_t>(record - tailOffset);
        if (Little(tail, r, 4) != kZip64EndSignature) return std::nullopt;
        end = {Little(tail, r + 48, 8), Little(tail, r + 40, 8), Little(tail, r + 32, 8), true};
    }
    if (end.directoryOffset > tailOffset + at || end.directorySize > tailOffset + at - end.directoryOffset)
        return std::nullopt;
    return end;
}

std::optional<std::vector<ZipEntry>> ReadZipDirectory(std::string_view directory, uint64_t count) {
    std::vector<ZipEntry> entries;
    size_t at = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (at + 46 > directory.size() || Little(directory, at, 4) != kCentralSignature) return std::nullopt;
        const size_t nameLength = Little(directory, at + 28, 2), extraLength = Little(directory, at + 30, 2),
                     commentLength = Little(directory, at + 32, 2);
        if (at + 46 + nameLength + extraLength + commentLength > directory.size()) return std::nullopt;
        ZipEntry entry;
        entry.name = std::string(directory.substr(at + 46, nameLength));
        entry.madeBy = static_cast<uint16_t>(Little(directory, at + 4, 2));
        entry.versionNeeded = static_cast<uint16_t>(Little(directory, at + 6, 2));
        entry.flags = static_cast<uint16_t>(Little(directory, at + 8, 2));
        entry.method = static_cast<uint16_t>(Little(directory, at + 10, 2));
        entry.crc32 = static_cast<uint32_t>(Little(directory, at + 16, 4));
        entry.compressedSize = Little(directory, at + 20, 4);
        entry.size = Little(directory, at + 24, 4);
        entry.externalAttributes = static_cast<uint32_t>(Little(directory, at + 38, 4));
        entry.offset = Little(directory, at + 42, 4);
        if (!ApplyZip64Extra(directory.substr(at + 46 + nameLength, extraLength), &entry)) return std::nullopt;
        entries.push_back(std::move(entry));
        at += 46 + nameLength + extraLength + commentLength;
    }
    return entries;
}

std::string EntryNameUtf8(const ZipEntry& entry) {
    std::string out;
    for (const char byte : entry.name) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x80 || (entry.flags & 0x0800)) {
            out.push_back(c == '\\' ? '/' : byte);
            continue;
        }
        const char16_t u = kCp437High[c - 0x80];  // all in the Basic Multilingual Plane: 2 or 3 bytes
        if (u < 0x800) {
            out.push_back(static_cast<char>(0xC0 | u >> 6));
        } else {
            out.push_back(static_cast<char>(0xE0 | u >> 12));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
        }
        out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
    return out;
}

bool EscapesFolder(const std::string& name) {
    const std::string path = Normalised(name);
    if ((!path.empty() && path[0] == '/') || (path.size() >= 2 && path[1] == ':')) return true;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (path.compare(start, end - start, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

std::optional<std::string> ClientFolderInZip(const std::vector<ZipEntry>& entries, const std::string& clientExeUtf8) {
    const std::string client = Normalised(clientExeUtf8);
    std::optional<std::string> nested;
    for (const ZipEntry& entry : entries) {
        const std::string name = Normalised(entry.name);
        if (name == client) return std::string();
        if (!nested && name.size() > client.size() && name.compare(name.size() - client.size(), client.size(), client) == 0 &&
            name[name.size() - client.size() - 1] == '/')
            nested = entry.name.substr(0, name.size() - client.size());
    }
    return nested;
}
