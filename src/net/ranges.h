// Fetching single byte ranges of one file, each answer checked against what was asked.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <functional>
#include <string>

// Bytes first..last of a file of `total` bytes.
struct ByteRange {
    uint64_t first = 0;
    uint64_t last = 0;
    uint64_t total = 0;
};

enum class RangeOutcome {
    Complete,    // every asked byte went to the sink
    Unanswered,  // nothing answered: asking again may mend it once the server has shown it answers
    Dropped,     // the body broke off or stalled: asking again may mend it
    Refused,     // an answer other than the asked range (200, another Content-Range, 416, an error)
    Stopped,     // the sink refused a chunk
};

// Receives the body in order; false stops the transfer.
using RangeSink = std::function<bool(const char* data, size_t size)>;

// Asks `url` for `range` alone. With an empty `validator`, the answer's own (a strong ETag, else
// Last-Modified) is kept there; with one, it goes out as If-Range, so a file replaced on the
// server answers whole (200) and is refused instead of mixing two files. A body that sends no
// byte for `stallMs` counts as dropped.
RangeOutcome FetchRange(HINTERNET session, const std::wstring& url, const ByteRange& range, std::wstring& validator,
                        DWORD stallMs, const RangeSink& sink);

// The request headers of one single-range request.
std::wstring RangeHeaders(const ByteRange& range, const std::wstring& validator);
// True for a 206 whose Content-Range is exactly `range`, total included.
bool AnswersRange(DWORD status, const std::wstring& contentRange, const ByteRange& range);
