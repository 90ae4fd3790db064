#include "classify/ChiSquareDeltas.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace bramvell {
namespace {

std::vector<std::pair<std::string, int32_t>> SpamOf(std::span<const ChiSquareDeltas::Entry> summed) {
    std::vector<std::pair<std::string, int32_t>> out;
    for (const ChiSquareDeltas::Entry& entry : summed) {
        out.emplace_back(std::string(entry.token), entry.spam);
    }
    return out;
}

// Two batches' sums merged in turn through one scratch buffer, as the tokenizing threads do: the first
// one's result is still read (by the store's write) while the second one is summed.
TEST(ChiSquareDeltasTest, SumsThatShareAScratchBufferKeepTheirOwnResults) {
    const std::vector<TokenList> first = {std::vector<std::string>{"b", "x-long-token-beyond-sixteen-bytes"},
                                          std::vector<std::string>{"a", "b"},
                                          std::vector<std::string>{"a", "c"}};
    const std::vector<TokenList> second = {std::vector<std::string>{"c", "d"}, std::vector<std::string>{"d"},
                                           std::vector<std::string>{"a", "d"}};
    ChiSquareDeltas::Buffer scratch;
    ChiSquareDeltas one;
    ChiSquareDeltas two;
    for (const TokenList& tokens : first) {
        one.Add(tokens, 1, 0);
    }
    const std::span<const ChiSquareDeltas::Entry> oneSummed = one.Summed(&scratch);
    const auto expectedOne =
        decltype(SpamOf(oneSummed)){{"a", 2}, {"b", 2}, {"c", 1}, {"x-long-token-beyond-sixteen-bytes", 1}};
    EXPECT_EQ(SpamOf(oneSummed), expectedOne);
    for (int round = 0; round < 2; ++round) {  // the second time with the buffers swapped about
        two.Clear();
        for (const TokenList& tokens : second) {
            two.Add(tokens, 2, 0);
        }
        const auto expectedTwo = decltype(SpamOf(oneSummed)){{"a", 2}, {"c", 2}, {"d", 6}};
        EXPECT_EQ(SpamOf(two.Summed(&scratch)), expectedTwo);
        EXPECT_EQ(SpamOf(oneSummed), expectedOne);
        EXPECT_EQ(SpamOf(one.Summed()), expectedOne);  // summed once: not merged again
    }
}

}  // namespace
}  // namespace bramvell
