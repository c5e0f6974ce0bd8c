#include "verify/launcher_image.h"

#include <limits>
#include <vector>

namespace {

// Little-endian fields at offsets that come from the data itself: a read out of range yields 0
// and marks the whole walk as failed, so a caller checks `ok` once after a run of reads.
struct Bytes {
    std::string_view data;
    bool ok = true;
    uint32_t Read(size_t at, size_t size) {
        if (at > data.size() || size > data.size() - at) {
            ok = false;
            return 0;
        }
        uint32_t value = 0;
        for (size_t i = size; i-- > 0;) value = (value << 8) | static_cast<uint8_t>(data[at + i]);
        return value;
    }
    uint32_t U16(size_t at) { return Read(at, 2); }
    uint32_t U32(size_t at) { return Read(at, 4); }
};

constexpr uint32_t kMz = 0x5A4D, kPe = 0x00004550, kAmd64 = 0x8664, kPe32Plus = 0x20B, kGui = 2;
constexpr uint32_t kExecutable = 0x0002, kDll = 0x2000, kRtVersion = 16, kSubdirectory = 0x80000000u;

struct Section {
    uint32_t address, rawSize, rawOffset;
};

struct Headers {
    uint32_t machine = 0, characteristics = 0, magic = 0, subsystem = 0, resourceRva = 0;
    std::vector<Section> sections;
};

std::optional<Headers> ReadHeaders(std::string_view image) {
    Bytes in{image};
    if (in.U16(0) != kMz) return std::nullopt;
    const size_t pe = in.U32(0x3C);
    if (in.U32(pe) != kPe) return std::nullopt;
    const size_t coff = pe + 4, optional = coff + 20;
    Headers h;
    h.machine = in.U16(coff);
    const uint32_t sectionCount = in.U16(coff + 2), optionalSize = in.U16(coff + 16);
    h.characteristics = in.U16(coff + 18);
    h.magic = in.U16(optional);
    if (h.magic == kPe32Plus) {
        h.subsystem = in.U16(optional + 68);
        // The resource table is the third data directory (of NumberOfRvaAndSizes, from offset 112).
        if (in.U32(optional + 108) > 2 && optionalSize >= 112 + 3 * 8) h.resourceRva = in.U32(optional + 128);
    }
    for (size_t i = 0, at = optional + optionalSize; i < sectionCount && in.ok; ++i, at += 40)
        h.sections.push_back({in.U32(at + 12), in.U32(at + 16), in.U32(at + 20)});
    if (!in.ok) return std::nullopt;
    return h;
}

// Where the bytes at `rva` lie in the file, when a section holds them there.
std::optional<size_t> FileOffset(const Headers& h, uint32_t rva) {
    for (const Section& s : h.sections)
        if (rva >= s.address && rva - s.address < s.rawSize) return size_t{s.rawOffset} + (rva - s.address);
    return std::nullopt;
}

// The offset field of the entry of resource directory `dir` named by `id`, or of its first
// entry when `id` is 0.
std::optional<uint32_t> DirectoryEntry(Bytes& in, size_t dir, uint32_t id) {
    const size_t count = size_t{in.U16(dir + 12)} + in.U16(dir + 14);
    for (size_t i = 0; i < count && in.ok; ++i)
        if (id == 0 || in.U32(dir + 16 + 8 * i) == id) {
            const uint32_t field = in.U32(dir + 16 + 8 * i + 4);
            if (in.ok) return field;
        }
    return std::nullopt;
}

size_t Align4(size_t at) { return (at + 3) & ~size_t{3}; }

// One node of a VS_VERSIONINFO tree: wLength, wValueLength, wType, the key, then the value and
// the children, each on a 4-byte boundary from the start of the resource.
struct Block {
    size_t end = 0, valueAt = 0, childrenAt = 0;
    std::wstring key;
};

std::optional<Block> ReadBlock(Bytes& in, size_t at, size_t limit) {
    const size_t length = in.U16(at);
    const uint32_t valueLength = in.U16(at + 2), type = in.U16(at + 4);
    if (!in.ok || length < 6 || length > limit - at) return std::nullopt;
    Block b;
    b.end = at + length;
    size_t i = at + 6;
    for (; i + 2 <= b.end && in.U16(i) != 0; i += 2) b.key.push_back(static_cast<wchar_t>(in.U16(i)));
    if (i + 2 > b.end) return std::nullopt;  // a key without its terminator
    b.valueAt = Align4(i + 2);
    b.childrenAt = Align4(b.valueAt + (type == 1 ? 2 * valueLength : valueLength));  // text counts in units
    return b;
}

// Calls `visit` for each child of `parent` until it returns true; true when one did.
template <class Visit>
bool AnyChild(Bytes& in, const Block& parent, Visit visit) {
    for (size_t at = parent.childrenAt; at < parent.end;) {
        const std::optional<Block> child = ReadBlock(in, at, parent.end);
        if (!child) return false;
        if (visit(*child)) return true;
        at = Align4(child->end);
    }
    return false;
}

}  // namespace

bool IsWindowsGuiX64(std::string_view image) {
    const std::optional<Headers> h = ReadHeaders(image);
    return h && h->machine == kAmd64 && h->magic == kPe32Plus && h->subsystem == kGui &&
           (h->characteristics & kExecutable) && !(h->characteristics & kDll);
}

std::optional<std::string_view> VersionResource(std::string_view image) {
    const std::optional<Headers> h = ReadHeaders(image);
    const std::optional<size_t> root = h && h->resourceRva ? FileOffset(*h, h->resourceRva) : std::nullopt;
    if (!root) return std::nullopt;
    Bytes in{image};
    // Type, then name, then language: the first version resource of any name and language.
    std::optional<uint32_t> entry = DirectoryEntry(in, *root, kRtVersion);
    for (int level = 0; level < 2 && entry && (*entry & kSubdirectory); ++level)
        entry = DirectoryEntry(in, *root + (*entry & ~kSubdirectory), 0);
    if (!entry || (*entry & kSubdirectory)) return std::nullopt;
    const uint32_t dataRva = in.U32(*root + *entry), size = in.U32(*root + *entry + 4);
    const std::optional<size_t> data = in.ok ? FileOffset(*h, dataRva) : std::nullopt;
    if (!data || *data > image.size() || size > image.size() - *data) return std::nullopt;
    return image.substr(*data, size);
}

std::optional<std::wstring> VersionString(std::string_view resource, std::wstring_view key) {
    Bytes in{resource};
    const std::optional<Block> root = ReadBlock(in, 0, resource.size());
    if (!root || root->key != L"VS_VERSION_INFO") return std::nullopt;
    std::optional<std::wstring> found;
    AnyChild(in, *root, [&](const Block& info) {
        return info.key == L"StringFileInfo" && AnyChild(in, info, [&](const Block& table) {
                   return AnyChild(in, table, [&](const Block& entry) {
                       if (entry.key != key) return false;
                       found.emplace();
                       for (size_t i = entry.valueAt; i + 2 <= entry.end && in.U16(i) != 0; i += 2)
                           found->push_back(static_cast<wchar_t>(in.U16(i)));
                       return true;
                   });
               });
    });
    return found;
}

std::optional<int32_t> LauncherBuildOf(std::string_view image) {
    const std::optional<std::string_view> resource = VersionResource(image);
    const std::optional<std::wstring> text = resource ? VersionString(*resource, L"LauncherBuild") : std::nullopt;
    if (!text || text->empty() || text->size() > 10) return std::nullopt;
    int64_t build = 0;
    for (wchar_t c : *text) {
        if (c < L'0' || c > L'9') return std::nullopt;
        build = build * 10 + (c - L'0');
    }
    if (build > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return static_cast<int32_t>(build);
}

LauncherVerdict JudgeLauncher(std::string_view image, int32_t minBuild) {
    if (!IsWindowsGuiX64(image)) return LauncherVerdict::NotAProgram;
    const std::optional<int32_t> build = LauncherBuildOf(image);
    if (!build) return LauncherVerdict::NoBuild;
    return *build < minBuild ? LauncherVerdict::TooOld : LauncherVerdict::Accepted;
}
