// Reading and writing the few HTTP header values the downloads rely on. Pure text functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A decimal byte count as Content-Length carries it (blanks around allowed); nothing when the
// text is not a plain non-negative number or does not fit in 64 bits.
std::optional<uint64_t> ParseByteCount(const std::wstring& text);

// "bytes <first>-<last>/<total>" of a 206 answer; `total` is 0 when the server wrote "*".
struct ContentRange {
    uint64_t first;
    uint64_t last;
    uint64_t total;
};
std::optional<ContentRange> ParseContentRange(const std::wstring& text);

// True when an Accept-Ranges value offers byte ranges.
bool OffersByteRanges(const std::wstring& acceptRanges);

// The validator If-Range may carry: a strong ETag, else the Last-Modified date (a weak ETag never
// matches a range request); empty when neither is there.
std::wstring RangeValidator(const std::wstring& etag, const std::wstring& lastModified);
// The validator a resumption names the file by: RangeValidator's, else a weak ETag (If-Range with
// it brings the whole file, but it still tells a changed file).
std::wstring ResumeValidator(const std::wstring& etag, const std::wstring& lastModified);

// The request headers that ask for the rest of a file from `offset` on, but only while it is
// still the file `validator` (an ETag or a Last-Modified date) names; without a validator, whatever
// the file now is.
std::wstring ResumeHeaders(uint64_t offset, const std::wstring& validator);
