// The token count table: growth keeps every token, later assignments win, lookups in bulk agree with
// lookups one by one.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "classify/TokenCountTable.h"

namespace bramvell {
namespace {

TEST(TokenCountTableTest, KeepsEveryTokenThroughGrowthAndTakesTheLastAssignment) {
    // Far more tokens than the first slots hold, so that the table grows several times while
    // assignments are under way; every second token is assigned twice, the second time winning.
    constexpr uint32_t kTokens = 300000;
    std::vector<std::string> names;
    for (uint32_t i = 0; i < kTokens; ++i) {
        names.push_back("token" + std::to_string(i));
    }
    std::vector<TokenCountTable::Assignment> assignments;
    for (uint32_t i = 0; i < kTokens; ++i) {
        assignments.push_back({names[i], {i, 1}});
    }
    for (uint32_t i = 0; i < kTokens; i += 2) {
        assignments.push_back({names[i], {i, 2}});
    }
    TokenCountTable table;
    table.AssignAll(assignments);
    EXPECT_EQ(table.Size(), kTokens);

    std::vector<std::string_view> tokens(names.begin(), names.end());
    tokens.push_back("never-assigned");
    std::vector<uint32_t> hashes;
    for (std::string_view token : tokens) {
        hashes.push_back(TokenCountTable::HashOf(token));
    }
    std::vector<TokenCounts*> found(tokens.size());
    table.FindAll(tokens, hashes, found);
    for (uint32_t i = 0; i < kTokens; ++i) {
        ASSERT_NE(found[i], nullptr) << names[i];
        EXPECT_EQ(found[i]->spam, i);
        EXPECT_EQ(found[i]->ham, i % 2 == 0 ? 2u : 1u) << names[i];
        EXPECT_EQ(found[i], table.Find(tokens[i], hashes[i]));
    }
    EXPECT_EQ(found.back(), nullptr);
}

TEST(TokenCountTableTest, TokensThatDifferOnlyInLengthOrLastByteStayApart) {
    TokenCountTable table;
    table.AssignAll(std::vector<TokenCountTable::Assignment>{
        {"ab", {1, 0}}, {"abc", {2, 0}}, {"abd", {3, 0}}, {"", {4, 0}}});
    const TokenCounts* ab = table.Find("ab", TokenCountTable::HashOf("ab"));
    const TokenCounts* abd = table.Find("abd", TokenCountTable::HashOf("abd"));
    ASSERT_NE(ab, nullptr);
    ASSERT_NE(abd, nullptr);
    EXPECT_EQ(ab->spam, 1u);
    EXPECT_EQ(abd->spam, 3u);
    EXPECT_EQ(table.Find("a", TokenCountTable::HashOf("a")), nullptr);
}

}  // namespace
}  // namespace bramvell
