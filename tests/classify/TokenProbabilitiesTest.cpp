#include "classify/TokenProbabilities.h"

#include <gtest/gtest.h>

#include "ClassifyTestSupport.h"
#include "classify/TokenScorer.h"

namespace bramvell {
namespace {

using testing::BucketOf;
using testing::ClassifyFixture;
using testing::KeyOf;
using testing::MakeRecord;

// Scores a text line by line with and without the precomputed probabilities; both must agree.
void ExpectSameScoring(const TokenTables& tables, const TokenProbabilities& probabilities, ScoringMode mode,
                       const std::vector<std::pair<std::string, bool>>& lines) {
    TokenScorer plain(mode);
    TokenScorer fast(mode);
    fast.UseProbabilities(&probabilities);
    plain.Reset(&tables, 7, 11);
    fast.Reset(&tables, 7, 11);
    for (const auto& [line, header] : lines) {
        plain.FeedLine(line, header);
        fast.FeedLine(line, header);
        for (int i = 0; i < kSlotCount; ++i) {
            ASSERT_EQ(fast.Slots()[i].probability, plain.Slots()[i].probability) << line << " slot " << i;
            ASSERT_EQ(fast.Slots()[i].key, plain.Slots()[i].key) << line << " slot " << i;
        }
    }
    EXPECT_EQ(fast.Score(), plain.Score());
}

class TokenProbabilitiesTest : public ::testing::Test {
  protected:
    void Build(ScoringMode mode) { probabilities.Build(*fixture.tables, 7, 11, mode); }
    ClassifyFixture fixture;
    TokenProbabilities probabilities;
};

// Awkward tables as damaged or hand-made files give them: duplicate keys (the first counts), keys with
// capitals, records without counts for a form (the other table's counts stand in), keys that do not
// fit their bucket or hold non-letters (never found), long and short keys.
TEST_F(TokenProbabilitiesTest, AgreesWithTableLookupsOnAwkwardTables) {
    fixture.AddBody("money", {0, 0, 0}, {5, 0, 0});
    fixture.AddBody("money", {9, 0, 0}, {0, 0, 0});  // duplicate: ignored
    fixture.AddBody("MEETING", {4, 1, 0}, {0, 0, 1});
    fixture.AddBody("capital", {0, 0, 3}, {0, 2, 0});  // Lower form has no counts
    fixture.AddHeader("capital", {1, 0, 0}, {0, 0, 0});
    fixture.AddHeader("subject", {3, 0, 0}, {3, 0, 0});
    fixture.AddBody("internationalization", {1, 1, 1}, {2, 2, 2});
    fixture.AddBody("internationalist", {0, 0, 0}, {0, 0, 0});  // same key, no counts at all
    fixture.AddBody("abc", {2, 0, 0}, {1, 0, 0});
    TokenRecord misfiled = MakeRecord("zebra", {1, 0, 0}, {0, 0, 0});
    fixture.tables->bodyTokenTable().Append(BucketOf("apple"), misfiled);
    TokenRecord odd = MakeRecord("xylophone", {1, 0, 0}, {1, 0, 0});
    odd.key[4] = '1';
    fixture.tables->bodyTokenTable().Append(BucketOf("xylophone"), odd);
    const std::vector<std::pair<std::string, bool>> lines = {
        {"Subject: money MONEY Money capital CAPITAL Capital", true},
        {"money meeting MEETING Meeting mEETING abc ABC Abc abcd", false},
        {"Internationalization INTERNATIONALIZATION internationalist internationalXYZ", false},
        {"zebra apple xylophone xylo1hone capital subject SUBJECT unknown words here", false},
        {"money money money money money money money money money money money money money money", false},
    };
    for (ScoringMode mode : {ScoringMode::Filter, ScoringMode::Evaluation}) {
        Build(mode);
        ExpectSameScoring(*fixture.tables, probabilities, mode, lines);
    }
}

TEST_F(TokenProbabilitiesTest, UsedOnlyWhileTablesAndCountsAreTheOnesItWasBuiltFrom) {
    fixture.AddBody("money", {0, 0, 0}, {5, 0, 0});
    Build(ScoringMode::Filter);
    EXPECT_TRUE(probabilities.Fits(fixture.tables.get(), 7, 11, ScoringMode::Filter));
    EXPECT_FALSE(probabilities.Fits(fixture.tables.get(), 8, 11, ScoringMode::Filter));
    EXPECT_FALSE(probabilities.Fits(fixture.tables.get(), 7, 11, ScoringMode::Evaluation));
    EXPECT_FALSE(probabilities.Fits(nullptr, 7, 11, ScoringMode::Filter));
    // Learning a word afterwards: the scorer goes back to the tables and sees it.
    fixture.AddBody("meeting", {5, 0, 0}, {0, 0, 0});
    EXPECT_FALSE(probabilities.Fits(fixture.tables.get(), 7, 11, ScoringMode::Filter));
    TokenScorer scorer;
    scorer.UseProbabilities(&probabilities);
    scorer.Reset(fixture.tables.get(), 7, 11);
    scorer.FeedLine("meeting", false);
    EXPECT_EQ(scorer.Slots()[0].probability, kHamOnlyProbability);
}

}  // namespace
}  // namespace bramvell
