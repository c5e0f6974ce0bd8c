#include "net/part_info.h"

#include "net/headers.h"

namespace {

const char kHex[] = "0123456789abcdef";

std::string Escape(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c > L' ' && c <= L'~' && c != L'%') {
            out.push_back(static_cast<char>(c));
            continue;
        }
        out.push_back('%');
        for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(c >> shift) & 0xF]);
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::optional<std::wstring> Unescape(const std::string& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(text[i])));
            continue;
        }
        if (i + 4 >= text.size()) return std::nullopt;
        unsigned value = 0;
        for (int k = 1; k <= 4; ++k) {
            const int digit = HexValue(text[i + k]);
            if (digit < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        out.push_back(static_cast<wchar_t>(value));
        i += 4;
    }
    return out;
}

}  // namespace

std::string FormatPartInfo(const PartInfo& info) {
    return "url=" + Escape(info.url) + "\nversion=" + Escape(info.version) + "\nvalidator=" +
           Escape(info.validator) + "\nlength=" + std::to_string(info.length) + "\n";
}

std::optional<PartInfo> ParsePartInfo(const std::string& text) {
    const char* keys[] = {"url=", "version=", "validator=", "length="};
    std::wstring values[4];
    size_t at = 0;
    for (int k = 0; k < 4; ++k) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos || text.compare(at, std::char_traits<char>::length(keys[k]), keys[k]) != 0)
            return std::nullopt;
        const size_t start = at + std::char_traits<char>::length(keys[k]);
        const std::optional<std::wstring> value = Unescape(text.substr(start, end - start));
        if (!value) return std::nullopt;
        values[k] = *value;
        at = end + 1;
    }
    const std::optional<uint64_t> length = ParseByteCount(values[3]);
    if (at != text.size() || !length) return std::nullopt;
    return PartInfo{values[0], values[1], values[2], *length};
}
