#include "net/ranges.h"

#include <optional>
#include <vector>

#include "net/headers.h"
#include "net/rate_limit.h"
#include "net/request.h"

namespace {
const DWORD kBodyChunk = 65536;
}

std::wstring RangeHeaders(const ByteRange& range, const std::wstring& validator) {
    std::wstring headers = L"Range: bytes=" + std::to_wstring(range.first) + L"-" + std::to_wstring(range.last) + L"\r\n";
    if (!validator.empty()) headers += L"If-Range: " + validator + L"\r\n";
    return headers;
}

bool AnswersRange(DWORD status, const std::wstring& contentRange, const ByteRange& range) {
    const std::optional<ContentRange> answer = ParseContentRange(contentRange);
    return status == 206 && answer && answer->first == range.first && answer->last == range.last &&
           answer->total == range.total;
}

RangeOutcome FetchRange(HINTERNET session, const std::wstring& url, const ByteRange& range, std::wstring& validator,
                        DWORD stallMs, const RangeSink& sink) {
    const Timeouts timeouts = {kDefaultTimeouts.connect, kDefaultTimeouts.send, stallMs};
    const Response response = OpenUrl(session, url, timeouts, RangeHeaders(range, validator));
    if (!response) return RangeOutcome::Unanswered;
    if (AnswersHtml(response.get()) ||
        !AnswersRange(QueryStatus(response.get()), QueryHeader(response.get(), HTTP_QUERY_CONTENT_RANGE), range))
        return RangeOutcome::Refused;
    if (validator.empty())
        validator = RangeValidator(QueryHeader(response.get(), HTTP_QUERY_ETAG),
                                   QueryHeader(response.get(), HTTP_QUERY_LAST_MODIFIED));

    std::vector<char> buffer(kBodyChunk);
    for (uint64_t left = range.last - range.first + 1; left > 0;) {
        DWORD got = 0;
        const DWORD want = left < kBodyChunk ? static_cast<DWORD>(left) : kBodyChunk;
        if (!ReadCapped(response.get(), buffer.data(), want, &got) || got == 0) return RangeOutcome::Dropped;
        if (!sink(buffer.data(), got)) return RangeOutcome::Stopped;
        left -= got;
    }
    return RangeOutcome::Complete;
}
