#include "config/ActivityLogReader.h"

#include <gtest/gtest.h>

#include "config/ActivityLog.h"
#include "config/CalendarDays.h"
#include "support/TempFolder.h"

namespace bramvell {
namespace {

using testing::TempFolder;
using testing::WriteWholeFile;

const char* const kDayLog =
    "20261208090000 - Bramvell has started filtering\r\n"
    "20261208090510 - Analysing email message from: Ann <ann@example.org>\r\n"
    "20261208090510 - Bramvell suspects this message is NOT Spam\r\n"
    "20261208091000 - Analysing email message from: Prizes <win@prize.example>\r\n"
    "20261208091000 - Bramvell suspects this message is Spam\r\n"
    "20261208091000 - Saving message to Quarantine folder: /q/20261208091000.txt\r\n"
    "garbage without a stamp\r\n"
    "20261208091500 - Analysing email message from: Bob <bob@example.net>\r\n"
    "20261208091500 - Bramvell is unsure whether this message is Spam; it is delivered unchanged\r\n"
    "20261208092000 - Analysing email message from: Eve <eve@x.example>\r\n"
    "20261208092000 - Bramvell suspects this message is Spam\r\n"
    "20261208092500 - Duplicate RETR!\r\n";

TEST(ActivityLogReaderTest, AMessagesLinesBecomeOneRowWithSenderAndVerdict) {
    const std::vector<ActivityEntry> rows = ParseActivityLog(kDayLog);
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0].event, "Bramvell has started filtering");
    EXPECT_EQ(rows[1].sender, "Ann <ann@example.org>");
    EXPECT_EQ(rows[1].verdict, "Not spam");
    EXPECT_EQ(rows[2].verdict, "Spam, quarantined");
    EXPECT_TRUE(rows[2].spam);
    EXPECT_EQ(rows[2].when.minute, 10);
    EXPECT_EQ(rows[3].verdict, "Unsure");
    EXPECT_EQ(rows[4].verdict, "Spam");  // deleted without a copy: quarantine was off
    EXPECT_EQ(rows[5].event, "Duplicate RETR!");
    EXPECT_TRUE(rows[5].verdict.empty());
}

TEST(ActivityLogReaderTest, PeriodsAndTheSpamFilterChooseRowsNewestFirst) {
    TempFolder folder;
    const int today = DayNumber(2026, 12, 8);  // a Tuesday
    WriteWholeFile(ActivityLogPath(folder.path(), {2026, 12, 8}), kDayLog);
    WriteWholeFile(ActivityLogPath(folder.path(), {2026, 12, 7}),
                   "20261207100000 - Analysing email message from: monday@x.example\r\n"
                   "20261207100000 - Bramvell suspects this message is Spam\r\n");
    WriteWholeFile(ActivityLogPath(folder.path(), {2026, 12, 6}),
                   "20261206100000 - Analysing email message from: sunday@x.example\r\n"
                   "20261206100000 - Bramvell suspects this message is Spam\r\n");

    EXPECT_EQ(FirstDayOfPeriod(ActivityPeriod::Today, today), today);
    EXPECT_EQ(FirstDayOfPeriod(ActivityPeriod::ThisWeek, today), DayNumber(2026, 12, 7));
    EXPECT_EQ(FirstDayOfPeriod(ActivityPeriod::LastMonth, today), DayNumber(2026, 11, 8));

    const int monday = FirstDayOfPeriod(ActivityPeriod::ThisWeek, today);
    const std::vector<ActivityEntry> week =
        FilterActivity(ReadActivityLog(folder.path(), monday, today), monday, true);
    ASSERT_EQ(week.size(), 3u);
    EXPECT_EQ(week[0].sender, "Eve <eve@x.example>");
    EXPECT_EQ(week[2].sender, "monday@x.example");

    const std::vector<ActivityEntry> month = ReadActivityLog(folder.path(), today - 30, today);
    EXPECT_EQ(FilterActivity(month, today, false).size(), 6u);
    EXPECT_EQ(FilterActivity(month, today - 30, true).size(), 4u);
}

TEST(ActivityLogReaderTest, ALongLogIsReadFromItsEnd) {
    TempFolder folder;
    std::string bytes;
    for (int i = 0; i < 50; ++i) {
        bytes += "20261208090000 - line " + std::to_string(i) + "\r\n";
    }
    WriteWholeFile(ActivityLogPath(folder.path(), {2026, 12, 8}), bytes);
    const int today = DayNumber(2026, 12, 8);
    const std::vector<ActivityEntry> rows = ReadActivityLog(folder.path(), today, today, 100);
    ASSERT_FALSE(rows.empty());
    EXPECT_LE(rows.size(), 4u);
    EXPECT_EQ(rows.back().event, "line 49");
}

}  // namespace
}  // namespace bramvell
