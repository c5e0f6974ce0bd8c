#include <gtest/gtest.h>

#include "patch/patch_plan.h"

namespace {

// Entries of `raw` bytes each, `gaps[i]` bytes after entry i.
Manifest Spaced(const std::vector<uint64_t>& gaps, uint64_t raw = 100) {
    Manifest m;
    uint64_t at = 0;
    for (uint64_t gap : gaps) {
        m.entries.push_back({"f" + std::to_string(at), false, 0, {}, at, raw, {}, 0, 0});
        at += raw + gap;
    }
    m.archiveSize = at;
    return m;
}

TEST(PatchPlan, NeighboursCloserThanTheGapShareOneRequest) {
    const Manifest m = Spaced({kMergeGap - 1, kMergeGap, 0, 0});
    const std::vector<RangeRequest> requests = PlanRequests(m, {3, 0, 2, 1});  // any order
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(std::make_tuple(requests[0].first, requests[0].last, requests[0].entries),
              std::make_tuple(uint64_t{0}, m.entries[1].offset + 99, std::vector<size_t>{0, 1}));
    EXPECT_EQ(std::make_tuple(requests[1].first, requests[1].last, requests[1].entries),
              std::make_tuple(m.entries[2].offset, m.entries[3].offset + 99, std::vector<size_t>{2, 3}));
}

TEST(PatchPlan, SplitterHandsEachEntryItsOwnBytesWhateverTheChunks) {
    const Manifest m = Spaced({7, 0, 0}, 5);
    const RangeRequest request = PlanRequests(m, {0, 1})[0];
    std::string body;
    for (uint64_t i = request.first; i <= request.last; ++i) body.push_back(static_cast<char>('a' + i));
    for (size_t chunk : {size_t{1}, size_t{4}, body.size()}) {
        EntrySplitter splitter(m, request);
        std::vector<std::string> got(2);
        std::string ends;
        for (size_t at = 0; at < body.size(); at += chunk)
            splitter.Feed(body.data() + at, std::min(chunk, body.size() - at), [&](size_t e, const char* d, size_t n, bool end) {
                got[e].append(d, n);
                ends += end ? std::to_string(e) : "";
                return true;
            });
        EXPECT_EQ(got, (std::vector<std::string>{"abcde", "mnopq"})) << chunk;
        EXPECT_EQ(ends, "01") << chunk;
    }
}

TEST(PatchPlan, PaysUpToSixtyPercentOfTheArchive) {
    for (const auto& [needed, size, pays] : std::vector<std::tuple<uint64_t, uint64_t, bool>>{
             {600, 1000, true}, {601, 1000, false}, {4, 7, true}, {5, 7, false}, {0, 0, true}})
        EXPECT_EQ(PatchPays(needed, size), pays) << needed << "/" << size;
}

TEST(InstallRecord, AFileIsReadOnlyWhenItsStampDiffersFromTheRecord) {
    ManifestEntry entry{"a b/c", false, 10, {}, 0, 40, {}, 0, 0};
    entry.contentSha256.fill(1);
    const InstalledFile same{"a b/c", {10, 77}, entry.contentSha256}, other{"a b/c", {10, 77}, {}};
    const std::optional<std::vector<InstalledFile>> read = ParseInstallRecord(FormatInstallRecord({same, other}));
    ASSERT_TRUE(read && read->size() == 2);
    const std::tuple<std::optional<FileStamp>, const InstalledFile*, FileVerdict> rows[] = {
        {std::nullopt, &(*read)[0], FileVerdict::Differs}, {FileStamp{11, 77}, &(*read)[0], FileVerdict::Differs},
        {FileStamp{10, 77}, nullptr, FileVerdict::Unknown}, {FileStamp{10, 78}, &(*read)[0], FileVerdict::Unknown},
        {FileStamp{10, 77}, &(*read)[1], FileVerdict::Differs}, {FileStamp{10, 77}, &(*read)[0], FileVerdict::Same}};
    for (const auto& [stamp, recorded, verdict] : rows) EXPECT_EQ(JudgeInstalled(entry, stamp, recorded), verdict);
}

TEST(InstallRecord, AnyMalformedLineDropsTheWholeRecord) {
    const std::string digest(64, 'a');
    EXPECT_TRUE(ParseInstallRecord(digest + " 1 2 x y\n"));
    const std::string chunked = digest + " 10 2 x\n+4 " + digest + "\n";
    const auto read = ParseInstallRecord(chunked + "+6 " + digest + "\n");  // a chunked file and its chunks
    ASSERT_TRUE(read && read->at(0).chunks.size() == 2);
    EXPECT_EQ(read->at(0).chunks[1].offset, 4u);
    for (const std::string& text : {digest + " 1 2 x", digest + " 1 2 \n", digest + " -1 2 x\n", digest + " 1 x\n",
                                    digest.substr(1) + " 1 2 x\n", chunked, chunked + "+7 " + digest + "\n",
                                    chunked + "+6\n", "+1 " + digest + "\n"})
        EXPECT_FALSE(ParseInstallRecord(text)) << text;
}

}  // namespace
