#include "tool/hints.h"

#include <algorithm>
#include <utility>

#include "app/text.h"

namespace {

wchar_t Fold(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

size_t EditDistance(const std::wstring& a, const std::wstring& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (Fold(a[i - 1]) == Fold(b[j - 1]) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::optional<std::wstring> ClosestKey(const std::wstring& key, const std::vector<std::wstring>& known) {
    std::optional<std::wstring> best;
    std::pair<size_t, size_t> bestScore{SIZE_MAX, 0};  // distance, then the longer shared start wins
    for (const std::wstring& candidate : known) {
        const size_t distance = EditDistance(key, candidate);
        size_t shared = 0;
        while (shared < key.size() && shared < candidate.size() && Fold(key[shared]) == Fold(candidate[shared])) ++shared;
        const std::pair<size_t, size_t> score{distance, SIZE_MAX - shared};
        if (distance <= std::max<size_t>(2, candidate.size() / 3) && score < bestScore) {
            best = candidate;
            bestScore = score;
        }
    }
    return best;
}

bool IsInvisible(wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0xAD || c == 0x34F || c == 0x180E ||
           (c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x206F) ||
           c == 0x3000 || c == 0xFEFF || c == 0xFFFD;
}

std::wstring EscapeInvisible(const std::wstring& text) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring out;
    for (wchar_t c : text) {
        if (!IsInvisible(c) && c != L'\\') {
            out.push_back(c);
            continue;
        }
        out += L"\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kHex[(c >> shift) & 0xF]);
    }
    return out;
}

std::wstring Quoted(const std::wstring& text) {
    const std::wstring shown = EscapeInvisible(text);
    return L"\"" + (shown.size() > 60 ? shown.substr(0, 60) + L"\"..." : shown + L"\"");
}

TextEncoding DetectEncoding(const std::string& bytes) {
    if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0) return TextEncoding::Utf16;
    if (!IsValidUtf8(bytes)) return TextEncoding::Other;
    if (HasUtf8Bom(bytes)) return TextEncoding::Utf8Bom;
    const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? TextEncoding::Ascii : TextEncoding::Utf8;
}

std::wstring EncodingName(TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::Ascii: return L"ASCII";
        case TextEncoding::Utf8: return L"UTF-8";
        case TextEncoding::Utf8Bom: return L"UTF-8 com BOM";
        case TextEncoding::Utf16: return L"UTF-16";
        default: return L"não UTF-8 (ANSI?)";
    }
}

std::wstring DecodeForDisplay(const std::string& bytes) {
    return (HasUtf8Bom(bytes) ? L"\uFEFF" : L"") + DecodeText(bytes);
}

std::wstring HtmlTitle(const std::string& page) {
    std::string lower = page;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return static_cast<char>(Fold(c)); });
    const size_t open = lower.find("<title");
    const size_t start = open == std::string::npos ? open : lower.find('>', open);
    const size_t end = start == std::string::npos ? start : lower.find("</title", start);
    if (end == std::string::npos) return std::wstring();
    std::wstring title;
    for (wchar_t c : DecodeForDisplay(page.substr(start + 1, end - start - 1))) {
        const bool blank = c <= 0x20;
        if (!blank) title.push_back(c);
        else if (!title.empty() && title.back() != L' ') title.push_back(L' ');
    }
    return Trim(title);
}
