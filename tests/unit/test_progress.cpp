#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "net/progress.h"
#include "net/rate_limit.h"

namespace {

const uint64_t kMiB = 1 << 20;

// The bar moves only when a length was stated, to the truncated percent, not clamped; counts
// past 4 GiB show right.
TEST(Progress, BarAndText) {
    const std::tuple<uint64_t, uint64_t, std::wstring> cases[] = {  // received, expected, shown
        {1048575, 1048576, L"bar 99, Baixando... 1.0 / 1.0 MB"},
        {3000000, 1000000, L"bar 300, Baixando... 2.9 / 1.0 MB"},
        {4294967295u, 4294967295u, L"bar 100, Baixando... 4096.0 / 4096.0 MB"},
        {4831838208u, 5368709120u, L"bar 90, Baixando... 4608.0 / 5120.0 MB"},  // past 4 GiB
        {4294967295u, 1, L"bar 2147483647, Baixando... 4096.0 / 0.0 MB"},  // saturates rather than wraps
        {7340032, 0, L"Baixando... 7.0 MB"},
    };
    for (const auto& [received, expected, shown] : cases) {
        const ProgressView view = FormatProgress(received, expected);
        EXPECT_EQ((view.movesBar ? L"bar " + std::to_wstring(view.position) + L", " : L"") + view.text, shown);
    }
}

// The speed in KB/s or MB/s; the time left in seconds under a minute, then rounded minutes, then
// hours; none without a length or past 99 h.
TEST(Progress, SpeedAndTimeLeft) {
    const std::tuple<uint64_t, uint64_t, double, const wchar_t*> cases[] = {
        {2048 * kMiB, 2048 * kMiB, 11.3 * kMiB, L"Baixando... 2048.0 / 2048.0 MB - 11.3 MB/s - 0 s restantes"},
        {90 * kMiB, 100 * kMiB, 1.0 * kMiB, L"Baixando... 90.0 / 100.0 MB - 1.0 MB/s - 10 s restantes"},
        {851862323, 2048 * kMiB, 11.3 * kMiB, L"Baixando... 812.4 / 2048.0 MB - 11.3 MB/s - 2 min restantes"},
        {0, 4096 * kMiB, 512 * 1024, L"Baixando... 0.0 / 4096.0 MB - 512 KB/s - 2 h 17 min restantes"},
        {0, 3600 * kMiB, 1.0 * kMiB, L"Baixando... 0.0 / 3600.0 MB - 1.0 MB/s - 1 h restantes"},
        {0, 4096 * kMiB, 1024, L"Baixando... 0.0 / 4096.0 MB - 1 KB/s"},
        {7 * kMiB, 0, 1010 * 1024, L"Baixando... 7.0 MB - 1.0 MB/s"},
    };
    for (const auto& [received, expected, speed, shown] : cases)
        EXPECT_STREQ(FormatProgress(received, expected, speed).text, shown);
}

// Shown after two seconds of data; a burst moves it only part of the way; a restart hides it again.
TEST(Progress, SpeedIsSmoothed) {
    const std::pair<std::vector<std::pair<uint64_t, uint64_t>>, std::optional<double>> cases[] = {  // (ms, bytes)...
        {{{0, 0}, {1900, 2 * kMiB}}, std::nullopt},
        {{{0, 0}, {1000, kMiB}, {2000, 2 * kMiB}}, 1.0 * kMiB},
        {{{0, 0}, {1000, kMiB}, {2000, 2 * kMiB}, {3000, 12 * kMiB}}, 3.25 * kMiB},
        {{{0, 0}, {2000, 2 * kMiB}, {2100, kMiB}}, std::nullopt},
    };
    for (const auto& [reports, shown] : cases) {
        SpeedMeter meter;
        for (auto [ms, bytes] : reports) meter = Measure(meter, ms, bytes);
        EXPECT_EQ(ShownSpeed(meter), shown) << reports.size();
    }
}

// A reader as fast as the line allows, the clock moved to each due time (and oversleeping a little),
// with a pause between two downloads: every 10 s window carries the cap's worth within 5 %.
TEST(DownloadCap, EveryTenSecondsWithinFivePercent) {
    for (const uint64_t cap : {uint64_t{3} * 1024, uint64_t{100} * 1024, uint64_t{8} * kMiB}) {
        std::vector<std::pair<double, uint64_t>> reads;
        double now = 0, due = 0;
        for (int i = 0; now < 60000; ++i) {
            if (i == 50) now += 5000;  // idle between two downloads
            const DWORD size = CappedReadSize(cap, 65536);
            now += 1;
            due = PaidUntil(cap, due, now, size);
            reads.emplace_back(now, size);
            now = std::max(now, due) + i % 16;
        }
        uint64_t most = 0, inWindow = 0;
        for (size_t first = 0, last = 0; last < reads.size(); most = std::max(most, inWindow), ++last)
            for (inWindow += reads[last].second; reads[last].first - reads[first].first >= 10000; ++first)
                inWindow -= reads[first].second;
        EXPECT_LE(static_cast<double>(most), 1.05 * static_cast<double>(cap) * 10) << cap;
        EXPECT_GE(static_cast<double>(most), 0.90 * static_cast<double>(cap) * 10) << cap;
    }
}

}  // namespace
