#include <gtest/gtest.h>

#include "net/download.h"

namespace {

// Every request bypasses the caches (a stale version text would hide an update) and keeps the
// connection; only an exact "https://" prefix asks for TLS.
TEST(Download, RequestFlags) {
    const DWORD always = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION |
                         INTERNET_FLAG_PRAGMA_NOCACHE;
    EXPECT_EQ(RequestFlags(L"https://example.test/a"), always | INTERNET_FLAG_SECURE);
    for (const wchar_t* url : {L"http://example.test/a", L"HTTPS://example.test/a", L"https:/x", L""})
        EXPECT_EQ(RequestFlags(url), always) << testing::PrintToString(std::wstring(url));
}

}  // namespace
