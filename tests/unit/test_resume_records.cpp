#include <gtest/gtest.h>

#include <vector>

#include "net/headers.h"
#include "net/part_info.h"

namespace {

TEST(Headers, ByteCountsAndRanges) {
    EXPECT_EQ(ParseByteCount(L" 5368709120 "), 5368709120u);
    EXPECT_EQ(ParseByteCount(L"18446744073709551615"), UINT64_MAX);
    for (const wchar_t* bad : {L"", L"-1", L"12x", L"1 2", L"18446744073709551616", L"0x10"})
        EXPECT_EQ(ParseByteCount(bad), std::nullopt) << testing::PrintToString(std::wstring(bad));

    struct Case {
        const wchar_t* text;
        bool ok;
        uint64_t first, last, total;
    } cases[] = {
        {L"bytes 100-199/5368709120", true, 100, 199, 5368709120u},
        {L"bytes 0-0/*", true, 0, 0, 0},
        {L"bytes 5-4/10", false}, {L"bytes 0-10/10", false}, {L"bytes */10", false},
        {L"items 0-1/2", false},  {L"bytes 1-2/3 x", false}, {L"bytes 1-/3", false},
    };
    for (const auto& c : cases) {
        const auto range = ParseContentRange(c.text);
        ASSERT_EQ(range.has_value(), c.ok) << testing::PrintToString(std::wstring(c.text));
        if (c.ok) {
            EXPECT_EQ(std::make_tuple(range->first, range->last, range->total),
                      std::make_tuple(c.first, c.last, c.total));
        }
    }
    for (const wchar_t* yes : {L"bytes", L"Bytes", L"none, bytes"}) EXPECT_TRUE(OffersByteRanges(yes));
    for (const wchar_t* no : {L"", L"none", L"bytesx", L"kilobytes"}) EXPECT_FALSE(OffersByteRanges(no));
}

TEST(PartInfo, RoundTripsAnyTextAndRejectsDamage) {
    const PartInfo info = {L"https://h/u.zip?a=1&b=%20", std::wstring(L"1.0\n\u00e3\uffc3 \0x", 8),
                           L"\"etag with blanks\"", 5368709120u};
    const std::string text = FormatPartInfo(info);
    EXPECT_EQ(text.find_first_of(std::string("\0 \x80", 3)), std::string::npos);  // one plain line per field
    const auto back = ParsePartInfo(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(std::make_tuple(back->url, back->version, back->validator, back->length),
              std::make_tuple(info.url, info.version, info.validator, info.length));
    for (const std::string& bad : std::vector<std::string>{std::string(), text.substr(0, text.size() - 1), text + "x",
                                   "url=a\nversion=b\nvalidator=%00\nlength=1\n",
                                   "url=a\nversion=b\nvalidator=c\nlength=-1\n",
                                   "version=b\nurl=a\nvalidator=c\nlength=1\n"})
        EXPECT_EQ(ParsePartInfo(bad), std::nullopt) << bad;
}

}  // namespace
