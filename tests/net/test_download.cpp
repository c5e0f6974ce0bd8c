#include <gtest/gtest.h>

#include <vector>

#include "app/state.h"
#include "fixture.h"
#include "net/download.h"
#include "test_support.h"

namespace {

const char kOld[] = "previous contents";

struct DownloadTest : testing::Test {
    TempDir dir;
    std::wstring dest = dir / L"out.bin";
    struct Call {
        uint32_t received, expected;
        DWORD tick;
    };
    std::vector<Call> calls;  // every progress call of the last Log()ged download
    ProgressCallback Log() {
        calls.clear();
        return [this](uint32_t received, uint32_t expected) { calls.push_back({received, expected, GetTickCount()}); };
    }
    std::string Last() const {
        if (calls.empty()) return "none";
        return std::to_string(calls.back().received) + "/" + std::to_string(calls.back().expected);
    }
};

TEST_F(DownloadTest, ResponsesWhatTheyLeaveAndTheLastProgressCall) {
    const std::string typeOf255 = R"({"body": "ok", "type": "text/html; x=)" + std::string(242, 'a');
    struct Case {
        std::string script;
        bool ok;
        std::string file;      // the destination afterwards: kOld if untouched, "<missing>" if deleted
        std::string progress;  // the last progress call, "received/expected", or "none"; "" not checked
        bool prefix = false;   // the file holds a non-empty start of `file`
    } cases[] = {
        {R"({"type": "text/plain", "body": "version 1.4.2"})", true, "version 1.4.2", "13/13"},
        {R"({"body": ""})", false, "", "0/0"},
        {R"({"type": null, "body": "abc"})", true, "abc", "3/3"},
        {R"({"type": "application/text/html+x", "body": "x"})", false, kOld, "none"},
        {R"({"type": "TEXT/HTML", "body": "plain words"})", true, "plain words", "11/11"},
        // A content type is read up to 255 units; a longer one counts as none.
        {typeOf255 + R"("})", false, kOld, "none"},
        {typeOf255 + R"(a"})", true, "ok", "2/2"},
        // The head test: three markers, case-sensitive, within the first 14 bytes, before any NUL.
        {R"({"body": "<html><body>"})", false, "<missing>", "12/12"},
        {R"({"body": "<HTML>"})", false, "<missing>", "6/6"},
        {R"({"body": "123456789<!DOC and more"})", false, "<missing>", "23/23"},
        {R"({"body": "0123456789<html>"})", true, "0123456789<html>", "16/16"},
        {R"({"body_hex": "61003c68746d6c3e"})", true, std::string("a\0<html>", 8), "8/8"},
        {R"({"body": "<!doctype html>"})", true, "<!doctype html>", "15/15"},
        // WinINet may keep what follows the stated length when the server closes after it.
        {R"({"body": "abcdef", "length": 3})", true, "abcdef", "", true},
        // Short of the stated length, or ended by a failed read: incomplete, whatever was saved.
        {R"({"body": "abc", "length": 10})", false, "abc", "3/10"},
        {R"({"size": 300000, "drop_after": 100000})", false, PatternBytes(100000), "100000/300000"},
        {R"({"size": 300000, "drop_after": 100000, "length": "absent"})", true, PatternBytes(100000), "100000/0"},
        {R"({"size": 300000, "drop_after": 100000, "length": "absent", "reset": true})", false, PatternBytes(100000),
         "", true},
        {R"({"size": 200000, "length": "chunked", "chunk_size": 30000})", true, PatternBytes(200000), "200000/0"},
        // Error statuses are refused from 400 up, whatever the content type.
        {R"({"status": 400, "body": "bad"})", false, kOld, "none"},
        {R"({"status": 299, "body": "odd but fine"})", true, "odd but fine", "12/12"},
        {R"({"status": 302, "headers": {"Location": "/redirect-target"}})", true, "moved here", "10/10"},
    };
    Script("/redirect-target", R"({"body": "moved here"})");
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const std::string path = "/case" + std::to_string(n++);
        Script(path, c.script);
        WriteBytes(dest, kOld);
        EXPECT_EQ(DownloadFile(FixtureUrl(path), dest, Log()), c.ok);
        const std::string got = ReadBytes(dest);
        EXPECT_EQ(got, c.prefix && !got.empty() ? c.file.substr(0, got.size()) : c.file);
        EXPECT_EQ(c.progress.empty() ? "" : Last(), c.progress);
        for (size_t i = 1; i < calls.size(); ++i) {
            EXPECT_LE(calls[i - 1].received, calls[i].received);
            EXPECT_EQ(calls[i - 1].expected, calls[i].expected);
        }
    }
}

TEST_F(DownloadTest, ProgressIsThrottledAndEndsOnTheTotal) {
    // About a second of trickled body: many more chunks than 100 ms slots.
    Script("/slow", R"({"size": 1310720, "chunk_size": 32768, "chunk_delay_ms": 25})");
    const DWORD start = GetTickCount();
    ASSERT_TRUE(DownloadFile(FixtureUrl("/slow"), dest, Log()));
    const DWORD elapsed = GetTickCount() - start;
    ASSERT_GE(calls.size(), 3u);
    EXPECT_LE(calls.size(), elapsed / 100 + 2);
    EXPECT_GT(calls.front().received, 0u);  // nothing before the first chunk is written
    EXPECT_EQ(Last(), "1310720/1310720");
    // Interval calls are at least 100 ms apart; only the call after the loop may come sooner.
    for (size_t i = 1; i + 1 < calls.size(); ++i) EXPECT_GE(calls[i].tick - calls[i - 1].tick, 99u) << i;
}

// No progress call at all, not even after the loop, and an existing destination left as it was.
TEST_F(DownloadTest, FailuresBeforeOrAtTheFirstWrite) {
    const wchar_t kFullDisk[] = L"Z:\\dev\\full";  // Wine's view of /dev/full: it opens, every write fails
    ASSERT_TRUE(FileHandle(CreateFileW(kFullDisk, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)));
    Script("/data", R"({"size": 300000})");
    struct Case {
        std::wstring url, destination;
        size_t requests;
    } cases[] = {
        {L"http://127.0.0.1:1/x", dest, 0},                          // nothing listens on port 1
        {FixtureUrl("/data"), dir / L"no-such-folder\\out.bin", 1},  // fails after the request
        {FixtureUrl("/data"), kFullDisk, 1},                         // the very first write fails
    };
    WriteBytes(dest, kOld);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.destination));
        ResetRequests();
        EXPECT_FALSE(DownloadFile(c.url, c.destination, Log()));
        EXPECT_EQ(Last(), "none");
        EXPECT_EQ(Requests().size(), c.requests);
    }
    EXPECT_EQ(ReadBytes(dest), kOld);
}

// 2^32 bytes: a 32-bit count would read 0, an empty body, and fall short of the stated length.
TEST_F(DownloadTest, BodyOfFourGiBIsNeitherEmptyNorShort) {
    Script("/huge", R"({"size": 4294967296})");
    EXPECT_TRUE(DownloadFile(FixtureUrl("/huge"), L"NUL", Log()));  // no disk needed
    ASSERT_GT(calls.size(), 2u);
    EXPECT_EQ(calls.back().received, 0u);  // the progress arguments stay 32-bit and wrap
}

TEST_F(DownloadTest, EveryFetchReachesTheServerWithUserAgentAndNoCache) {
    Script("/ua", R"({"body": "x"})");
    ResetRequests();
    ASSERT_TRUE(DownloadFile(FixtureUrl("/ua"), dest, ProgressCallback()));
    ASSERT_TRUE(DownloadFile(FixtureUrl("/ua"), dest, ProgressCallback()));
    const std::vector<std::string> requests = Requests();
    ASSERT_EQ(requests.size(), 2u);  // the second one is not served from a cache
    for (const std::string& r : requests) {  // method, path, user agent, cache-control, pragma
        EXPECT_EQ(r.rfind("GET\t/ua\tMozilla/5.0 (Windows NT 10.0; Win64; x64) Velmora-Launcher/1.0\t", 0), 0u) << r;
        EXPECT_EQ(r.substr(r.rfind('\t')), "\tno-cache") << r;
    }
}

TEST(RequestHelpers, WholeOrLimitedResponseAndSecureFlagsForExactHttpsPrefix) {
    Script("/page", R"({"size": 20000, "length": "chunked", "chunk_size": 3000})");
    InternetHandle internet(InternetOpenW(L"helpers", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    Response whole = OpenUrl(internet.get(), FixtureUrl("/page"));
    EXPECT_EQ(ReadAllResponse(whole.get()), PatternBytes(20000));
    Response limited = OpenUrl(internet.get(), FixtureUrl("/page"));
    EXPECT_EQ(ReadAllResponse(limited.get(), 10000), PatternBytes(10000));

    EXPECT_EQ(RequestFlags(L"https://example.test/a"), 0x84c00100u);
    for (const wchar_t* url : {L"http://example.test/a", L"HTTPS://example.test/a", L"https:/x", L""})
        EXPECT_EQ(RequestFlags(url), 0x84400100u) << testing::PrintToString(std::wstring(url));
}

}  // namespace
