#include "tool/zip_listing.h"

#include <algorithm>
#include <iterator>

#include "patch/manifest.h"
#include "patch/zip_format.h"

namespace {

std::string Normalised(std::string text) {
    for (char& c : text) {
        if (c == '\\') c = '/';
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return WithoutLeadingDotSlash(text);
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
            nested = entry.name.substr(entry.name.size() - name.size(), name.size() - client.size());
    }
    return nested;
}
