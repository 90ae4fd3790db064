#include "runtime/QuarantineActions.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "classify/ChiSquareStore.h"
#include "classify/ScorerChoice.h"
#include "classify/TokenTables.h"
#include "config/FilterSettings.h"
#include "support/TempFolder.h"

namespace bramvell::testing {
namespace {

namespace fs = std::filesystem;

class QuarantineActionsTest : public ::testing::Test {
  protected:
    QuarantineActionsTest() {
        settings_.SetDefaults();
        settings_.programFolder = folder_.path();
        settings_.tokenTables = &tables_;
        fs::create_directories(folder_ / "Data");
        fs::create_directories(folder_ / "quarantine");
        settings_.SetQuarantineFolder(folder_ / "quarantine");
    }
    std::string Copy(const std::string& name, const std::string& subject) {
        const std::string path = folder_ / ("quarantine/" + name);
        WriteWholeFile(path, "From: sender@x.example\r\nSubject: " + subject + "\r\n\r\ncheap pills " +
                                 subject + "\r\n.\r\n");
        return path;
    }
    MessageTotals Totals() {
        ChiSquareStore store;
        std::string problem;
        EXPECT_TRUE(store.Open(ChiSquareStoreFolder(folder_.path()), true, problem)) << problem;
        return ChiSquareStore::Snapshot(store).Totals();
    }

    TempFolder folder_;
    FilterSettings settings_;
    TokenTables tables_;
};

TEST_F(QuarantineActionsTest, NotSpamAfterSpamMovesTheMessagesInTheChiSquareStore) {
    const std::vector<std::string> files = {Copy("20261208100000.txt", "one"),
                                            Copy("20261208100001.txt", "two"),
                                            Copy("20261208100002.txt", "three")};
    QuarantineActions actions(settings_, nullptr);
    const QuarantineActionResult spam = actions.LearnAsSpam(files);
    EXPECT_EQ(spam.done, 3u);
    EXPECT_EQ(QuarantineResultText(spam), "3 messages learned as spam");
    EXPECT_EQ(settings_.spamMessageCount, 3);
    EXPECT_EQ(Totals().spam, 3u);

    QuarantineActionResult good = actions.LearnAsGood({files[0], folder_ / "quarantine/20261208100009.txt"});
    EXPECT_EQ(good.done, 1u);
    EXPECT_EQ(good.movedFromSpam, 1u);
    EXPECT_EQ(good.failed, 1u);
    good.trusted = 1;
    EXPECT_EQ(
        QuarantineResultText(good).rfind("1 message learned as good, 1 taken out of spam; 1 sender added to "
                                         "Trusted Addresses; 1 failed",
                                         0),
        0u);
    EXPECT_EQ(Totals().spam, 2u);
    EXPECT_EQ(Totals().ham, 1u);
    EXPECT_EQ(settings_.hamMessageCount, 1);
}

TEST_F(QuarantineActionsTest, TheRunningFiltersStoreIsUsedWhenItIsOpen) {
    ChiSquareStore running;
    std::string problem;
    ASSERT_TRUE(running.Open(ChiSquareStoreFolder(folder_.path()), true, problem));
    QuarantineActions actions(settings_, &running);
    EXPECT_EQ(actions.LearnAsGood({Copy("20261208100000.txt", "good")}).done, 1u);
    EXPECT_EQ(ChiSquareStore::Snapshot(running).Totals().ham, 1u);
}

TEST_F(QuarantineActionsTest, DeleteRemovesOnlyQuarantineCopies) {
    const std::string copy = Copy("20261208100000.txt", "one");
    const std::string other = folder_ / "quarantine/keep.eml";
    WriteWholeFile(other, "not ours");
    QuarantineActions actions(settings_, nullptr);
    const QuarantineActionResult result = actions.Delete({copy, other});
    EXPECT_EQ(QuarantineResultText(result), "1 message deleted; 1 failed");
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_TRUE(fs::exists(other));
}

}  // namespace
}  // namespace bramvell::testing
