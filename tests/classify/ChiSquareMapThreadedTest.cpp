// The chi-square store's map grows while other threads of the process read it: LMDB allows a change of
// the map's size only while no transaction is open, so the change waits for the readers.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "classify/ChiSquareStore.h"
#include "support/TempFolder.h"

namespace bramvell {
namespace {

ChiSquareStore::Change BigChange(int message) {
    ChiSquareStore::Change change;
    change.mailClass = MailClass::Ham;
    change.digest = DigestOfMessage(std::string("message ") + std::to_string(message));
    std::vector<std::string> tokens{"common"};
    for (int i = 0; i < 2000; ++i) {
        tokens.push_back("token-" + std::to_string(message) + "-" + std::to_string(i));
    }
    change.tokens = tokens;
    return change;
}

TEST(ChiSquareMapThreadedTest, GrowsWhileOtherThreadsReadAndLosesNothing) {
    testing::TempFolder temp;
    ChiSquareStore store;
    std::string problem;
    ASSERT_TRUE(store.Open(temp / "small", true, problem, 64 * 1024)) << problem;
    std::atomic<bool> writing{true};
    std::atomic<uint64_t> reads{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 2; ++r) {
        readers.emplace_back([&] {
            while (writing) {
                const ChiSquareStore::Snapshot snapshot(store);
                // Counts only ever grow while the writer learns: what a snapshot reads is whole.
                const uint64_t ham = snapshot.Totals().ham;
                EXPECT_EQ(snapshot.Counts("common").ham, ham);
                reads += 1;
            }
        });
    }
    constexpr int kMessages = 40;
    for (int message = 0; message < kMessages; ++message) {
        const ChiSquareStore::Change change = BigChange(message);
        std::vector<StoreOutcome> outcomes;
        EXPECT_TRUE(store.Apply({&change, 1}, outcomes, problem)) << problem;
        if (message % 8 == 0) {
            store.GrowMapAhead();
        }
    }
    writing = false;
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_GT(store.MapBytes(), 64u * 1024);
    EXPECT_GT(reads.load(), 0u);
    const ChiSquareStore::Snapshot snapshot(store);
    EXPECT_EQ(snapshot.Totals().ham, static_cast<uint64_t>(kMessages));
    EXPECT_EQ(snapshot.Counts("token-39-1999").ham, 1u);
}

// A thread that holds a snapshot cannot wait for every transaction to close: a write that fills the
// map then fails with a reason instead of waiting for ever.
TEST(ChiSquareMapThreadedTest, AFullMapUnderTheWritersOwnSnapshotFailsInsteadOfHanging) {
    testing::TempFolder temp;
    ChiSquareStore store;
    std::string problem;
    ASSERT_TRUE(store.Open(temp / "small", true, problem, 64 * 1024)) << problem;
    const ChiSquareStore::Snapshot held(store);
    const ChiSquareStore::Change change = BigChange(0);
    std::vector<StoreOutcome> outcomes;
    EXPECT_FALSE(store.Apply({&change, 1}, outcomes, problem));
    EXPECT_NE(problem.find("cannot grow"), std::string::npos) << problem;
}

}  // namespace
}  // namespace bramvell
