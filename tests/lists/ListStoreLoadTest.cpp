#include <gtest/gtest.h>

#include <random>

#include "ListStoreFixture.h"
#include "lists/ListStore.h"
#include "lists/TextLineReader.h"

namespace bramvell {
namespace {

using ListStoreLoadTest = testing::ListStoreFixture;

TEST_F(ListStoreLoadTest, MissingOrEmptyDataFolderGivesEightEmptyLists) {
    DisplayLists display;
    display[0].push_back("stale");
    EXPECT_TRUE(store_.LoadAll({}, &display));
    for (const auto& lines : display) {
        EXPECT_TRUE(lines.empty());
    }
    std::filesystem::remove(DataFile(""));
    EXPECT_TRUE(store_.LoadAll());
    EXPECT_FALSE(store_.MatchSubject("anything"));
}

TEST_F(ListStoreLoadTest, BlockedLinesSplitIntoTextAndDayInTheBucketOfTheFileName) {
    // The file name decides the bucket, whatever the lines begin with.
    WriteData("A0700",
              "zebra@example.com (00)\r\n"
              "abc (07)\n"
              "short\r\n"
              "hat@example.com ( 3)\r\n"
              "odd@example.com (x)\r\n"
              "last@example.com (12)");
    DisplayLists display;
    ASSERT_TRUE(store_.LoadAll({}, &display));

    const std::vector<ListEntry> entries = store_.BucketEntries(ListKind::A, 259);
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].text, "zebra@example.com");
    EXPECT_EQ(entries[1].text, "abc");
    EXPECT_EQ(entries[1].expiryDay, 7);
    EXPECT_EQ(entries[2].expiryDay, 3);
    EXPECT_EQ(entries[3].text, "odd@example.co");
    EXPECT_EQ(entries[3].expiryDay, 0);
    EXPECT_EQ(entries[4].expiryDay, 12);
    EXPECT_EQ(display[0],
              (std::vector<std::string>{"zebra@example.com (00)", "abc (07)", "hat@example.com ( 3)",
                                        "odd@example.com (x)", "last@example.com (12)"}));

    EXPECT_TRUE(store_.FindEntry(ListKind::A, "HAT@example.com"));
    EXPECT_FALSE(store_.FindEntry(ListKind::A, "zebra@example.com"));
    EXPECT_FALSE(store_.FindEntry(ListKind::A, "abc"));
}

TEST_F(ListStoreLoadTest, OtherListsKeepEveryNonEmptyLineAndCutLongTexts) {
    const std::string longText(100, 'q');
    WriteData("D2208", "win a\r\n\r\nx\r\n" + longText + "\r\n");
    WriteData("E1600", longText + " (00)\r\n");
    ASSERT_TRUE(store_.LoadAll());
    EXPECT_EQ(Texts(ListKind::D, 22 * 37 + 8),
              (std::vector<std::string>{"win a", "x", std::string(39, 'q')}));
    EXPECT_EQ(Texts(ListKind::E, 16 * 37), (std::vector<std::string>{std::string(79, 'q')}));
}

TEST_F(ListStoreLoadTest, FilesLoadInByteWiseNameOrderAndALaterFileReplacesTheBucket) {
    WriteData("A0100", "later@example.com (00)\r\n");
    WriteData("A00Z", "middle@example.com (00)\r\n");
    WriteData("A0001", "first@example.com (00)\r\n");
    WriteData("A0700", "kept@example.com (00)\r\n");
    WriteData("A0700.bak", "tiny\r\n");  // no kept line, still replaces
    WriteData("A3800", "badname@example.com (00)\r\n");
    std::filesystem::create_directory(DataFile("A0200"));
    WriteData(".A0300.tmp", "leftover@example.com (00)\r\n");
    DisplayLists display;
    ASSERT_TRUE(store_.LoadAll({}, &display));

    EXPECT_EQ(display[0], (std::vector<std::string>{"first@example.com (00)", "middle@example.com (00)",
                                                    "later@example.com (00)", "kept@example.com (00)"}));
    EXPECT_TRUE(Texts(ListKind::A, 259).empty());
    EXPECT_EQ(Texts(ListKind::A, 0), (std::vector<std::string>{"middle@example.com"}));
}

TEST_F(ListStoreLoadTest, PumpRunsBetweenLinesAndStopsTheLoadWhenQuitting) {
    WriteData("D0000", "aa one\r\naa two\r\naa three\r\n");
    int calls = 0;
    EXPECT_TRUE(store_.LoadAll([&calls] { return ++calls > 0; }));
    EXPECT_GE(calls, 3);

    calls = 0;
    EXPECT_FALSE(store_.LoadAll([&calls] { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
}

// Hand-edited, truncated or corrupt files load what is sound and never crash.
TEST_F(ListStoreLoadTest, GarbageFilesLoadWhatIsSound) {
    std::mt19937 random(7);
    std::string noise(64 * 1024, '\0');
    for (char& c : noise) {
        c = static_cast<char>(random());
    }
    WriteData("A0000", noise);
    WriteData("B0000", std::string(1 << 20, 'x'));  // one long line, no line end
    WriteData("C0000", "\r\n\n\r\r\n(07)\r\nabc (0");
    WriteData("D0000", std::string("\0hole\r\nab\0cd\r\n", 14));
    WriteData("F", "fine.example\r\n");
    WriteData("G0000", "");
    DisplayLists display;
    ASSERT_TRUE(store_.LoadAll({}, &display));

    EXPECT_EQ(Texts(ListKind::B, 0), (std::vector<std::string>{std::string(79, 'x')}));
    EXPECT_EQ(display[1].front().size(), TextLineReader::kMaxLineLength);
    EXPECT_EQ(Texts(ListKind::C, 0), (std::vector<std::string>{"a"}));
    EXPECT_EQ(Texts(ListKind::D, 0), (std::vector<std::string>{"ab"}));
    EXPECT_EQ(Texts(ListKind::F, 0), (std::vector<std::string>{"fine.example"}));
    for (const ListEntry& entry : store_.BucketEntries(ListKind::A, 0)) {
        EXPECT_FALSE(entry.text.empty());
        EXPECT_LE(entry.text.size(), 79u);
        EXPECT_GE(entry.expiryDay, 0);
        EXPECT_LE(entry.expiryDay, 99);
    }
    store_.MatchSubject(noise);
}

}  // namespace
}  // namespace bramvell
