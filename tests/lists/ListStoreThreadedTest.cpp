#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "ListStoreFixture.h"
#include "lists/ListStore.h"

namespace bramvell {
namespace {

using ListStoreThreadedTest = testing::ListStoreFixture;

// The filter thread matches subjects while the UI thread adds, removes and re-dates entries; a scan
// must never see a half-made change, and passphrases nobody touches must always be seen.
TEST_F(ListStoreThreadedTest, MatchingRunsSafelyWhileTheListsChange) {
    WriteData("D1819", "stable phrase\r\n");
    ASSERT_TRUE(store_.LoadAll());

    std::atomic<bool> done{false};
    std::atomic<int> missed{0};
    std::atomic<int> falseHits{0};
    std::atomic<long> scans{0};
    std::thread filter([&] {
        while (!done.load()) {
            if (!store_.MatchSubject("Re: the STABLE PHRASE again")) {
                ++missed;
            }
            if (store_.MatchSubject("nothing to see here")) {
                ++falseHits;
            }
            store_.MatchSubject("volatile b7 maybe");
            store_.FindEntry(ListKind::D, "volatile b7");
            ++scans;
        }
    });

    for (int round = 0; round < 40; ++round) {
        for (char first : {'b', 'v', 'x'}) {
            const std::string text = std::string(1, first) + "olatile b" + std::to_string(round % 10);
            store_.AddEntry(ListKind::D, text);
            store_.AddEntry(ListKind::A, text + "@example.com");
            store_.SetExpiryDay(ListKind::A, text + "@example.com", round % 32);
            store_.RemoveEntry(ListKind::D, text);
        }
    }
    done = true;
    filter.join();

    EXPECT_GT(scans.load(), 0);
    EXPECT_EQ(missed.load(), 0);
    EXPECT_EQ(falseHits.load(), 0);
    EXPECT_TRUE(store_.MatchSubject("stable phrase"));
    EXPECT_FALSE(store_.MatchSubject("volatile b7"));
}

}  // namespace
}  // namespace bramvell
