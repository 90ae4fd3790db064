#include <gtest/gtest.h>

#include "ListStoreFixture.h"
#include "lists/ListStore.h"

namespace bramvell {
namespace {

using ListStoreChangeTest = testing::ListStoreFixture;

constexpr int kSoBucket = 18 * 37 + 14;  // texts beginning with "so"

TEST_F(ListStoreChangeTest, AddAppendsWholeLinesAndDuplicatesAreStoredTwice) {
    EXPECT_TRUE(store_.AddEntry(ListKind::A, "someone@example.com"));
    EXPECT_TRUE(store_.AddEntry(ListKind::A, "someone@example.com"));
    EXPECT_TRUE(store_.AddEntry(ListKind::D, "win a"));
    EXPECT_TRUE(store_.AddEntry(ListKind::G, "a1 name"));
    EXPECT_EQ(ReadData("A1814"), "someone@example.com (00)\r\nsomeone@example.com (00)\r\n");
    EXPECT_EQ(ReadData("D2208"), "win a\r\n");
    EXPECT_EQ(ReadData("G0036"), "a1 name\r\n");
    EXPECT_EQ(Texts(ListKind::A, kSoBucket).size(), 2u);

    // One removal takes every equal entry, whatever its case.
    EXPECT_TRUE(store_.RemoveEntry(ListKind::A, "SomeOne@Example.com"));
    EXPECT_FALSE(store_.FindEntry(ListKind::A, "someone@example.com"));
    EXPECT_TRUE(HasData("A1814"));
    EXPECT_EQ(ReadData("A1814"), "");
}

TEST_F(ListStoreChangeTest, RewriteKeepsChainOrderAndTheOtherEntries) {
    WriteData("A1814", "sombre@example.com (05)\r\nsomeone@example.com (00)\nsolo@example.com (30)\r\n");
    ASSERT_TRUE(store_.LoadAll());
    ASSERT_TRUE(store_.AddEntry(ListKind::A, "soon@example.com"));

    EXPECT_TRUE(store_.SetExpiryDay(ListKind::A, "SOMEONE@example.com", 14));
    EXPECT_EQ(ReadData("A1814"),
              "sombre@example.com (05)\r\nsomeone@example.com (14)\r\nsolo@example.com (30)\r\n"
              "soon@example.com (00)\r\n");
    EXPECT_TRUE(store_.RemoveEntry(ListKind::A, "solo@example.com"));
    EXPECT_EQ(ReadData("A1814"),
              "sombre@example.com (05)\r\nsomeone@example.com (14)\r\nsoon@example.com (00)\r\n");
    EXPECT_FALSE(HasData(".A1814.tmp"));

    ListStore reloaded(home_.path());
    ASSERT_TRUE(reloaded.LoadAll());
    const std::vector<ListEntry> entries = reloaded.BucketEntries(ListKind::A, kSoBucket);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].expiryDay, 14);
}

TEST_F(ListStoreChangeTest, LongTextsAreCutInMemoryWholeOnDiskAndStillFoundByTheirText) {
    const std::string longText = "so" + std::string(98, 'l');
    ASSERT_TRUE(store_.AddEntry(ListKind::H, longText));
    EXPECT_EQ(Texts(ListKind::H, kSoBucket), (std::vector<std::string>{longText.substr(0, 79)}));
    EXPECT_EQ(ReadData("H1814"), longText + "\r\n");

    EXPECT_TRUE(store_.FindEntry(ListKind::H, longText));
    EXPECT_TRUE(store_.RemoveEntry(ListKind::H, longText));
    EXPECT_TRUE(Texts(ListKind::H, kSoBucket).empty());
}

TEST_F(ListStoreChangeTest, ALineBreakOrNulEndsTheStoredText) {
    ASSERT_TRUE(store_.AddEntry(ListKind::F, std::string("spam.example\nsecond\0x", 22)));
    EXPECT_EQ(ReadData("F1815"), "spam.example\r\n");
    EXPECT_FALSE(store_.AddEntry(ListKind::F, std::string("\0abc", 4)));
}

TEST_F(ListStoreChangeTest, FailedRewriteKeepsTheOldFileAndMemory) {
    ASSERT_TRUE(store_.AddEntry(ListKind::A, "someone@example.com"));
    std::filesystem::create_directory(DataFile(".A1814.tmp"));  // the temporary file cannot be made
    EXPECT_FALSE(store_.RemoveEntry(ListKind::A, "someone@example.com"));
    EXPECT_FALSE(store_.SetExpiryDay(ListKind::A, "someone@example.com", 9));
    EXPECT_TRUE(store_.FindEntry(ListKind::A, "someone@example.com"));
    EXPECT_EQ(store_.BucketEntries(ListKind::A, kSoBucket)[0].expiryDay, 0);
    EXPECT_EQ(ReadData("A1814"), "someone@example.com (00)\r\n");
}

TEST_F(ListStoreChangeTest, FailedAppendKeepsTheEntryForThisRun) {
    std::filesystem::create_directory(DataFile("C1814"));
    EXPECT_FALSE(store_.AddEntry(ListKind::C, "some name"));
    EXPECT_TRUE(store_.FindEntry(ListKind::C, "Some Name"));
}

TEST_F(ListStoreChangeTest, SubjectMatchingFindsPassphrasesAnywhereIgnoringCase) {
    ASSERT_TRUE(store_.AddEntry(ListKind::D, "win a"));
    ASSERT_TRUE(store_.AddEntry(ListKind::A, "winner@example.com"));
    EXPECT_TRUE(store_.MatchSubject("WIN A Prize"));
    EXPECT_TRUE(store_.MatchSubject("you could win a car"));
    EXPECT_FALSE(store_.MatchSubject("winner"));
    EXPECT_FALSE(store_.MatchSubject("winner@example.com"));

    WriteData("D1904", "Team Meeting\r\n");  // hand-edited with capitals
    ASSERT_TRUE(store_.LoadAll());
    EXPECT_TRUE(store_.MatchSubject("Re: team meeting moved"));

    store_.FreeAll();
    EXPECT_FALSE(store_.MatchSubject("Re: team meeting moved"));
    EXPECT_FALSE(store_.FindEntry(ListKind::D, "team meeting"));
}

}  // namespace
}  // namespace bramvell
