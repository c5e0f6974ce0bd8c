#include "net/headers.h"

#include <cwctype>

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Reads digits at `at`; false when there are none or the value overflows.
bool ReadNumber(const std::wstring& text, size_t& at, uint64_t* value) {
    const size_t start = at;
    uint64_t result = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        const uint64_t digit = static_cast<uint64_t>(text[at] - L'0');
        if (result > (UINT64_MAX - digit) / 10) return false;
        result = result * 10 + digit;
    }
    *value = result;
    return at > start;
}

void SkipBlanks(const std::wstring& text, size_t& at) {
    while (at < text.size() && (text[at] == L' ' || text[at] == L'\t')) ++at;
}

}  // namespace

std::optional<uint64_t> ParseByteCount(const std::wstring& text) {
    size_t at = 0;
    uint64_t value = 0;
    SkipBlanks(text, at);
    if (!ReadNumber(text, at, &value)) return std::nullopt;
    SkipBlanks(text, at);
    if (at != text.size()) return std::nullopt;
    return value;
}

std::optional<ContentRange> ParseContentRange(const std::wstring& text) {
    size_t at = 0;
    SkipBlanks(text, at);
    if (text.compare(at, 6, L"bytes ") != 0) return std::nullopt;
    at += 6;
    SkipBlanks(text, at);
    ContentRange range = {};
    if (!ReadNumber(text, at, &range.first) || at >= text.size() || text[at++] != L'-') return std::nullopt;
    if (!ReadNumber(text, at, &range.last) || at >= text.size() || text[at++] != L'/') return std::nullopt;
    if (at < text.size() && text[at] == L'*') {
        ++at;
    } else if (!ReadNumber(text, at, &range.total) || range.last >= range.total) {
        return std::nullopt;
    }
    SkipBlanks(text, at);
    if (at != text.size() || range.last < range.first) return std::nullopt;
    return range;
}

bool OffersByteRanges(const std::wstring& acceptRanges) {
    // A list such as "bytes" or "none"; the unit is matched without letter case.
    std::wstring lower;
    for (wchar_t c : acceptRanges) lower.push_back(static_cast<wchar_t>(std::towlower(c)));
    for (size_t at = 0; (at = lower.find(L"bytes", at)) != std::wstring::npos; at += 5) {
        const bool startsToken = at == 0 || lower[at - 1] == L',' || lower[at - 1] == L' ';
        const bool endsToken = at + 5 == lower.size() || lower[at + 5] == L',' || lower[at + 5] == L' ';
        if (startsToken && endsToken) return true;
    }
    return false;
}

std::wstring RangeValidator(const std::wstring& etag, const std::wstring& lastModified) {
    if (!etag.empty() && etag.compare(0, 2, L"W/") != 0) return etag;
    return lastModified;
}

std::wstring ResumeValidator(const std::wstring& etag, const std::wstring& lastModified) {
    const std::wstring validator = RangeValidator(etag, lastModified);
    return validator.empty() ? etag : validator;
}

std::wstring ResumeHeaders(uint64_t offset, const std::wstring& validator) {
    const std::wstring range = L"Range: bytes=" + std::to_wstring(offset) + L"-\r\n";
    return validator.empty() ? range : range + L"If-Range: " + validator + L"\r\n";
}
