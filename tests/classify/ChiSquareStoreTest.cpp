// The chi-square store: learning, duplicates, moves, unlearning, map growth, file modes, two processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "classify/ChiSquareCountCache.h"
#include "classify/ChiSquareStore.h"
#include "classify/ChiSquareTrainer.h"
#include "support/TempFolder.h"

namespace bramvell {
namespace {

using testing::TempFolder;

ChiSquareStore::Change MakeChange(ChiSquareStore::Change::Kind kind, MailClass mailClass,
                                  const std::string& message, std::vector<std::string> tokens) {
    ChiSquareStore::Change change;
    change.kind = kind;
    change.mailClass = mailClass;
    change.digest = DigestOfMessage(message);
    change.tokens = std::move(tokens);
    return change;
}

constexpr auto kLearn = ChiSquareStore::Change::Kind::Learn;
constexpr auto kUnlearn = ChiSquareStore::Change::Kind::Unlearn;
constexpr auto kRelearn = ChiSquareStore::Change::Kind::Relearn;

class ChiSquareStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string problem;
        ASSERT_TRUE(store.Open(Folder(), true, problem)) << problem;
    }
    std::string Folder() const { return temp / "chisquare.lmdb"; }

    StoreOutcome ApplyOne(const ChiSquareStore::Change& change) {
        std::vector<StoreOutcome> outcomes;
        std::string problem;
        EXPECT_TRUE(store.Apply({&change, 1}, outcomes, problem)) << problem;
        return outcomes.empty() ? StoreOutcome::NotLearned : outcomes[0];
    }

    TempFolder temp;
    ChiSquareStore store;
};

struct Expected {
    StoreOutcome outcome;
    uint64_t spamMessages, hamMessages;
    uint32_t wordSpam, wordHam;
};

TEST_F(ChiSquareStoreTest, LearnSkipMoveAndUnlearnOneMessage) {
    const std::string message = "Subject: x\n\nbuy now\n";
    const std::vector<std::string> tokens = {"buy", "now"};
    const struct {
        ChiSquareStore::Change::Kind kind;
        MailClass mailClass;
        Expected expected;
    } steps[] = {
        {kLearn, MailClass::Spam, {StoreOutcome::Learned, 1, 0, 1, 0}},
        {kLearn, MailClass::Spam, {StoreOutcome::Duplicate, 1, 0, 1, 0}},
        {kLearn, MailClass::Ham, {StoreOutcome::Moved, 0, 1, 0, 1}},
        {kUnlearn, MailClass::Spam, {StoreOutcome::NotLearned, 0, 1, 0, 1}},
        {kUnlearn, MailClass::Ham, {StoreOutcome::Unlearned, 0, 0, 0, 0}},
        {kUnlearn, MailClass::Ham, {StoreOutcome::NotLearned, 0, 0, 0, 0}},
        // A relearned message counts as often as it was learned: a move or an unlearn takes all of it.
        {kRelearn, MailClass::Spam, {StoreOutcome::NotLearned, 0, 0, 0, 0}},
        {kLearn, MailClass::Spam, {StoreOutcome::Learned, 1, 0, 1, 0}},
        {kRelearn, MailClass::Ham, {StoreOutcome::NotLearned, 1, 0, 1, 0}},
        {kRelearn, MailClass::Spam, {StoreOutcome::Relearned, 2, 0, 2, 0}},
        {kRelearn, MailClass::Spam, {StoreOutcome::Relearned, 3, 0, 3, 0}},
        {kLearn, MailClass::Spam, {StoreOutcome::Duplicate, 3, 0, 3, 0}},
        {kLearn, MailClass::Ham, {StoreOutcome::Moved, 0, 1, 0, 1}},
        {kRelearn, MailClass::Ham, {StoreOutcome::Relearned, 0, 2, 0, 2}},
        {kUnlearn, MailClass::Ham, {StoreOutcome::Unlearned, 0, 0, 0, 0}},
    };
    int index = 0;
    for (const auto& step : steps) {
        EXPECT_EQ(ApplyOne(MakeChange(step.kind, step.mailClass, message, tokens)), step.expected.outcome) << index;
        const ChiSquareStore::Snapshot snapshot(store);
        EXPECT_EQ(snapshot.Totals().spam, step.expected.spamMessages) << index;
        EXPECT_EQ(snapshot.Totals().ham, step.expected.hamMessages) << index;
        EXPECT_EQ(snapshot.Counts("buy").spam, step.expected.wordSpam) << index;
        EXPECT_EQ(snapshot.Counts("buy").ham, step.expected.wordHam) << index;
        ++index;
    }
}

TEST_F(ChiSquareStoreTest, OneBatchCountsEachMessageOnceAndKeepsAcrossReopening) {
    const std::vector<ChiSquareStore::Change> batch = {
        MakeChange(kLearn, MailClass::Spam, "one", {"shared", "first"}),
        MakeChange(kLearn, MailClass::Spam, "two", {"shared"}),
        MakeChange(kLearn, MailClass::Spam, "one", {"shared", "first"}),  // the same bytes again
        MakeChange(kLearn, MailClass::Ham, "three", {"shared"}),
    };
    std::vector<StoreOutcome> outcomes;
    std::string problem;
    ASSERT_TRUE(store.Apply(batch, outcomes, problem));
    EXPECT_EQ(outcomes, (std::vector<StoreOutcome>{StoreOutcome::Learned, StoreOutcome::Learned,
                                                   StoreOutcome::Duplicate, StoreOutcome::Learned}));
    ChiSquareStore reopened;
    ASSERT_TRUE(reopened.Open(Folder(), false, problem)) << problem;
    const ChiSquareStore::Snapshot snapshot(reopened);
    EXPECT_EQ(snapshot.Totals().spam, 2u);
    EXPECT_EQ(snapshot.Totals().ham, 1u);
    EXPECT_EQ(snapshot.Counts("shared").spam, 2u);
    EXPECT_EQ(snapshot.Counts("shared").ham, 1u);
    EXPECT_EQ(snapshot.Counts("first").spam, 1u);
    EXPECT_EQ(snapshot.Counts("absent").spam + snapshot.Counts("absent").ham, 0u);
    MailClass learned = MailClass::Ham;
    EXPECT_TRUE(snapshot.LearnedClass(DigestOfMessage(std::string("two")), learned));
    EXPECT_EQ(learned, MailClass::Spam);
}

// A batch summed ahead ends as summing it in the write does: messages held already (as this class, as
// the other one and counted twice, twice in the batch itself), a relearn of a message not held, and
// messages left out of the sums (the duplicate, as a learning run leaves it out, and a new one that a
// stale look at the store took for held) are all corrected for.
TEST(ChiSquareStoreSumsAheadTest, CorrectionsForMessagesHeldAlreadyGiveTheSameStore) {
    TempFolder temp;
    const std::vector<ChiSquareStore::Change> before = {
        MakeChange(kLearn, MailClass::Spam, "held spam", {"cheap", "pills"}),
        MakeChange(kLearn, MailClass::Ham, "held ham", {"agenda", "pills"}),
        MakeChange(kRelearn, MailClass::Ham, "held ham", {"agenda", "pills"}),
    };
    std::vector<ChiSquareStore::Change> batch = {
        MakeChange(kLearn, MailClass::Spam, "new spam", {"cheap", "offer"}),
        MakeChange(kLearn, MailClass::Spam, "held spam", {"cheap", "pills"}),  // duplicate
        MakeChange(kLearn, MailClass::Spam, "held ham", {"agenda", "pills"}),  // moved, counted twice
        MakeChange(kLearn, MailClass::Ham, "new ham", {"agenda", "minutes"}),
        MakeChange(kLearn, MailClass::Ham, "new ham", {"agenda", "minutes"}),  // twice in the batch
        MakeChange(kRelearn, MailClass::Ham, "new ham", {"agenda", "minutes"}),
        MakeChange(kRelearn, MailClass::Ham, "never learned", {"minutes"}),
    };
    std::array<ChiSquareDeltas, 2> sums;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const bool spam = batch[i].mailClass == MailClass::Spam;
        if (i > 1) {
            sums[i < 3 ? 0 : 1].Add(batch[i].tokens, spam ? 1 : 0, spam ? 0 : 1);
        }
    }
    const std::array<std::span<const ChiSquareDeltas::Entry>, 2> runs = {sums[0].Summed(), sums[1].Summed()};
    std::vector<StoreOutcome> outcomes[2];
    ChiSquareStore stores[2];
    for (int ahead = 0; ahead < 2; ++ahead) {
        std::string problem;
        ASSERT_TRUE(stores[ahead].Open(temp / std::to_string(ahead), true, problem)) << problem;
        ASSERT_TRUE(stores[ahead].Apply(before, outcomes[ahead], problem)) << problem;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            batch[i].summedAhead = ahead == 1 && i > 1;
        }
        const ChiSquareStore::BatchHelp help{
            .summedAsNew = ahead == 1 ? runs : std::span<const std::span<const ChiSquareDeltas::Entry>>(),
            .written = nullptr};
        ASSERT_TRUE(stores[ahead].Apply(batch, outcomes[ahead], problem, help)) << problem;
    }
    EXPECT_EQ(outcomes[1], outcomes[0]);
    EXPECT_EQ(outcomes[1][2], StoreOutcome::Moved);
    const ChiSquareStore::Snapshot summedInWrite(stores[0]);
    const ChiSquareStore::Snapshot summedAhead(stores[1]);
    EXPECT_EQ(summedAhead.Totals().spam, summedInWrite.Totals().spam);
    EXPECT_EQ(summedAhead.Totals().ham, summedInWrite.Totals().ham);
    for (const std::string token : {"cheap", "pills", "agenda", "offer", "minutes"}) {
        EXPECT_EQ(summedAhead.Counts(token).spam, summedInWrite.Counts(token).spam) << token;
        EXPECT_EQ(summedAhead.Counts(token).ham, summedInWrite.Counts(token).ham) << token;
    }
    EXPECT_EQ(outcomes[1][6], StoreOutcome::NotLearned);
    EXPECT_EQ(summedAhead.Counts("agenda").ham, 2u);  // new ham twice; held ham's two taken out
    EXPECT_EQ(summedAhead.Counts("minutes").ham, 2u);
}

TEST(ChiSquareStoreFilesTest, FullMapGrowsAndNothingIsLost) {
    TempFolder temp;
    ChiSquareStore store;
    std::string problem;
    constexpr std::size_t kSmallMap = 64 * 1024;
    ASSERT_TRUE(store.Open(temp / "small", true, problem, kSmallMap)) << problem;
    std::vector<std::string> tokens;
    for (int i = 0; i < 5000; ++i) {
        tokens.push_back("token-number-" + std::to_string(i));
    }
    const ChiSquareStore::Change change = MakeChange(kLearn, MailClass::Ham, "big", tokens);
    std::vector<StoreOutcome> outcomes;
    ASSERT_TRUE(store.Apply({&change, 1}, outcomes, problem)) << problem;
    EXPECT_GT(store.MapBytes(), kSmallMap);
    const ChiSquareStore::Snapshot snapshot(store);
    EXPECT_EQ(snapshot.Counts("token-number-4999").ham, 1u);
    EXPECT_EQ(snapshot.Totals().ham, 1u);
}

TEST(ChiSquareStoreFilesTest, PrivateModesAndNoLinkFollowed) {
    TempFolder temp;
    {
        ChiSquareStore store;
        std::string problem;
        ASSERT_TRUE(store.Open(temp / "store", true, problem)) << problem;
    }
    struct stat status {};
    ASSERT_EQ(::stat((temp / "store").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat((temp / "store/data.mdb").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 077, 0u);

    std::filesystem::create_symlink(temp / "store", temp / "link");
    ChiSquareStore linked;
    std::string problem;
    EXPECT_FALSE(linked.Open(temp / "link", true, problem));
}

// Two processes learn into one store at once, one message per write transaction: no count is lost.
TEST(ChiSquareStoreFilesTest, TwoProcessesLearningAtOnceLoseNoCount) {
    TempFolder temp;
    const std::string folder = temp / "shared";
    {
        ChiSquareStore store;
        std::string problem;
        ASSERT_TRUE(store.Open(folder, true, problem)) << problem;
    }
    constexpr int kMessagesEach = 150;
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = ::fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            ChiSquareStore store;
            std::string problem;
            if (!store.Open(folder, true, problem)) {
                ::_exit(3);
            }
            for (int i = 0; i < kMessagesEach; ++i) {
                const std::string message = std::to_string(child) + "/" + std::to_string(i);
                const ChiSquareStore::Change change = MakeChange(
                    kLearn, MailClass::Spam, message, {"shared", "child" + std::to_string(child)});
                std::vector<StoreOutcome> outcomes;
                if (!store.Apply({&change, 1}, outcomes, problem)) {
                    ::_exit(4);
                }
            }
            ::_exit(0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ChiSquareStore store;
    std::string problem;
    ASSERT_TRUE(store.Open(folder, false, problem)) << problem;
    const ChiSquareStore::Snapshot snapshot(store);
    EXPECT_EQ(snapshot.Totals().spam, 2u * kMessagesEach);
    EXPECT_EQ(snapshot.Counts("shared").spam, 2u * kMessagesEach);
    EXPECT_EQ(snapshot.Counts("child0").spam, static_cast<uint32_t>(kMessagesEach));
    EXPECT_EQ(snapshot.Counts("child1").spam, static_cast<uint32_t>(kMessagesEach));
}

// What Apply reports as written is what a snapshot then reads, a token taken back to nothing included,
// and a cache started from it gives the snapshot's counts for the tokens it holds and for the others.
TEST_F(ChiSquareStoreTest, WrittenCountsAreTheSnapshotsAndSeedACache) {
    const std::vector<ChiSquareStore::Change> changes = {
        MakeChange(kLearn, MailClass::Spam, "one", {"buy", "now"}),
        MakeChange(kLearn, MailClass::Ham, "two", {"meeting", "now"}),
        MakeChange(kLearn, MailClass::Spam, "three", {"buy", "gone"}),
        MakeChange(kUnlearn, MailClass::Spam, "three", {"buy", "gone"}),
    };
    std::vector<StoreOutcome> outcomes;
    std::string problem;
    ApplyOne(MakeChange(kLearn, MailClass::Ham, "earlier", {"agenda"}));
    std::vector<TokenCountTable::Assignment> assignments;
    ASSERT_TRUE(store.Apply(changes, outcomes, problem, {.summedAsNew = {}, .written = &assignments}))
        << problem;
    TokenCountTable written;
    written.AssignAll(assignments);
    EXPECT_EQ(written.Size(), 4u);  // buy, now, meeting, gone: not the earlier run's agenda
    const ChiSquareStore::Snapshot snapshot(store);
    for (const std::string token : {"buy", "now", "meeting", "gone"}) {
        const TokenCounts* counts = written.Find(token, TokenCountTable::HashOf(token));
        ASSERT_NE(counts, nullptr) << token;
        EXPECT_EQ(counts->spam, snapshot.Counts(token).spam) << token;
        EXPECT_EQ(counts->ham, snapshot.Counts(token).ham) << token;
    }
    ChiSquareCountCache cache(snapshot, std::move(written));
    const std::vector<std::string_view> tokens = {"agenda", "buy", "gone", "now"};
    std::vector<TokenCounts> counts;
    cache.CountsOf(tokens, counts);
    ASSERT_EQ(counts.size(), 4u);
    EXPECT_EQ(counts[0].ham, 1u);
    EXPECT_EQ(counts[1].spam, 1u);
    EXPECT_EQ(counts[2].spam + counts[2].ham, 0u);
    EXPECT_EQ(counts[3].spam + counts[3].ham, 2u);
}

TEST_F(ChiSquareStoreTest, RelearningStopsAtTheMostWeight) {
    const std::string message = "Subject: x\n\nbuy now\n";
    ApplyOne(MakeChange(kLearn, MailClass::Spam, message, {"buy"}));
    for (uint32_t i = 1; i < ChiSquareStore::kMaxWeight; ++i) {
        EXPECT_EQ(ApplyOne(MakeChange(kRelearn, MailClass::Spam, message, {"buy"})), StoreOutcome::Relearned);
    }
    EXPECT_EQ(ApplyOne(MakeChange(kRelearn, MailClass::Spam, message, {"buy"})), StoreOutcome::NotLearned);
    const ChiSquareStore::Snapshot snapshot(store);
    MailClass learned = MailClass::Ham;
    uint32_t weight = 0;
    ASSERT_TRUE(snapshot.Learned(DigestOfMessage(message), learned, weight));
    EXPECT_EQ(learned, MailClass::Spam);
    EXPECT_EQ(weight, ChiSquareStore::kMaxWeight);
    EXPECT_EQ(snapshot.Counts("buy").spam, ChiSquareStore::kMaxWeight);
}

// Training on errors: a spam message that reads like the good mail it was learned beside is learned
// again until the store judges it spam, and unlearning it afterwards takes every count of it out.
TEST(ChiSquareTrainerTest, LearningBothClassesRelearnsWhatTheStoreMisjudges) {
    TempFolder temp;
    std::filesystem::create_directories(temp / "spam");
    std::filesystem::create_directories(temp / "ham");
    for (int i = 0; i < 6; ++i) {
        testing::WriteWholeFile(
            temp / ("ham/" + std::to_string(i) + ".eml"),
            "Subject: meeting " + std::to_string(i) + "\n\nagenda minutes project budget\n");
        testing::WriteWholeFile(temp / ("spam/" + std::to_string(i) + ".eml"),
                                "Subject: offer " + std::to_string(i) + "\n\ncheap pills casino winner\n");
    }
    // Spam dressed as the good mail: it shares more words with the good messages than with the spam.
    const std::string dressed = "Subject: meeting\n\nagenda minutes project budget cheap\n";
    testing::WriteWholeFile(temp / "spam/dressed.eml", dressed);
    ChiSquareStore store;
    std::string problem;
    ASSERT_TRUE(store.Open(temp / "store", true, problem));
    ChiSquareTrainer trainer(store);
    ChiSquareTrainingSummary summary;
    ASSERT_TRUE(trainer.LearnFolders({{MailClass::Spam, temp / "spam"}, {MailClass::Ham, temp / "ham"}},
                                     summary, problem))
        << problem;
    EXPECT_EQ(summary.learned, 13u);
    EXPECT_GE(summary.relearned, 1u);
    uint32_t weight = 0;
    {
        const ChiSquareStore::Snapshot snapshot(store);
        MailClass learned = MailClass::Ham;
        ASSERT_TRUE(snapshot.Learned(DigestOfMessage(dressed), learned, weight));
        EXPECT_EQ(learned, MailClass::Spam);
        EXPECT_GT(weight, 1u);
        EXPECT_EQ(snapshot.Totals().spam + snapshot.Totals().ham, 13u + summary.relearned);
    }
    ChiSquareTrainingSummary taken;
    ASSERT_TRUE(trainer.Unlearn(MailClass::Spam, {temp / "spam/dressed.eml"}, taken, problem));
    const ChiSquareStore::Snapshot snapshot(store);
    EXPECT_EQ(snapshot.Counts("budget").spam, 0u);
    EXPECT_EQ(snapshot.Totals().spam + snapshot.Totals().ham, 13u + summary.relearned - weight);
}

TEST(ChiSquareTrainerTest, LearnsAFolderSkipsItOnTheSecondRunAndUnlearnsFiles) {
    TempFolder temp;
    std::filesystem::create_directories(temp / "mail");
    testing::WriteWholeFile(temp / "mail/a.eml", "Subject: cheap pills\n\ncheap pills here\n");
    testing::WriteWholeFile(temp / "mail/b.eml", "Subject: meeting\n\nagenda attached\n");
    ChiSquareStore store;
    std::string problem;
    ASSERT_TRUE(store.Open(temp / "store", true, problem));
    ChiSquareTrainer trainer(store);
    ChiSquareTrainingSummary first;
    ASSERT_TRUE(trainer.LearnFolder(MailClass::Spam, temp / "mail", first, problem));
    EXPECT_EQ(first.learned, 2u);
    ChiSquareTrainingSummary second;
    ASSERT_TRUE(trainer.LearnFolder(MailClass::Spam, temp / "mail", second, problem));
    EXPECT_EQ(second.duplicates, 2u);
    EXPECT_EQ(second.learned, 0u);
    ChiSquareTrainingSummary taken;
    ASSERT_TRUE(trainer.Unlearn(MailClass::Spam, {temp / "mail/b.eml", temp / "missing.eml"}, taken, problem));
    EXPECT_EQ(taken.unlearned, 1u);
    EXPECT_EQ(taken.unreadable, 1u);
    const ChiSquareStore::Snapshot snapshot(store);
    EXPECT_EQ(snapshot.Totals().spam, 1u);
    EXPECT_EQ(snapshot.Counts("subject:cheap").spam, 1u);
    EXPECT_EQ(snapshot.Counts("agenda").spam, 0u);
}

}  // namespace
}  // namespace bramvell
