#include <gtest/gtest.h>

#include "net/drive.h"

namespace {

// "id=" anywhere (up to the next &) wins over "/d/" (up to the next /); no other form counts.
TEST(DriveId, LinkForms) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"https://drive.google.com/file/d/1AbC", L"1AbC"},
        {L"https://drive.google.com/file/d/1AbC?usp=sharing#top", L"1AbC?usp=sharing#top"},
        {L"https://drive.google.com/open?id=1AbC", L"1AbC"},
        {L"https://drive.google.com/uc?id=1AbC&export=download", L"1AbC"},
        {L"https://drive.google.com/file/d/1AbC/view?uuid=u-7&x=1", L"u-7"},
        {L"https://drive.google.com/file/d/1AbC/view?id=2XyZ", L"2XyZ"},
        {L"https://drive.google.com/open?id=", L""}, {L"https://drive.google.com/file/d/", L""},
        {L"https://drive.google.com/open?ID=1AbC", L""},
    };
    for (const auto& [url, id] : cases) EXPECT_EQ(ExtractDriveFileId(url), id) << url;
}

// Plain, case-sensitive substring tests for the two hosts.
TEST(DriveId, Detection) {
    EXPECT_TRUE(IsDriveUrl(L"https://mirror.example/get?from=drive.google.com/file/d/1AbC"));
    for (const wchar_t* url : {L"https://DRIVE.GOOGLE.COM/file/d/1AbC/view", L"https://Docs.Google.com/uc?id=1AbC",
                               L"https://drive.usercontent.google.com/download?id=1AbC", L"https://example.com/u.zip"})
        EXPECT_FALSE(IsDriveUrl(url)) << url;
}

TEST(DrivePage, FormLink) {
    struct Case {
        const char* name;
        std::string page;
        std::optional<std::wstring> link;
    } cases[] = {
        {"action at the very end", "<form action=\"", std::nullopt},
        {"action never closed", "<form action=\"https://x/y?a=1", std::nullopt},
        {"marker is case-sensitive", "ACTION=\"https://h/1\"", std::nullopt},
        {"empty action", "<form action=\"\">", L""},
        {"one pass only", "action=\"a&amp;amp;b&amp\"", L"a&amp;b&amp"},
        {"uuid before the form", "<input name=\"uuid\" value=\"u-9\"><form action=\"https://h/d?id=1\">",
         L"https://h/d?id=1&uuid=u-9"},
        {"uuid kept escaped", "action=\"https://h/d\" name=\"uuid\" value=\"a&amp;b\"", L"https://h/d&uuid=a&amp;b"},
        {"empty uuid", "action=\"https://h/d\" name=\"uuid\" value=\"\"", L"https://h/d"},
        {"uuid never closed", "action=\"https://h/d\" name=\"uuid\" value=\"u1", L"https://h/d"},
        {"first action wins", "action=\"https://h/1\" action=\"https://h/2\"", L"https://h/1"},
        {"high bytes widened", "action=\"h/\x80\xc3\xa9\xff\"", L"h/\uff80\uffc3\uffa9\uffff"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormLinkFromPage(c.page), c.link) << c.name;
}

}  // namespace
