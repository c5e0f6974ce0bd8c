#include <gtest/gtest.h>

#include "net/drive.h"

namespace {

TEST(DrivePage, FormLink) {
    const std::tuple<const char*, std::string, std::optional<std::wstring>> cases[] = {  // name, page, link
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
    for (const auto& [name, page, link] : cases) EXPECT_EQ(FormLinkFromPage(page), link) << name;
}

TEST(DrivePage, Quota) {
    const std::pair<const char*, bool> cases[] = {
        {"<title>Google Drive - Quota exceeded</title><p class=\"uc-error-subcaption\">Too many users have viewed or "
         "downloaded this file recently. Please try accessing the file again later.</p>", true},
        {"<p>Too many users have viewed or downloaded this file recently.</p>", true},  // the title's wording changed
        {"<title>Google Drive - Virus scan warning</title><form action=\"https://h/d\">", false},
        {"<title>Sign-in</title>Too many users", false},
    };
    for (const auto& [page, quota] : cases) EXPECT_EQ(IsDriveQuotaPage(page), quota) << page;
}

}  // namespace
