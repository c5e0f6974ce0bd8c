#include "patch/zip_directory.h"

#include <algorithm>
#include <iterator>

#include "patch/zip_format.h"

namespace {

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
