#include "lists/ListPageOperations.h"

#include <gtest/gtest.h>

#include "ListStoreFixture.h"
#include "lists/ExpiryDay.h"
#include "support/FakeClock.h"

namespace bramvell {
namespace {

using testing::FakeClock;

class ListPageOperationsTest : public testing::ListStoreFixture {
  protected:
    ListPageOperations Page(ListKind kind, std::vector<std::string> display = {}) {
        // 7 pixels a character and a border of 2: every string measures 7 x length + 6.
        return ListPageOperations(
            store_, kind, std::move(display),
            [](std::string_view s) { return 7 * static_cast<int>(s.size()); }, 2, clock_);
    }
    std::string ImportFile(const std::string& bytes) const {
        const std::string path = home_ / "import.csv";
        testing::WriteWholeFile(path, bytes);
        return path;
    }

    FakeClock clock_{{2026, 5, 20, 9, 0, 0}};
};

TEST(ExpiryDayTest, DayBeforeTodayOrTheLastDayOfTheMonthOnTheFirst) {
    EXPECT_EQ(ExtendExpiryDay({2026, 3, 15}), 14);
    EXPECT_EQ(ExtendExpiryDay({2026, 1, 1}), 31);
    EXPECT_EQ(ExtendExpiryDay({2026, 2, 1}), 28);
    EXPECT_EQ(ExtendExpiryDay({2024, 2, 1}), 28);
    EXPECT_EQ(ExtendExpiryDay({2026, 4, 1}), 30);
    EXPECT_EQ(ExtendExpiryDay({2026, 12, 31}), 30);
}

TEST_F(ListPageOperationsTest, AddRejectsShortTextsWithTheListsBalloon) {
    auto page = Page(ListKind::A);
    auto outcome = page.Add("abcdefg");
    ASSERT_TRUE(outcome.balloon);
    EXPECT_EQ(outcome.balloon->title, "Add to Blocked Addresses");
    EXPECT_EQ(outcome.balloon->text, " Blocked Addresses must be a minimum of eight characters in length");
    EXPECT_EQ(outcome.balloon->lifetimeMs, 7000);
    EXPECT_FALSE(outcome.added);
    EXPECT_FALSE(outcome.clearEditBox);
    EXPECT_FALSE(HasData("A0001"));

    outcome = page.Add("ABCDEFGH");
    EXPECT_FALSE(outcome.balloon);
    EXPECT_EQ(outcome.added, "abcdefgh (00)");
    EXPECT_TRUE(outcome.clearEditBox);
    EXPECT_TRUE(outcome.written);
    EXPECT_EQ(ReadData("A0001"), "abcdefgh (00)\r\n");
    EXPECT_EQ(page.Widest(), 7 * 13 + 6);
}

TEST_F(ListPageOperationsTest, ThreeCharactersAreEnoughWhereTheMinimumIsThree) {
    for (ListKind kind : {ListKind::B, ListKind::C, ListKind::D, ListKind::F, ListKind::G}) {
        auto page = Page(kind);
        EXPECT_TRUE(page.Add("ab").balloon);
        EXPECT_TRUE(page.Add("abc").added);
        EXPECT_TRUE(store_.FindEntry(kind, "abc"));
    }
}

// What the list shows is what is stored: a second copy is refused, so a removal never takes more
// from the file than the list box loses.
TEST_F(ListPageOperationsTest, AddRefusesWhatTheListHoldsAlreadyWhateverItsCase) {
    auto page = Page(ListKind::E);
    EXPECT_TRUE(page.Add("someone@example.com").written);
    const auto again = page.Add("SomeOne@Example.com");
    EXPECT_TRUE(again.duplicate);
    EXPECT_FALSE(again.added);
    EXPECT_FALSE(again.written);
    EXPECT_EQ(page.DisplayList(), (std::vector<std::string>{"someone@example.com"}));
    EXPECT_EQ(ReadData("E1814"), "someone@example.com\r\n");

    EXPECT_TRUE(page.Remove("someone@example.com").written);
    EXPECT_TRUE(page.DisplayList().empty());
    EXPECT_TRUE(page.Add("someone@example.com").added);  // gone, so it may come back
}

TEST_F(ListPageOperationsTest, RemoveDropsOneShownStringAndEveryStoredEqualEntry) {
    // Two equal entries, as a file written by an older version may hold.
    store_.AddEntry(ListKind::E, "someone@example.com");
    store_.AddEntry(ListKind::E, "other@example.com");
    store_.AddEntry(ListKind::E, "someone@example.com");
    auto page = Page(ListKind::E, {"someone@example.com", "other@example.com", "someone@example.com"});
    page.Show();
    EXPECT_FALSE(page.Remove(std::nullopt).done);

    auto outcome = page.Remove("someone@example.com");
    EXPECT_TRUE(outcome.done);
    EXPECT_TRUE(outcome.written);
    EXPECT_EQ(page.DisplayList(), (std::vector<std::string>{"other@example.com", "someone@example.com"}));
    EXPECT_FALSE(store_.FindEntry(ListKind::E, "someone@example.com"));
    EXPECT_EQ(ReadData("E1814"), "");

    // The scroll range shrinks only when the list becomes empty.
    page.Remove("someone@example.com");
    EXPECT_EQ(page.Widest(), 7 * 19 + 6);
    page.Remove("other@example.com");
    EXPECT_EQ(page.Widest(), 0);
}

TEST(ExpiryDayTest, TheDayAnEntryFallsDueAsADate) {
    const struct {
        int day;
        LocalTime today;
        const char* date;
    } cases[] = {
        {0, {2026, 5, 20}, "kept"},        {20, {2026, 5, 20}, "2026-05-20"}, {21, {2026, 5, 20}, "2026-05-21"},
        {19, {2026, 5, 20}, "2026-06-19"}, {31, {2026, 4, 10}, "2026-05-31"}, {3, {2026, 12, 31}, "2027-01-03"},
        {30, {2026, 1, 31}, "2026-03-30"}, {29, {2028, 1, 31}, "2028-02-29"}, {32, {2026, 1, 1}, "?"},
        {-1, {2026, 1, 1}, "?"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExpiryDate(c.day, c.today), c.date) << c.day;
    }
}

TEST_F(ListPageOperationsTest, ExtendAndKeepRewriteTheDayOfTheSelectedEntry) {
    auto page = Page(ListKind::B);
    page.Add("example.com");
    EXPECT_FALSE(page.Extend(std::nullopt).done);

    auto outcome = page.Extend("example.com (00)");
    EXPECT_EQ(outcome.added, "example.com (19)");
    EXPECT_TRUE(outcome.written);
    EXPECT_EQ(ReadData("B0423"), "example.com (19)\r\n");
    EXPECT_EQ(page.DisplayList(), (std::vector<std::string>{"example.com (19)"}));

    outcome = page.Keep("example.com (19)");
    EXPECT_EQ(outcome.added, "example.com (00)");
    EXPECT_EQ(ReadData("B0423"), "example.com (00)\r\n");

    EXPECT_TRUE(page.Remove("example.com (00)").written);
    EXPECT_FALSE(store_.FindEntry(ListKind::B, "example.com"));

    auto passphrases = Page(ListKind::D);
    passphrases.Add("free money");
    EXPECT_FALSE(passphrases.Extend("free money").done);
    EXPECT_EQ(passphrases.DisplayList().size(), 1u);
}

TEST_F(ListPageOperationsTest, ShowMeasuresTheLoadedStrings) {
    WriteData("C0036", "a name (00)\r\n");
    WriteData("C1907", "the longest name (07)\r\nthat name (00)\r\n");
    DisplayLists display;
    ASSERT_TRUE(store_.LoadAll({}, &display));
    auto page = Page(ListKind::C, display[2]);
    EXPECT_EQ(page.Widest(), 0);
    page.Show();
    EXPECT_EQ(page.Widest(), 7 * 21 + 6);
    page.Remove("the longest name (07)");
    EXPECT_EQ(ReadData("C1907"), "that name (00)\r\n");
}

TEST_F(ListPageOperationsTest, ImportTakesLinesWholeLowerCasedAndSkipsKnownOnes) {
    const std::string longLine = "so" + std::string(98, 'x');
    const std::string path = ImportFile(
        "Someone@Example.COM\r\n"
        "\r\n"
        "a@b.c,d@e.f;g@h.i\n"
        "short\n"
        "        \r\n"
        "someone@example.com\n" +
        longLine + "\r\n" + longLine);
    auto page = Page(ListKind::H);
    auto outcome = page.Import(path);
    EXPECT_TRUE(outcome.opened);
    EXPECT_FALSE(outcome.quit);
    EXPECT_EQ(outcome.added,
              (std::vector<std::string>{"someone@example.com", "a@b.c,d@e.f;g@h.i", "        ", longLine}));
    EXPECT_EQ(ReadData("H1814"), "someone@example.com\r\n" + longLine + "\r\n");
    EXPECT_EQ(Texts(ListKind::H, 18 * 37 + 14)[1], longLine.substr(0, 79));
    EXPECT_EQ(page.Widest(), 7 * 100 + 6);

    EXPECT_TRUE(page.Import(path).added.empty());
    EXPECT_FALSE(page.Import(home_ / "missing.txt").opened);
}

TEST_F(ListPageOperationsTest, QuittingStopsTheImportAndKeepsWhatWasAdded) {
    const std::string path = ImportFile("first@example.com\nsecond@example.com\nthird@example.com\n");
    auto page = Page(ListKind::H);
    int calls = 0;
    // Three pumps while reading, then one after each line added.
    auto outcome = page.Import(path, [&calls] { return ++calls < 4; });
    EXPECT_TRUE(outcome.quit);
    EXPECT_EQ(outcome.added, (std::vector<std::string>{"first@example.com"}));
    EXPECT_TRUE(store_.FindEntry(ListKind::H, "first@example.com"));
    EXPECT_FALSE(store_.FindEntry(ListKind::H, "second@example.com"));
}

}  // namespace
}  // namespace bramvell
