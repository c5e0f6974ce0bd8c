#include <gtest/gtest.h>

#include "tool/hints.h"
#include "tool/requests.h"
#include "tool/zip_listing.h"

namespace {

const std::vector<std::wstring> kKnown = {L"ServerName", L"VersionURL", L"UpdateURL", L"SiteUrl", L"UpdateSHA256"};

TEST(ToolHints, ClosestKnownKey) {
    const struct {
        const wchar_t* key;
        const wchar_t* closest;  // nullptr: no suggestion
    } cases[] = {
        {L"SiteURL", L"SiteUrl"},       // case alone differs
        {L"UpdatURL", L"UpdateURL"},    // one letter missing
        {L"Version", L"VersionURL"},    // a third of the length
        {L"ServerNaem", L"ServerName"}, // swapped letters
        {L"UpdateSHA", L"UpdateSHA256"},
        {L"Url", nullptr},
        {L"Foo", nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<std::wstring> got = ClosestKey(c.key, kKnown);
        EXPECT_EQ(got.value_or(L"<none>"), c.closest ? c.closest : L"<none>") << c.key;
    }
}

TEST(ToolHints, InvisibleCharactersAreEscaped) {
    const struct {
        std::wstring text, shown;
    } cases[] = {
        {L"1.0.1", L"1.0.1"},
        {L"\uFEFF1.0.1", L"\\uFEFF1.0.1"},
        {L"1.0.1\u200B", L"1.0.1\\u200B"},
        {L"1.0\u00A0beta", L"1.0\\u00A0beta"},
        {L"a\tb\\c", L"a\\u0009b\\u005Cc"},  // a real backslash cannot pass for an escape
        {L"versão", L"versão"},
    };
    for (const auto& c : cases) EXPECT_EQ(EscapeInvisible(c.text), c.shown);
    EXPECT_EQ(Quoted(L"1.0\uFEFF"), L"\"1.0\\uFEFF\"");
    EXPECT_EQ(Quoted(std::wstring(70, L'a')), L"\"" + std::wstring(60, L'a') + L"\"...");  // a whole page stays one line
}

// Why a fetch failed is read off its last request (and that answer's page).
TEST(ToolRequests, FailureReasons) {
    SeenRequest answered{L"http://h/f", true, 200, L"application/zip", L"5000", L"", L""};
    SeenRequest notFound = answered, html = answered, big = answered, silent{L"http://h/f"};
    notFound.status = 404;
    html.type = L"text/html; charset=utf-8";
    SeenRequest drive = html;
    drive.url = L"https://drive.usercontent.google.com/download?id=X";
    big.length = L"70000";
    const struct {
        std::vector<SeenRequest> requests;
        std::string page;
        bool isText;
        const wchar_t* says;
    } cases[] = {
        {{}, "", true, L"sem resposta"},
        {{answered, silent}, "", false, L"sem resposta"},
        {{notFound}, "<title>Not Found</title>", false, L"HTTP 404 \u00abNot Found\u00bb"},
        {{html}, "<title>Erro</title>", false, L"página HTML \u00abErro\u00bb"},
        {{drive}, "<title>Login</title>", false, L"\u00abLogin\u00bb em vez do arquivo: compartilhe-o"},
        {{html}, "<p>Too many users have viewed or downloaded this file recently.", false, L"cota de downloads"},
        {{big}, "", true, L"mais que os 64 KiB"},
        {{big}, "", false, L"parou antes do fim"},
    };
    for (const auto& c : cases) {
        const std::wstring reason = FailureReason(c.requests, c.page, c.isText);
        EXPECT_NE(reason.find(c.says), std::wstring::npos) << c.says << L" / " << reason;
    }
}

TEST(ZipListing, EntriesThatLeaveTheFolder) {
    const struct {
        const char* name;
        bool escapes;
    } cases[] = {
        {"bin/game.exe", false}, {"a..b/c", false},  {"/etc/x", true},      {"\\x", true},
        {"C:x", true},           {"../x", true},      {"a/../../x", true},   {"a\\..\\x", true},
        {"a/..", true},
    };
    for (const auto& c : cases) EXPECT_EQ(EscapesFolder(c.name), c.escapes) << c.name;
}

TEST(ZipListing, WhereTheClientIs) {
    auto entries = [](std::vector<const char*> names) {
        std::vector<ZipEntry> out;
        for (const char* name : names) out.push_back({name, 1});
        return out;
    };
    const struct {
        std::vector<ZipEntry> entries;
        const char* client;
        const char* folder;  // nullptr: not in the zip
    } cases[] = {
        {entries({"data/", "VelmoraClient.EXE"}), "velmoraclient.exe", ""},
        {entries({"Client/", "Client/velmoraclient.exe"}), "velmoraclient.exe", "Client/"},
        {entries({"a\\b\\velmoraclient.exe"}), "velmoraclient.exe", "a\\b\\"},
        {entries({"Game/x.exe"}), "Game\\x.exe", ""},
        {entries({"notvelmoraclient.exe"}), "velmoraclient.exe", nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> folder = ClientFolderInZip(c.entries, c.client);
        EXPECT_EQ(folder.value_or("<none>"), c.folder ? c.folder : "<none>") << c.client;
    }
}

// Little-endian fields for hand-made zip records.
std::string Le(uint64_t value, int width) {
    std::string out;
    for (int i = 0; i < width; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
    return out;
}

std::string EndRecord(uint64_t count, uint64_t size, uint64_t offset, const std::string& comment = "") {
    return "PK\x05\x06" + Le(0, 4) + Le(count, 2) + Le(count, 2) + Le(size, 4) + Le(offset, 4) +
           Le(comment.size(), 2) + comment;
}

std::string DirectoryEntry(const std::string& name, uint32_t size, const std::string& extra = "") {
    return "PK\x01\x02" + Le(0, 16) + Le(size, 4) + Le(size, 4) + Le(name.size(), 2) + Le(extra.size(), 2) +
           Le(0, 14) + name + extra;
}

TEST(ZipListing, DirectoryFromTheTail) {
    const std::string entry = DirectoryEntry("velmoraclient.exe", 5000);
    const std::string plain = std::string(100, 'x') + entry + EndRecord(1, entry.size(), 100, "a comment");
    // A 5 GB entry: sizes and the record positions in the zip64 forms.
    const std::string big = DirectoryEntry("big.bin", 0xFFFFFFFF, Le(1, 2) + Le(16, 2) + Le(5000000000, 8) + Le(5000000000, 8));
    const uint64_t bigAt = 5000000100;
    const std::string zip64End = "PK\x06\x06" + Le(44, 8) + Le(0, 4) + Le(0, 8) + Le(1, 8) + Le(1, 8) +
                                 Le(big.size(), 8) + Le(bigAt, 8);
    const std::string locator = "PK\x06\x07" + Le(0, 4) + Le(bigAt + big.size(), 8) + Le(1, 4);
    const std::string wide = big + zip64End + locator + EndRecord(0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF);

    const struct {
        std::string tail;
        uint64_t tailOffset;
        bool found;
        uint64_t offset, count;
        bool zip64;
    } cases[] = {
        {plain, 0, true, 100, 1, false},
        {EndRecord(0, 0, 0), 0, true, 0, 0, false},       // an empty zip
        {plain.substr(0, plain.size() - 1), 0, false},   // comment cut short
        {EndRecord(1, 46, 9000), 0, false},              // a directory past the end
        {wide, bigAt, true, bigAt, 1, true},
        {wide.substr(big.size() + 8), bigAt + big.size() + 8, false},  // zip64 record not in the tail
    };
    for (const auto& c : cases) {
        const std::optional<ZipEnd> end = FindZipEnd(c.tail, c.tailOffset);
        ASSERT_EQ(end.has_value(), c.found) << c.tail.size();
        if (!c.found) continue;
        EXPECT_EQ(std::make_tuple(end->directoryOffset, end->entryCount, end->zip64),
                  std::make_tuple(c.offset, c.count, c.zip64));
    }
    const auto entries = ReadZipDirectory(wide.substr(0, big.size()), 1);
    ASSERT_TRUE(entries);
    EXPECT_EQ(std::make_pair(entries->at(0).name, entries->at(0).size), std::make_pair(std::string("big.bin"), 5000000000ull));
    EXPECT_EQ(ReadZipDirectory(entry, 1)->at(0).size, 5000u);
    EXPECT_FALSE(ReadZipDirectory(entry, 2));                         // fewer entries than counted
    EXPECT_FALSE(ReadZipDirectory(entry.substr(0, entry.size() - 1), 1));  // name cut short
}

}  // namespace
