#include <gtest/gtest.h>

#include "update/signed_text.h"

namespace {

// What is signed is every byte before the last line, and only a last line counts.
TEST(SignedText, SplitsOffOnlyAFinalSignatureLine) {
    struct Case {
        std::string text;
        bool isSigned;
        std::string signedBytes, signature;
    } cases[] = {
        {"\xef\xbb\xbf[Launcher]\r\nA=1\r\n;sig=QUJD\r\n", true, "\xef\xbb\xbf[Launcher]\r\nA=1\r\n", "QUJD"},
        {"[Launcher]\nA=1\n;sig=QUJD", true, "[Launcher]\nA=1\n", "QUJD"},
        {";sig=QUJD\n", true, "", "QUJD"},
        {"A=1\n;sig=QUJD\n\n", false},        // a blank line after it: not the last line
        {"A=1\n;sig=QUJD\nB=2\n", false},     // a line that is not last
        {"A=1\n ;sig=QUJD\n", false},         // not at the line's start
        {"A=1\n;Sig=QUJD\n", false},
        {"", false},
    };
    for (const auto& c : cases) {
        const auto split = SplitSignedText(c.text);
        ASSERT_EQ(split.has_value(), c.isSigned) << c.text;
        if (c.isSigned) {
            EXPECT_EQ(std::make_pair(split->signedBytes, split->signature), std::make_pair(c.signedBytes, c.signature));
        }
    }
}

// Signing again replaces the old line; the text's own line breaks are kept and the new line
// ends like the others.
TEST(SignedText, AppendsOrReplacesTheLine) {
    EXPECT_EQ(WithSignatureLine("[Launcher]\r\nA=1", "X"), "[Launcher]\r\nA=1\r\n;sig=X\r\n");
    EXPECT_EQ(WithSignatureLine("[Launcher]\nA=1\n;sig=OLD\n", "X"), "[Launcher]\nA=1\n;sig=X\n");
    EXPECT_EQ(WithSignatureLine("", "X"), ";sig=X\n");
    const std::string signedText = WithSignatureLine("a\nb", "X");
    EXPECT_EQ(SplitSignedText(signedText)->signedBytes, "a\nb\n");
}

}  // namespace
