#include "app/text.h"

#include <cstdint>

namespace {

constexpr size_t kIniValueUnits = 2047;  // the launcher's 2048-unit buffer less its terminator

bool Blank(wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r') || c == 0x1a; }

std::wstring TrimBlanks(const std::wstring& text) {
    size_t first = 0, last = text.size();
    while (first < last && Blank(text[first])) ++first;
    while (last > first && Blank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

wchar_t FoldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool SameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

// Length of the UTF-8 sequence starting at `at` and its code point; 0 when it is not valid.
size_t Utf8Sequence(const std::string& s, size_t at, uint32_t& code) {
    const auto byte = [&](size_t i) { return at + i < s.size() ? static_cast<uint8_t>(s[at + i]) : 0u; };
    const auto cont = [&](size_t i) { return (byte(i) & 0xC0) == 0x80; };
    const uint32_t b0 = byte(0);
    if (b0 < 0x80) {
        code = b0;
        return 1;
    }
    // The second byte's range rules out overlong forms (E0, F0), surrogates (ED) and code
    // points above U+10FFFF (F4).
    uint8_t low = 0x80, high = 0xBF;
    size_t length;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        code = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        code = b0 & 0x0F;
        if (b0 == 0xE0) low = 0xA0;
        if (b0 == 0xED) high = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        code = b0 & 0x07;
        if (b0 == 0xF0) low = 0x90;
        if (b0 == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 1; i < length; ++i) {
        if (!cont(i)) return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    return length;
}

}  // namespace

std::wstring Trim(std::wstring text) {
    size_t first = 0;
    while (first < text.size() && static_cast<unsigned>(text[first]) <= 0x20) ++first;
    size_t last = text.size();
    while (last > first && static_cast<unsigned>(text[last - 1]) <= 0x20) --last;
    return text.substr(first, last - first);
}

std::string TrimBytes(std::string bytes) {
    size_t first = 0;
    while (first < bytes.size() && static_cast<unsigned char>(bytes[first]) <= 0x20) ++first;
    size_t last = bytes.size();
    while (last > first && static_cast<unsigned char>(bytes[last - 1]) <= 0x20) --last;
    return bytes.substr(first, last - first);
}

std::wstring Widen(const std::string& bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    // Sign extension keeps a byte recoverable from its unit: 0x80..0xFF map to U+FF80..U+FFFF.
    for (char c : bytes) out.push_back(static_cast<wchar_t>(static_cast<int16_t>(static_cast<signed char>(c))));
    return out;
}

bool IsValidUtf8(const std::string& bytes) {
    uint32_t code = 0;
    for (size_t at = 0; at < bytes.size();) {
        const size_t length = Utf8Sequence(bytes, at, code);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

bool HasUtf8Bom(const std::string& bytes) { return bytes.compare(0, 3, "\xEF\xBB\xBF") == 0; }

std::wstring DecodeText(const std::string& bytes) {
    if (!IsValidUtf8(bytes)) return Widen(bytes);
    std::wstring out;
    out.reserve(bytes.size());
    uint32_t code = 0;
    for (size_t at = HasUtf8Bom(bytes) ? 3 : 0; at < bytes.size();) {
        at += Utf8Sequence(bytes, at, code);
        if (code < 0x10000) {
            out.push_back(static_cast<wchar_t>(code));
        } else {
            code -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (code & 0x3FF)));
        }
    }
    return out;
}

bool ReadsAsUtf8Ini(const std::string& bytes) {
    if (!IsValidUtf8(bytes)) return false;
    if (HasUtf8Bom(bytes)) return true;
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}

std::optional<std::vector<IniEntry>> IniSection(const std::wstring& text, const std::wstring& section) {
    std::optional<std::vector<IniEntry>> entries;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = TrimBlanks(text.substr(start, end - start));
        start = end + 1;

        const size_t close = line.find(L']');
        if (!line.empty() && line[0] == L'[' && close != std::wstring::npos) {
            if (entries) break;  // only the first section of that name counts
            if (SameName(TrimBlanks(line.substr(1, close - 1)), section)) entries.emplace();
            continue;
        }
        if (!entries || line.empty() || line[0] == L';') continue;
        const size_t eq = line.find(L'=');
        entries->push_back({TrimBlanks(line.substr(0, eq)),
                            eq == std::wstring::npos ? std::wstring() : TrimBlanks(line.substr(eq + 1)),
                            eq != std::wstring::npos});
    }
    return entries;
}

std::optional<std::wstring> IniValue(const std::wstring& text, const std::wstring& section, const std::wstring& key) {
    for (const IniEntry& entry : IniSection(text, section).value_or(std::vector<IniEntry>())) {
        if (!SameName(entry.key, key)) continue;
        if (!entry.hasValue) return std::nullopt;  // a bare name reads as missing
        std::wstring value = entry.value;
        if (value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0])
            value = value.substr(1, value.size() - 2);
        return value.substr(0, kIniValueUnits);
    }
    return std::nullopt;
}

namespace {

bool HasPrefixIgnoringCase(const std::wstring& text, const wchar_t* prefix) {
    size_t i = 0;
    for (; prefix[i]; ++i) {
        if (i >= text.size()) return false;
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

bool IsWebUrl(const std::wstring& url) {
    return HasPrefixIgnoringCase(url, L"http://") || HasPrefixIgnoringCase(url, L"https://");
}

std::wstring SiteToOpen(const std::wstring& site) {
    if (IsWebUrl(site)) return site;
    // A bare host name, then nothing, a path, a query, a fragment or a port: a web address
    // without its scheme. Whatever else (a drive, a share, another scheme) stays unopened.
    const auto hostChar = [](wchar_t c) {
        return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
               c == L'-';
    };
    size_t i = 0;
    while (i < site.size() && hostChar(site[i])) ++i;
    if (i == 0 || site[0] == L'.' || site[0] == L'-') return std::wstring();
    if (i < site.size() && site[i] == L':') {
        const size_t port = ++i;
        while (i < site.size() && site[i] >= L'0' && site[i] <= L'9') ++i;
        if (i == port) return std::wstring();
    }
    if (i < site.size() && site[i] != L'/' && site[i] != L'?' && site[i] != L'#') return std::wstring();
    return L"http://" + site;
}
