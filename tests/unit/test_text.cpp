#include <gtest/gtest.h>

#include "app/text.h"

namespace {

TEST(Text, TrimRemovesOnlyUnitsUpToSpaceAtTheEnds) {
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"", L""},
        {L" \t\r\n ", L""},
        {std::wstring(L"\0\x01" L"1.4.2\x1f\x20", 7), L"1.4.2"},
        {L"  two words\r\nb\r\n", L"two words\r\nb"},
        // Units above U+0020 stay, the sign-extended high bytes included.
        {L"\u00a0\ufeffx\uff80\uffff", L"\u00a0\ufeffx\uff80\uffff"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(Trim(in), out) << testing::PrintToString(in);
    EXPECT_EQ(TrimBytes(std::string("\0 \r\n\xef\xbb\xbf 1.0\xa0\t", 12)), "\xef\xbb\xbf 1.0\xa0");
}

TEST(Text, StrictUtf8) {
    for (const char* valid : {"", "abc", "\xc2\x80", "S\xc3\xa3o", "\xe0\xa0\x80", "\xe2\x82\xac", "\xed\x9f\xbf",
                              "\xee\x80\x80", "\xef\xbb\xbf", "\xf0\x90\x80\x80", "\xf4\x8f\xbf\xbf"})
        EXPECT_TRUE(IsValidUtf8(valid)) << testing::PrintToString(valid);
    for (const char* invalid : {
             "S\xe3o",                            // Latin-1
             "\x80", "\xbf", "\xc3", "\xe2\x82",  // lone continuation, cut sequences
             "\xc3(", "\xe2\x28\xa1",             // a sequence broken by ASCII
             "\xc0\xaf", "\xc1\xbf", "\xe0\x9f\xbf", "\xf0\x8f\xbf\xbf",  // overlong
             "\xed\xa0\x80", "\xed\xbf\xbf",                              // surrogates
             "\xf4\x90\x80\x80", "\xf5\x80\x80\x80", "\xff", "\xfe"})     // beyond U+10FFFF
        EXPECT_FALSE(IsValidUtf8(invalid)) << testing::PrintToString(invalid);
}

TEST(Text, DecodeTextDecodesUtf8ElseWidens) {
    const std::pair<std::string, std::wstring> cases[] = {
        {"S\xc3\xa3o Paulo \xe2\x82\xac", L"S\u00e3o Paulo \u20ac"},
        {"\xef\xbb\xbf[Launcher]", L"[Launcher]"},
        {"\xef\xbb\xbf\xef\xbb\xbf", L"\ufeff"},  // one mark dropped, only at the start
        {"x\xef\xbb\xbf", L"x\ufeff"},
        {"\xf0\x9f\x8e\xae", L"\xd83c\xdfae"},  // outside the BMP: a surrogate pair
        {std::string("A\0\x7f\x80\xff", 5), std::wstring(L"A\0\x7f\uff80\uffff", 5)},  // bytes sign-extended
        {"\xef\xbb\xbfS\xe3o", L"\uffef\uffbb\uffbfS\uffe3o"},  // not UTF-8: the mark is widened too
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(DecodeText(in), out) << testing::PrintToString(in);
}

}  // namespace
