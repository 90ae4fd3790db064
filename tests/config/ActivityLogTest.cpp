#include "config/ActivityLog.h"

#include <gtest/gtest.h>

#include "config/FilterSettings.h"
#include "support/FakeClock.h"
#include "support/TempFolder.h"

namespace bramvell {
namespace {

using testing::FakeClock;
using testing::ReadWholeFile;
using testing::TempFolder;
using testing::WriteWholeFile;

TEST(ActivityLogTest, AppendsStampedLinesWithCrLfToTheDayFile) {
    TempFolder folder;
    FakeClock clock({2026, 3, 5, 7, 8, 9});
    ActivityLog(folder.path(), "Bramvell has started filtering\n", clock);
    clock.Set({2026, 3, 5, 23, 59, 59});
    ActivityLog(folder.path(), "two\nlines\n", clock);

    EXPECT_EQ(ReadWholeFile(folder / "20260305.txt"),
              "20260305070809 - Bramvell has started filtering\r\n"
              "20260305235959 - two\r\nlines\r\n");
}

TEST(ActivityLogTest, CrossingMidnightStartsANewFile) {
    TempFolder folder;
    FakeClock clock({2026, 12, 31, 23, 59, 59});
    ActivityLog(folder.path(), "old year\n", clock);
    clock.Set({2027, 1, 1, 0, 0, 0});
    ActivityLog(folder.path(), "new year\n", clock);

    EXPECT_EQ(ReadWholeFile(folder / "20261231.txt"), "20261231235959 - old year\r\n");
    EXPECT_EQ(ReadWholeFile(folder / "20270101.txt"), "20270101000000 - new year\r\n");
}

TEST(ActivityLogTest, SeparatorIsAddedEvenWhenTheFolderEndsWithOne) {
    FakeClock clock({2026, 1, 2, 0, 0, 0});
    EXPECT_EQ(ActivityLogPath("/var/log/bramvell/", clock.Now()), "/var/log/bramvell//20260102.txt");
}

TEST(ActivityLogTest, MissingFolderLosesTheLineSilently) {
    TempFolder folder;
    FakeClock clock;
    ActivityLog(folder / "does-not-exist", "lost\n", clock);
    EXPECT_FALSE(std::filesystem::exists(folder / "does-not-exist"));
}

TEST(ActivityLogTest, ControlBytesFromMailAreWrittenAsQuestionMarks) {
    TempFolder folder;
    FakeClock clock({2026, 3, 5, 7, 8, 9});
    ActivityLog(folder.path(), "Analysing email message from: \x1b]0;owned\x07\x1b[2J\tx\x7f\r\n", clock);
    EXPECT_EQ(ReadWholeFile(folder / "20260305.txt"),
              "20260305070809 - Analysing email message from: ?]0;owned??[2J?x??\r\n");
}

TEST(ActivityLogTest, DayFileIsPrivateAndAPlantedLinkIsNotFollowed) {
    TempFolder folder;
    FakeClock clock({2026, 3, 5, 7, 8, 9});
    WriteWholeFile(folder / "victim", "untouched\n");
    std::filesystem::create_symlink(folder / "victim", folder / "20260305.txt");
    ActivityLog(folder.path(), "redirected?\n", clock);
    EXPECT_EQ(ReadWholeFile(folder / "victim"), "untouched\n");

    clock.Set({2026, 3, 6, 0, 0, 0});
    ActivityLog(folder.path(), "new day\n", clock);
    EXPECT_EQ(std::filesystem::status(folder / "20260306.txt").permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(ActivityLogTest, LogActivityFollowsTheOption) {
    TempFolder folder;
    FakeClock clock({2026, 6, 1, 12, 0, 0});
    FilterSettings settings;
    settings.SetLogFolder(folder.path());
    settings.activityLogEnabled = 0;
    LogActivity(settings, "off\n", clock);
    EXPECT_FALSE(std::filesystem::exists(folder / "20260601.txt"));
    settings.activityLogEnabled = 1;
    LogActivity(settings, "on\n", clock);
    EXPECT_EQ(ReadWholeFile(folder / "20260601.txt"), "20260601120000 - on\r\n");
}

}  // namespace
}  // namespace bramvell
