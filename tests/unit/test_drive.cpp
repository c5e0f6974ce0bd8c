#include <gtest/gtest.h>

#include "net/drive.h"

namespace {

TEST(DriveId, LinkForms) {
    struct Case {
        const wchar_t* url;
        const wchar_t* id;
    } cases[] = {
        {L"https://drive.google.com/file/d/1AbC-x_9/view?usp=sharing", L"1AbC-x_9"},
        {L"https://drive.google.com/file/d/1AbC", L"1AbC"},
        {L"https://drive.google.com/file/d/1AbC?usp=sharing#top", L"1AbC?usp=sharing#top"},
        {L"https://drive.google.com/open?id=1AbC", L"1AbC"},
        {L"https://drive.google.com/uc?id=1AbC&export=download", L"1AbC"},
        {L"https://drive.google.com/file/d/1AbC/view?uuid=u-7&x=1", L"u-7"},
        {L"https://drive.google.com/file/d/1AbC/view?id=2XyZ", L"2XyZ"},
        {L"https://drive.google.com/open?id=", L""},
        {L"https://drive.google.com/file/d/", L""},
        {L"https://drive.google.com/drive/my-drive", L""},
        {L"https://drive.google.com/open?ID=1AbC", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(ExtractDriveFileId(c.url), c.id) << c.url;
}

TEST(DriveId, Detection) {
    struct Case {
        const wchar_t* url;
        bool drive;
    } cases[] = {
        {L"https://drive.google.com/file/d/1AbC/view", true},
        {L"https://docs.google.com/uc?id=1AbC", true},
        {L"https://mirror.example/get?from=drive.google.com/file/d/1AbC", true},
        {L"https://DRIVE.GOOGLE.COM/file/d/1AbC/view", false},
        {L"https://Docs.Google.com/uc?id=1AbC", false},
        {L"https://drive.usercontent.google.com/download?id=1AbC", false},
        {L"https://example.com/update.zip", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsDriveUrl(c.url), c.drive) << c.url;
}

TEST(DrivePage, FormLink) {
    struct Case {
        const char* name;
        std::string page;
        std::optional<std::wstring> link;
    } cases[] = {
        {"no action", "<form method=\"get\"><input name=\"uuid\" value=\"u1\">", std::nullopt},
        {"action at the very end", "<form action=\"", std::nullopt},
        {"action never closed", "<form action=\"https://x/y?a=1", std::nullopt},
        {"empty action", "<form action=\"\">", L""},
        {"empty action with uuid", "<form action=\"\"><input name=\"uuid\" value=\"u1\">", L"&uuid=u1"},
        {"amp unescaped", "<form action=\"https://h/d?id=1&amp;export=download&amp;confirm=t\">",
         L"https://h/d?id=1&export=download&confirm=t"},
        {"one pass only", "action=\"a&amp;amp;b&amp\"", L"a&amp;b&amp"},
        {"uuid before the form", "<input name=\"uuid\" value=\"u-9\"><form action=\"https://h/d?id=1\">",
         L"https://h/d?id=1&uuid=u-9"},
        {"uuid kept escaped", "action=\"https://h/d\" name=\"uuid\" value=\"a&amp;b\"",
         L"https://h/d&uuid=a&amp;b"},
        {"empty uuid", "action=\"https://h/d\" name=\"uuid\" value=\"\"", L"https://h/d"},
        {"uuid never closed", "action=\"https://h/d\" name=\"uuid\" value=\"u1", L"https://h/d"},
        {"first action wins", "action=\"https://h/1\" action=\"https://h/2\"", L"https://h/1"},
        {"marker is case-sensitive", "ACTION=\"https://h/1\"", std::nullopt},
        {"high bytes widened", "action=\"https://h/\x80\xc3\xa9\xff\"",
         std::wstring(L"https://h/") + L"\uff80\uffc3\uffa9\uffff"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormLinkFromPage(c.page), c.link) << c.name;
}

}  // namespace
