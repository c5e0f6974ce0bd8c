#include <gtest/gtest.h>

#include "net/headers.h"

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

}  // namespace
