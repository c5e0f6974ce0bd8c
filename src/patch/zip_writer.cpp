#include "patch/zip_writer.h"

#include <algorithm>

#include "patch/zip_format.h"

namespace {

const uint64_t kFull32 = 0xFFFFFFFF;  // a 32-bit field at this value defers to the zip64 record
const uint64_t kFull16 = 0xFFFF;
const uint16_t kZip64Version = 45;    // 4.5: zip64
const uint16_t kPlainVersion = 20;    // 2.0: folders, deflate
const uint16_t kUtf8NameFlag = 0x0800;
const uint32_t kDosDirectory = 0x10;
// The upper byte of "version made by": 0, MS-DOS, whose attributes the external field holds
// (what Windows' own zip writer records).
const uint16_t kMadeByDos = 0x0000;

void Put(std::string& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

}  // namespace

std::optional<LocalHeader> ReadLocalHeader(std::string_view raw) {
    if (raw.size() < 30 || Little(raw, 0, 4) != kLocalSignature) return std::nullopt;
    const uint64_t nameLength = Little(raw, 26, 2), extraLength = Little(raw, 28, 2);
    if (raw.size() < 30 + nameLength + extraLength) return std::nullopt;
    LocalHeader header;
    header.versionNeeded = static_cast<uint16_t>(Little(raw, 4, 2));
    header.flags = static_cast<uint16_t>(Little(raw, 6, 2));
    header.method = static_cast<uint16_t>(Little(raw, 8, 2));
    header.time = static_cast<uint16_t>(Little(raw, 10, 2));
    header.date = static_cast<uint16_t>(Little(raw, 12, 2));
    header.name = std::string(raw.substr(30, nameLength));
    header.headerLength = 30 + nameLength + extraLength;
    return header;
}

std::string FolderLocalHeader(const std::string& name) {
    const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    std::string out;
    Put(out, kLocalSignature, 4);
    Put(out, kPlainVersion, 2);
    Put(out, ascii ? 0 : kUtf8NameFlag, 2);
    Put(out, 0, 2);                       // stored
    Put(out, 0, 2);                       // 00:00:00
    Put(out, (0 << 9) | (1 << 5) | 1, 2);  // 1980-01-01, the first date a zip can hold
    Put(out, 0, 12);                      // CRC-32 and both sizes of nothing
    Put(out, name.size(), 2);
    Put(out, 0, 2);
    return out + name;
}

std::string CentralDirectory(const std::vector<CentralEntry>& entries, uint64_t directoryOffset) {
    std::string out;
    for (const CentralEntry& entry : entries) {
        // The zip64 extra field holds, in this order, each value its 32-bit field cannot.
        std::string values, extra;
        for (uint64_t value : {entry.size, entry.compressedSize, entry.offset})
            if (value >= kFull32) Put(values, value, 8);
        const bool zip64 = !values.empty();
        if (zip64) {
            Put(extra, 0x0001, 2);
            Put(extra, values.size(), 2);
            extra += values;
        }
        const uint16_t version = zip64 ? kZip64Version : kPlainVersion;
        Put(out, kCentralSignature, 4);
        Put(out, kMadeByDos | version, 2);
        Put(out, std::max(entry.header.versionNeeded, zip64 ? kZip64Version : uint16_t{0}), 2);
        Put(out, entry.header.flags, 2);
        Put(out, entry.header.method, 2);
        Put(out, entry.header.time, 2);
        Put(out, entry.header.date, 2);
        Put(out, entry.crc32, 4);
        Put(out, std::min(entry.compressedSize, kFull32), 4);
        Put(out, std::min(entry.size, kFull32), 4);
        Put(out, entry.header.name.size(), 2);
        Put(out, extra.size(), 2);
        Put(out, 0, 2);  // comment
        Put(out, 0, 2);  // disk
        Put(out, 0, 2);  // internal attributes
        Put(out, entry.folder ? kDosDirectory : 0, 4);
        Put(out, std::min(entry.offset, kFull32), 4);
        out += entry.header.name;
        out += extra;
    }
    const uint64_t directorySize = out.size();
    const uint64_t count = entries.size();
    if (count >= kFull16 || directorySize >= kFull32 || directoryOffset >= kFull32) {
        const uint64_t recordOffset = directoryOffset + directorySize;
        Put(out, kZip64EndSignature, 4);
        Put(out, 44, 8);  // the record's size after this field
        Put(out, kMadeByDos | kZip64Version, 2);
        Put(out, kZip64Version, 2);
        Put(out, 0, 8);  // this disk, the directory's disk
        Put(out, count, 8);
        Put(out, count, 8);
        Put(out, directorySize, 8);
        Put(out, directoryOffset, 8);
        Put(out, kZip64LocatorSignature, 4);
        Put(out, 0, 4);
        Put(out, recordOffset, 8);
        Put(out, 1, 4);  // disks in all
    }
    Put(out, kEndSignature, 4);
    Put(out, 0, 4);  // this disk, the directory's disk
    Put(out, std::min(count, kFull16), 2);
    Put(out, std::min(count, kFull16), 2);
    Put(out, std::min(directorySize, kFull32), 4);
    Put(out, std::min(directoryOffset, kFull32), 4);
    Put(out, 0, 2);  // comment
    return out;
}
