// The chi-square scorer's arithmetic against values worked out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "classify/ChiSquareClassifier.h"
#include "classify/ChiSquareMath.h"

namespace bramvell {
namespace {

constexpr ChiSquareParameters kEven{1.0, 0.5, 0.1};  // s = 1, x = 0.5, minimum deviation 0.1

struct RobinsonCase {
    uint64_t spam, ham, spamMessages, hamMessages;
    double expected;
};

TEST(ChiSquareMathTest, RobinsonProbabilityOfCounts) {
    const RobinsonCase cases[] = {
        // b = 0.3, g = 0.05, p = 6/7, n = 4: (0.5 + 4 * 6/7) / 5
        {3, 1, 10, 20, 0.7857142857},
        {0, 0, 10, 20, 0.5},         // unseen: the prior
        {1, 0, 0, 0, 0.75},          // no messages counted divide as one: p = 1, (0.5 + 1) / 2
        {0, 2, 10, 10, 0.1666666667},  // p = 0: 0.5 / 3
        {5, 5, 10, 10, 0.5},
    };
    for (const RobinsonCase& c : cases) {
        EXPECT_NEAR(RobinsonProbability(c.spam, c.ham, c.spamMessages, c.hamMessages, kEven), c.expected, 1e-9)
            << c.spam << "/" << c.ham;
    }
    EXPECT_NEAR(RobinsonProbability(0, 0, 5, 5, ChiSquareParameters{0.3, 0.4, 0.2}), 0.4, 1e-12);
}

TEST(ChiSquareMathTest, InverseChiSquareOfSmallCases) {
    EXPECT_NEAR(InverseChiSquare(2.0, 1), 0.3678794412, 1e-9);  // e^-1
    EXPECT_NEAR(InverseChiSquare(4.0, 2), 0.4060058497, 1e-9);  // e^-2 (1 + 2)
    EXPECT_NEAR(InverseChiSquare(6.0, 3), 0.4231900811, 1e-9);  // e^-3 (1 + 3 + 4.5)
    EXPECT_DOUBLE_EQ(InverseChiSquare(0.0, 3), 1.0);
    // Two thousand degrees of freedom at their mean: near one half, where e^-1000 alone would be 0.
    const double atMean = InverseChiSquare(2000.0, 1000);
    EXPECT_GT(atMean, 0.48);
    EXPECT_LT(atMean, 0.50);
}

struct FisherCase {
    std::vector<double> probabilities;
    int32_t expected;
};

TEST(ChiSquareMathTest, FisherScoreOfSmallCases) {
    const FisherCase cases[] = {
        {{}, 5000},
        {{0.9}, 9000},       // one token: H = 0.9, S = 0.1
        {{0.5, 0.5}, 5000},  // H = S
        // H = 0.72 (1 + 0.3285041) = 0.9565229, S = 0.02 (1 + 3.9120230) = 0.0982405
        {{0.9, 0.8}, 9291},
        {{0.1, 0.2}, 709},
        {{1.0, 1.0, 1.0}, 10000},
        {{0.0, 0.0, 0.0}, 0},
    };
    for (const FisherCase& c : cases) {
        EXPECT_EQ(FisherScore(c.probabilities), c.expected) << c.probabilities.size();
    }
}

TEST(ChiSquareMathTest, VerdictsAtTheCutoffs) {
    const ChiSquareCutoffs cutoffs{9000, 2000};
    const std::pair<int32_t, ChiSquareVerdict> cases[] = {
        {10000, ChiSquareVerdict::Spam}, {9000, ChiSquareVerdict::Spam},  {8999, ChiSquareVerdict::Unsure},
        {2001, ChiSquareVerdict::Unsure}, {2000, ChiSquareVerdict::Good}, {0, ChiSquareVerdict::Good},
    };
    for (const auto& [score, verdict] : cases) {
        EXPECT_EQ(VerdictOfScore(score, cutoffs), verdict) << score;
    }
}

TEST(ChiSquareMathTest, ThresholdLevelsRiseAndOutOfRangeReadsAsLevelOne) {
    int32_t previous = 0;
    for (int level = 1; level <= 9; ++level) {
        const int32_t cutoff = CutoffsOfLevel(true, level).spam;
        EXPECT_GT(cutoff, previous) << level;
        EXPECT_LE(cutoff, 10000);
        previous = cutoff;
    }
    EXPECT_EQ(CutoffsOfLevel(true, 0).spam, CutoffsOfLevel(true, 1).spam);
    EXPECT_EQ(CutoffsOfLevel(true, 10).spam, CutoffsOfLevel(true, 1).spam);
    EXPECT_EQ(CutoffsOfLevel(false, 7).spam, CutoffsOfLevel(true, 1).spam);
}

TEST(ChiSquareMathTest, ScoreLeavesOutNeutralTokensAndListsTheTellingFirst) {
    const std::vector<std::string> tokens = {"even", "hammy", "spammy", "unseen"};
    const std::vector<TokenCounts> counts = {{5, 5}, {0, 9}, {9, 0}, {0, 0}};
    const ChiSquareResult result = ScoreTokenCounts(tokens, counts, {10, 10}, kEven, {9000, 2000}, 10);
    // f: 0.5, 0.05, 0.95, 0.5: two tokens count, and they cancel.
    EXPECT_EQ(result.tokensUsed, 2u);
    EXPECT_EQ(result.score, 5000);
    EXPECT_EQ(result.verdict, ChiSquareVerdict::Unsure);
    ASSERT_EQ(result.telling.size(), 2u);
    EXPECT_EQ(result.telling[0].token, "hammy");  // equally telling: input order
    EXPECT_NEAR(result.telling[0].probability, 0.05, 1e-12);
    EXPECT_EQ(result.telling[1].token, "spammy");
}

}  // namespace
}  // namespace bramvell
