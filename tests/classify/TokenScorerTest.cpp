#include "classify/TokenScorer.h"

#include <gtest/gtest.h>

#include "ClassifyTestSupport.h"

namespace bramvell {
namespace {

using testing::ClassifyFixture;

std::vector<int32_t> SlotValues(const TokenScorer& scorer) {
    std::vector<int32_t> values;
    for (const TokenSlot& slot : scorer.Slots()) {
        values.push_back(slot.probability);
    }
    return values;
}

TEST(RateProbabilityTest, WorkedExample) {
    // 100 spam and 200 ham messages, s = 10, g = 2 x 5: a = 1000, b = 1500, p = 6666.
    EXPECT_EQ(RateProbability(10, 10, 100, 200), 6666);
}

TEST(RateProbabilityTest, ZeroMessageCountsDivideAsOne) {
    EXPECT_EQ(RateProbability(1, 2, 0, 0), 3333);  // a = 10000, b = 10000 + 20000
    EXPECT_EQ(RateProbability(0, 0, 5, 5), 100);   // b = 0
    EXPECT_EQ(RateProbability(3, 0, 5, 5), 10000);
    EXPECT_EQ(RateProbability(0, 4, 5, 5), 0);
}

TEST(RateProbabilityTest, HugeCountsDoNotWrap) {
    const uint64_t most = 3ull * 4294967295ull;
    EXPECT_EQ(RateProbability(most, 0, 1, 1), 10000);
    EXPECT_EQ(RateProbability(most, 2 * most, 1, 1), 3333);
}

TEST(ScoreOfSlotsTest, IsTheMeanWithEmptySlotsCountingZero) {
    TopTokenSlots slots{};
    for (TokenSlot& slot : slots) {
        slot.probability = 9900;
    }
    EXPECT_EQ(ScoreOfSlots(slots), 9900);
    TopTokenSlots one{};
    one[0].probability = 9900;
    EXPECT_EQ(ScoreOfSlots(one), 660);
    EXPECT_EQ(ScoreOfSlots(TopTokenSlots{}), 0);
}

class TokenScorerTest : public ::testing::Test {
  protected:
    ClassifyFixture fixture;
    TokenScorer scorer;

    void Reset(int32_t spamMessages = 100, int32_t hamMessages = 200) {
        scorer.Reset(fixture.tables.get(), spamMessages, hamMessages);
    }
    int32_t Single(const std::string& line, bool header = false) {
        Reset();
        scorer.FeedLine(line, header);
        return scorer.Slots()[0].probability;
    }
};

TEST_F(TokenScorerTest, ProbabilityRules) {
    fixture.AddBody("spammy", {0, 0, 0}, {4, 0, 0});
    fixture.AddBody("hammy", {3, 0, 0}, {0, 0, 0});
    fixture.AddBody("mixed", {5, 0, 0}, {10, 0, 0});
    fixture.AddBody("empty", {0, 0, 0}, {0, 0, 0});
    EXPECT_EQ(Single("spammy"), 9900);
    EXPECT_EQ(Single("hammy"), 100);
    EXPECT_EQ(Single("mixed"), 6666);
    EXPECT_EQ(Single("empty"), 3500);
    EXPECT_EQ(Single("unknown"), 1000);
}

TEST_F(TokenScorerTest, CaseFormsSumTheirCounters) {
    // ham Lower/Capitalised/Upper = 1/2/4; spam = 10/20/40.
    fixture.AddBody("free", {1, 2, 4}, {10, 20, 40});
    EXPECT_EQ(Single("free"), RateProbability(10, 2, 100, 200));
    EXPECT_EQ(Single("Free"), RateProbability(30, 6, 100, 200));
    EXPECT_EQ(Single("FREE"), RateProbability(70, 14, 100, 200));
    EXPECT_EQ(Single("fREE"), RateProbability(70, 14, 100, 200));
}

TEST_F(TokenScorerTest, PrimaryTableFollowsTheHeaderFlagAndFallsBackWhenItsFormIsEmpty) {
    fixture.AddHeader("offer", {0, 0, 0}, {0, 0, 5});  // learned only as OFFER in Subject lines
    fixture.AddBody("offer", {2, 0, 0}, {0, 0, 0});
    EXPECT_EQ(Single("OFFER", true), 9900);
    // Met as "offer" in a Subject line: no Lower counts in the header table, so the body's count.
    EXPECT_EQ(Single("offer", true), 100);
    EXPECT_EQ(Single("offer", false), 100);
    // Only the secondary table knows it: unseen.
    fixture.AddBody("bodyonly", {0, 0, 0}, {9, 0, 0});
    EXPECT_EQ(Single("bodyonly", true), 1000);
}

TEST_F(TokenScorerTest, KeysCompareWithoutCaseEvenWhenAFileHeldCapitals) {
    TokenRecord record = testing::MakeRecord("xmoney", {0, 0, 0}, {1, 0, 0});
    std::memcpy(record.key, "MONEY", 5);
    fixture.tables->bodyTokenTable().Append(testing::BucketOf("xmo"), record);
    EXPECT_EQ(Single("xmoney"), 9900);
}

TEST_F(TokenScorerTest, FirstFifteenTokensFillTheSlotsInOrder) {
    fixture.AddBody("spam", {0, 0, 0}, {1, 0, 0});
    Reset();
    scorer.FeedLine("spam spam spam spam spam spam spam spam spam spam spam spam spam spam spam", false);
    EXPECT_EQ(scorer.FilledSlots(), 15);
    EXPECT_EQ(scorer.Score(), 9900);
    Reset();
    scorer.FeedLine("spam", false);
    EXPECT_EQ(scorer.Score(), 660);
    Reset();
    EXPECT_EQ(scorer.Score(), 0);
}

TEST_F(TokenScorerTest, LaterTokensReplaceTheLeastInterestingSlotWhenStrictlyMoreInteresting) {
    fixture.AddBody("mid", {1, 0, 0}, {1, 0, 0});  // rate with 1/1 counts: a = 10000, b = 30000 -> 3333
    fixture.AddBody("spam", {0, 0, 0}, {1, 0, 0});
    fixture.AddBody("ham", {1, 0, 0}, {0, 0, 0});
    scorer.Reset(fixture.tables.get(), 1, 1);
    // Fourteen unseen (1000) and one 3333 at slot 5.
    scorer.FeedLine("aaa bbb ccc ddd eee mid fff ggg hhh iii jjj kkk lll mmm nnn", false);
    EXPECT_EQ(scorer.Slots()[5].probability, 3333);
    // An unseen token competes as 3500: less interesting than 3333, changes nothing.
    scorer.FeedLine("zzz", false);
    EXPECT_EQ(scorer.Slots()[5].probability, 3333);
    // 9900 beats 3333 (the least interesting slot), stored with its key.
    scorer.FeedLine("spam", false);
    EXPECT_EQ(scorer.Slots()[5].probability, 9900);
    EXPECT_EQ(scorer.Slots()[5].key, testing::KeyOf("spam"));
    // Now every slot is 1000 or 9900 (interest 4000, 4900); 100 has interest 4900 and replaces the
    // lowest-index 1000.
    scorer.FeedLine("ham", false);
    EXPECT_EQ(scorer.Slots()[0].probability, 100);
    // Equal interest is not enough: once only 100s and 9900s remain nothing moves.
    for (int i = 0; i < 20; ++i) {
        scorer.FeedLine("ham spam", false);
    }
    for (int32_t value : SlotValues(scorer)) {
        EXPECT_TRUE(value == 100 || value == 9900) << value;
    }
}

TEST_F(TokenScorerTest, EvaluationUsesTheRateAloneAndUnseenIsNeutral) {
    fixture.AddBody("spammy", {0, 0, 0}, {4, 0, 0});
    fixture.AddBody("hammy", {3, 0, 0}, {0, 0, 0});
    TokenScorer evaluation(ScoringMode::Evaluation);
    evaluation.Reset(fixture.tables.get(), 10, 10);
    evaluation.FeedLine("spammy hammy unknown", false);
    EXPECT_EQ(SlotValues(evaluation)[0], 10000);
    EXPECT_EQ(SlotValues(evaluation)[1], 0);
    EXPECT_EQ(SlotValues(evaluation)[2], 3500);
}

TEST_F(TokenScorerTest, WithoutTablesEveryTokenIsUnseen) {
    scorer.Reset(nullptr, 0, 0);
    scorer.FeedLine(
        "one two three four five six seven eight nine ten eleven twelve thirteen fourteen fifteen sixteen",
        false);
    EXPECT_EQ(scorer.Score(), 1000);
}

}  // namespace
}  // namespace bramvell
