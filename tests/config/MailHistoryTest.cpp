#include "config/MailHistory.h"

#include <gtest/gtest.h>

#include "config/CalendarDays.h"
#include "config/MailStatistics.h"
#include "support/TempFolder.h"

namespace bramvell {
namespace {

using testing::ReadWholeFile;
using testing::TempFolder;
using testing::WriteWholeFile;

MailRecord Record(LocalTime when, MailOutcome outcome, DecidedBy decidedBy, std::string sender,
                  int score = 0) {
    MailRecord record;
    record.when = when;
    record.outcome = outcome;
    record.decidedBy = decidedBy;
    record.score = score;
    record.sender = std::move(sender);
    return record;
}

TEST(MailHistoryTest, LinesAreWrittenAndReadBackWithTabsAndControlBytesMadeHarmless) {
    TempFolder folder;
    std::filesystem::create_directories(folder / "Data");
    MailRecord spam = Record({2026, 12, 8, 14, 5, 9}, MailOutcome::Spam, DecidedBy::ChiSquareScore,
                             "Eve\t<eve@x.example>\x1b[2J", 9712);
    spam.quarantineName = "20261208140509-1.txt";
    AppendMailRecord(folder.path(), spam);
    AppendMailRecord(folder.path(), Record({2026, 12, 8, 14, 6, 0}, MailOutcome::Unsure,
                                           DecidedBy::ChiSquareScore, "ann@example.org", 5100));

    EXPECT_EQ(ReadWholeFile(MailHistoryPath(folder.path())),
              "20261208140509\tspam\tchi-square\t9712\t20261208140509-1.txt\tEve?<eve@x.example>?[2J\n"
              "20261208140600\tunsure\tchi-square\t5100\t\tann@example.org\n");
    const std::vector<MailRecord> read = ReadMailHistory(MailHistoryPath(folder.path()));
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].quarantineName, "20261208140509-1.txt");
    EXPECT_EQ(read[0].score, 9712);
    EXPECT_EQ(read[1].outcome, MailOutcome::Unsure);
    EXPECT_EQ(ScoreOrRuleText(read[0]), "97%");
    EXPECT_EQ(ScorerText(read[0]), "chi-square");
}

TEST(MailHistoryTest, MalformedLinesAreSkippedAndTheSoundOnesKept) {
    TempFolder folder;
    const std::string path = folder / "history.tsv";
    WriteWholeFile(path,
                   "20261208140509\tspam\tclassic\t9900\t\ta@b\n"
                   "2026120814050\tspam\tclassic\t9900\t\tshort stamp\n"
                   "20261308140509\tspam\tclassic\t9900\t\tmonth 13\n"
                   "20261208140509\tmaybe\tclassic\t9900\t\tunknown outcome\n"
                   "20261208140509\tspam\tguess\t9900\t\tunknown rule\n"
                   "20261208140509\tspam\tclassic\t99x\t\tbad score\n"
                   "20261208140509\tspam\tclassic\t10001\t\tscore too high\n"
                   "20261208140509\tspam\tclassic\t9900\tfive fields\n"
                   "\n"
                   "20261208150000\tgood\tpassphrase\t0\t\tc@d\r\n"
                   "20261208160000\tgood\tfrom-to\t0\t\tlast line without LF");
    const std::vector<MailRecord> read = ReadMailHistory(path);
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read[0].sender, "a@b");
    EXPECT_EQ(read[1].sender, "c@d");
    EXPECT_EQ(read[1].decidedBy, DecidedBy::Passphrase);
    EXPECT_EQ(ScoreOrRuleText(read[1]), "Passphrase rule");
    EXPECT_EQ(read[2].decidedBy, DecidedBy::FromTo);
}

TEST(MailHistoryTest, ALongHistoryIsReadFromItsEndWithoutAPartialFirstLine) {
    TempFolder folder;
    const std::string path = folder / "history.tsv";
    std::string bytes;
    for (int i = 0; i < 100; ++i) {
        bytes += "20261208140509\tgood\tclassic\t100\t\tsender" + std::to_string(i) + "@example.org\n";
    }
    WriteWholeFile(path, bytes);
    const std::vector<MailRecord> read = ReadMailHistory(path, 200);  // 54-byte lines: three and a bit
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(read.back().sender, "sender99@example.org");
    EXPECT_TRUE(ReadMailHistory(folder / "missing.tsv").empty());
}

TEST(CalendarDaysTest, DayNumbersWeekdaysAndBackAgree) {
    EXPECT_EQ(DayNumber(1970, 1, 1), 0);
    EXPECT_EQ(DayNumber(2000, 3, 1), 11017);
    const int day = DayNumber(2026, 12, 8);
    EXPECT_EQ(WeekdayOf(day), 1);  // a Tuesday
    const LocalTime back = DateOfDayNumber(DayNumber(2024, 2, 29) + 1);
    EXPECT_EQ(DateText(back), "2024-03-01");
    EXPECT_EQ(DateText(DateOfDayNumber(DayNumber(2026, 1, 1) - 1)), "2025-12-31");
}

TEST(MailStatisticsTest, DaysRulesAndSendersAreCountedWithinTheWindow) {
    const int today = DayNumber(2026, 12, 8);
    std::vector<MailRecord> records = {
        Record({2026, 11, 10, 9, 0, 0}, MailOutcome::Spam, DecidedBy::ClassicScore,
               "old@x.example"),  // 29 days back
        Record({2026, 11, 11, 9, 0, 0}, MailOutcome::Good, DecidedBy::ClassicScore, "a@example.org"),
        Record({2026, 12, 7, 9, 0, 0}, MailOutcome::Spam, DecidedBy::FromTo, "Spammer <Spam@X.example>"),
        Record({2026, 12, 8, 9, 0, 0}, MailOutcome::Spam, DecidedBy::ChiSquareScore, "spam@x.example"),
        Record({2026, 12, 8, 9, 5, 0}, MailOutcome::Spam, DecidedBy::ClassicScore, "b@y.example"),
        Record({2026, 12, 8, 10, 0, 0}, MailOutcome::Unsure, DecidedBy::ChiSquareScore, "c@example.org"),
        Record({2026, 12, 8, 11, 0, 0}, MailOutcome::Good, DecidedBy::Passphrase, "d@example.org"),
        Record({2026, 12, 9, 0, 0, 1}, MailOutcome::Spam, DecidedBy::ClassicScore, "future@x.example"),
    };
    const MailStatistics statistics = AggregateMailStatistics(records, today, 28, 1);
    ASSERT_EQ(statistics.days.size(), 28u);
    EXPECT_EQ(statistics.days.front().day, DayNumber(2026, 11, 11));
    EXPECT_EQ(statistics.days.front().good, 1);
    EXPECT_EQ(statistics.days.back().good, 2);  // unsure mail was delivered
    EXPECT_EQ(statistics.days.back().spam, 2);
    EXPECT_EQ(statistics.days[26].spam, 1);
    EXPECT_EQ(statistics.good, 2);
    EXPECT_EQ(statistics.spam, 3);
    EXPECT_EQ(statistics.unsure, 1);
    EXPECT_EQ(statistics.byRule, (std::array<int, 4>{1, 1, 2, 2}));
    ASSERT_EQ(statistics.topSpamSenders.size(), 1u);
    EXPECT_EQ(statistics.topSpamSenders[0], (std::pair<std::string, int>{"spam@x.example", 2}));

    const DayCounts today_ = CountsOfDay(records, today);
    EXPECT_EQ(today_.good, 2);
    EXPECT_EQ(today_.spam, 2);
}

}  // namespace
}  // namespace bramvell
