#include <gtest/gtest.h>

#include "net/progress.h"

namespace {

// The bar moves only when a length was stated, to the truncated percent, not clamped; counts
// past 4 GiB show right.
TEST(Progress, BarAndText) {
    struct Case {
        uint64_t received, expected;
        std::wstring shown;
    } cases[] = {
        {1048575, 1048576, L"bar 99, Baixando... 1.0 / 1.0 MB"},
        {3000000, 1000000, L"bar 300, Baixando... 2.9 / 1.0 MB"},
        {4294967295u, 4294967295u, L"bar 100, Baixando... 4096.0 / 4096.0 MB"},
        {4831838208u, 5368709120u, L"bar 90, Baixando... 4608.0 / 5120.0 MB"},  // past 4 GiB
        {4294967295u, 1, L"bar 2147483647, Baixando... 4096.0 / 0.0 MB"},  // saturates rather than wraps
        {7340032, 0, L"Baixando... 7.0 MB"},
    };
    for (const auto& c : cases) {
        const ProgressView view = FormatProgress(c.received, c.expected);
        EXPECT_EQ((view.movesBar ? L"bar " + std::to_wstring(view.position) + L", " : L"") + view.text, c.shown);
    }
}

}  // namespace
