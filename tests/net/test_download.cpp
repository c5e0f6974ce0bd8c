#include <gtest/gtest.h>

#include "app/state.h"
#include "fixture.h"
#include "net/download.h"
#include "test_support.h"

namespace {

const char kOld[] = "previous contents";

struct DownloadTest : testing::Test {
    TempDir dir;
    std::wstring dest;
    ProgressLog log;
    void SetUp() override {
        dest = dir / L"out.bin";
        ResetRequests();
    }
};

TEST_F(DownloadTest, ResponsesAndWhatTheyLeave) {
    enum class After { Body, Prefix, Untouched, Deleted };
    struct Case {
        const char* name;
        std::string script;
        bool ok;
        After after;
        std::string body;  // what the file holds for After::Body; a non-empty start of it for Prefix
    } cases[] = {
        {"plain", R"({"type": "text/plain", "body": "version 1.4.2"})", true, After::Body, "version 1.4.2"},
        {"empty body", R"({"body": ""})", false, After::Body, ""},
        {"no content type", R"({"type": null, "body": "abc"})", true, After::Body, "abc"},
        {"html with charset", R"({"type": "text/html; charset=utf-8", "body": "plain"})", false, After::Untouched, ""},
        {"html inside a longer type", R"({"type": "application/text/html+x", "body": "x"})", false, After::Untouched,
         ""},
        {"upper-case html type, clean body", R"({"type": "TEXT/HTML", "body": "plain words"})", true, After::Body,
         "plain words"},
        {"upper-case html type, html body", R"({"type": "TEXT/HTML", "body": "<html><body>"})", false,
         After::Deleted, ""},
        {"marker at 0", R"({"body": "<!DOCTYPE html>"})", false, After::Deleted, ""},
        {"upper-case marker", R"({"body": "<HTML>"})", false, After::Deleted, ""},
        {"marker at 9", R"({"body": "123456789<!DOC and more"})", false, After::Deleted, ""},
        {"marker at 10", R"({"body": "0123456789<html>"})", true, After::Body, "0123456789<html>"},
        {"marker after a NUL", R"({"body_hex": "61003c68746d6c3e"})", true, After::Body, std::string("a\0<html>", 8)},
        {"lower-case doctype", R"({"body": "<!doctype html>"})", true, After::Body, "<!doctype html>"},
        // WinINet may keep what follows the stated length when the server closes after it.
        {"body longer than stated", R"({"body": "abcdef", "length": 3})", true, After::Prefix, "abcdef"},
        {"body shorter than stated", R"({"body": "abc", "length": 10})", false, After::Body, "abc"},
        {"dropped connection", R"({"size": 300000, "drop_after": 100000})", false, After::Body, PatternBytes(100000)},
        {"dropped, no length", R"({"size": 300000, "drop_after": 100000, "length": "absent"})", true, After::Body,
         PatternBytes(100000)},
        {"reset, no length", R"({"size": 300000, "drop_after": 100000, "length": "absent", "reset": true})", false,
         After::Prefix, PatternBytes(100000)},
        {"chunked", R"({"size": 200000, "length": "chunked", "chunk_size": 30000})", true, After::Body,
         PatternBytes(200000)},
        {"404 text", R"({"status": 404, "type": "text/plain", "body": "Not Found"})", false, After::Untouched, ""},
        {"500 binary", R"({"status": 500, "body": "oops"})", false, After::Untouched, ""},
        {"410 without type", R"({"status": 410, "type": null, "body": "Gone"})", false, After::Untouched, ""},
        {"400", R"({"status": 400, "body": "bad"})", false, After::Untouched, ""},
        {"other 2xx", R"({"status": 299, "body": "odd but fine"})", true, After::Body, "odd but fine"},
        {"redirect followed", R"({"status": 302, "headers": {"Location": "/redirect-target"}})", true, After::Body,
         "moved here"},
    };
    Script("/redirect-target", R"({"body": "moved here"})");
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = "/case" + std::to_string(n++);
        Script(path, c.script);
        WriteBytes(dest, kOld);
        EXPECT_EQ(DownloadFile(FixtureUrl(path), dest, ProgressCallback()), c.ok);
        switch (c.after) {
        case After::Body: EXPECT_EQ(ReadBytes(dest), c.body); break;
        case After::Prefix: {
            const std::string got = ReadBytes(dest);
            EXPECT_FALSE(got.empty());
            EXPECT_EQ(c.body.compare(0, got.size(), got), 0) << got.size() << " bytes";
            break;
        }
        case After::Untouched: EXPECT_EQ(ReadBytes(dest), kOld); break;
        case After::Deleted: EXPECT_FALSE(Exists(dest)); break;
        }
    }
}

TEST_F(DownloadTest, ProgressCallsForEachEnding) {
    struct Case {
        const char* name;
        std::string script;
        bool ok;
        size_t maxCalls;  // at most this many calls (0: none at all)
        uint32_t lastReceived, lastExpected;
    } cases[] = {
        {"plain", R"({"body": "0123456789"})", true, 2, 10, 10},
        {"empty body", R"({"body": ""})", false, 1, 0, 0},  // exactly one call, after the loop
        {"no length", R"({"size": 200000, "length": "absent"})", true, 5, 200000, 0},
        {"chunked", R"({"size": 200000, "length": "chunked"})", true, 5, 200000, 0},
        {"short body", R"({"body": "abc", "length": 10})", false, 2, 3, 10},
        {"dropped", R"({"size": 300000, "drop_after": 70000})", false, 5, 70000, 300000},
        {"refused html", R"({"type": "text/html", "body": "x"})", false, 0, 0, 0},
        {"refused status", R"({"status": 404, "body": "x"})", false, 0, 0, 0},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = "/progress" + std::to_string(n++);
        Script(path, c.script);
        log.calls.clear();
        EXPECT_EQ(DownloadFile(FixtureUrl(path), dest, log.Callback()), c.ok);
        EXPECT_LE(log.calls.size(), c.maxCalls);
        if (c.maxCalls == 0) continue;
        ASSERT_FALSE(log.calls.empty());
        EXPECT_EQ(log.calls.back().received, c.lastReceived);
        for (const auto& call : log.calls) EXPECT_EQ(call.expected, c.lastExpected);
        for (size_t i = 1; i < log.calls.size(); ++i) EXPECT_LE(log.calls[i - 1].received, log.calls[i].received);
    }
}

TEST_F(DownloadTest, ProgressIsThrottledAndEndsOnTheTotal) {
    // About a second of trickled body: many more chunks than 100 ms slots.
    Script("/slow", R"({"size": 1310720, "chunk_size": 32768, "chunk_delay_ms": 25})");
    const DWORD start = GetTickCount();
    ASSERT_TRUE(DownloadFile(FixtureUrl("/slow"), dest, log.Callback()));
    const DWORD elapsed = GetTickCount() - start;
    ASSERT_GE(log.calls.size(), 3u);
    EXPECT_LE(log.calls.size(), elapsed / 100 + 2);
    EXPECT_EQ(log.calls.back().received, 1310720u);
    EXPECT_EQ(log.calls.back().expected, 1310720u);
    // Interval calls are at least 100 ms apart; only the call after the loop may come sooner.
    for (size_t i = 1; i + 1 < log.calls.size(); ++i)
        EXPECT_GE(log.calls[i].tick - log.calls[i - 1].tick, 99u) << i;
}

TEST_F(DownloadTest, MissingFolderFailsAfterTheRequestWithoutProgress) {
    Script("/plain", R"({"body": "data"})");
    EXPECT_FALSE(DownloadFile(FixtureUrl("/plain"), dir / L"no-such-folder\\out.bin", log.Callback()));
    EXPECT_TRUE(log.calls.empty());
    EXPECT_EQ(Requests().size(), 1u);
}

TEST_F(DownloadTest, FailedWriteStopsWithoutAFinalProgressCall) {
    const char* full = std::getenv("VELMORA_FULL_FILE");  // a path that behaves like a full disk
    if (!full || !*full) GTEST_SKIP() << "no full-disk stand-in";
    const std::string narrow(full);
    const std::wstring path(narrow.begin(), narrow.end());
    ASSERT_TRUE(FileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)))
        << "the stand-in must open; only its writes fail";
    Script("/big", R"({"size": 300000})");
    EXPECT_FALSE(DownloadFile(FixtureUrl("/big"), path, log.Callback()));
    // The very first write fails, so any call at all would be one made after the failure.
    EXPECT_TRUE(log.calls.empty());
    EXPECT_EQ(Requests().size(), 1u);
}

// 2^32 bytes: a 32-bit count would read 0, an empty body, and fall short of the stated length.
TEST_F(DownloadTest, BodyOfFourGiBIsNeitherEmptyNorShort) {
    Script("/huge", R"({"size": 4294967296})");
    EXPECT_TRUE(DownloadFile(FixtureUrl("/huge"), L"NUL", log.Callback()));  // no disk needed
    ASSERT_FALSE(log.calls.empty());
    EXPECT_EQ(log.calls.back().received, 0u);  // the progress arguments stay 32-bit and wrap
    EXPECT_GT(log.calls.size(), 2u);
}

TEST_F(DownloadTest, UnreachableServerLeavesTheDestination) {
    WriteBytes(dest, kOld);
    // Port 1 on loopback: nothing listens there, so the connection is refused at once.
    EXPECT_FALSE(DownloadFile(L"http://127.0.0.1:1/x", dest, log.Callback()));
    EXPECT_EQ(ReadBytes(dest), kOld);
    EXPECT_TRUE(log.calls.empty());
}

TEST_F(DownloadTest, EveryFetchReachesTheServerWithUserAgentAndNoCache) {
    Script("/ua", R"({"body": "x"})");
    ASSERT_TRUE(DownloadFile(FixtureUrl("/ua"), dest, ProgressCallback()));
    ASSERT_TRUE(DownloadFile(FixtureUrl("/ua"), dest, ProgressCallback()));
    const auto requests = Requests();
    ASSERT_EQ(requests.size(), 2u);  // the second one is not served from a cache
    for (const auto& r : requests) {
        EXPECT_EQ(r.method, "GET");
        EXPECT_EQ(r.path, "/ua");
        EXPECT_EQ(r.userAgent, "Mozilla/5.0 (Windows NT 10.0; Win64; x64) Velmora-Launcher/1.0");
        EXPECT_EQ(r.pragma, "no-cache");
    }
}

TEST(RequestHelpers, ContentTypeAndWholeResponse) {
    struct Case {
        const char* name;
        std::string script;
        std::wstring type;
    } cases[] = {
        {"given", R"({"type": "text/plain; charset=utf-8"})", L"text/plain; charset=utf-8"},
        {"absent", R"({"type": null})", L""},
        {"255 units fit", R"({"type": "x/)" + std::string(253, 'a') + R"("})", L"x/" + std::wstring(253, L'a')},
        {"256 units do not", R"({"type": "x/)" + std::string(254, 'a') + R"("})", L""},
    };
    InternetHandle internet(InternetOpenW(L"helpers", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = "/type" + std::to_string(n++);
        Script(path, c.script);
        InternetHandle request(OpenUrl(internet.get(), FixtureUrl(path)));
        ASSERT_TRUE(request);
        EXPECT_EQ(QueryContentType(request.get()), c.type);
    }
    Script("/page", R"({"size": 20000, "length": "chunked", "chunk_size": 3000})");
    InternetHandle whole(OpenUrl(internet.get(), FixtureUrl("/page")));
    EXPECT_EQ(ReadAllResponse(whole.get()), PatternBytes(20000));
    InternetHandle limited(OpenUrl(internet.get(), FixtureUrl("/page")));
    EXPECT_EQ(ReadAllResponse(limited.get(), 10000), PatternBytes(10000));
}

TEST(RequestHelpers, SecureFlagsOnlyForExactHttpsPrefix) {
    struct Case {
        const wchar_t* url;
        DWORD flags;
    } cases[] = {
        {L"https://example.test/a", 0x84c00100}, {L"http://example.test/a", 0x84400100},
        {L"HTTPS://example.test/a", 0x84400100}, {L"https:/x", 0x84400100},
        {L"", 0x84400100},
    };
    for (const auto& c : cases) EXPECT_EQ(RequestFlags(c.url), c.flags) << testing::PrintToString(std::wstring(c.url));
}

}  // namespace
