#include "config/QuarantineHousekeeping.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "config/FilterSettings.h"
#include "config/Startup.h"
#include "support/TempFolder.h"

namespace bramvell {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;
using testing::WriteWholeFile;

class QuarantineHousekeepingTest : public ::testing::Test {
protected:
    QuarantineHousekeepingTest() : quarantine_(folder_ / "quarantine") {
        fs::create_directories(quarantine_);
        settings_.SetQuarantineFolder(quarantine_);
        settings_.emptyQuarantine = 1;
    }

    void Quarantine(const std::string& name) { WriteWholeFile(quarantine_ + "/" + name, "spam"); }
    bool Holds(const std::string& name) const {
        return fs::exists(fs::symlink_status(quarantine_ + "/" + name));
    }

    // Runs one day change; true when a file placed before it was deleted.
    bool DayChangeEmpties(FilterSettings& settings) {
        Quarantine("20260101000000.txt");
        EmptyQuarantineFolder(settings);
        return !Holds("20260101000000.txt");
    }

    TempFolder folder_;
    std::string quarantine_;
    FilterSettings settings_;
};

TEST_F(QuarantineHousekeepingTest, OneDayEmptiesAtEveryChange) {
    Quarantine("20251231235959-1.txt");
    Quarantine("20251231235959-12.txt");
    EXPECT_TRUE(DayChangeEmpties(settings_));
    EXPECT_FALSE(Holds("20251231235959-1.txt"));
    EXPECT_FALSE(Holds("20251231235959-12.txt"));
    EXPECT_TRUE(DayChangeEmpties(settings_));
    EXPECT_EQ(settings_.daysSinceQuarantineEmptied, 0);
}

TEST_F(QuarantineHousekeepingTest, ThreeDaysCountAcrossARestart) {
    const StartupPaths paths{folder_ / "program", SettingsLocation{folder_ / "config", "bramvell"}, ""};
    {
        ApplicationSettings run(paths);
        FilterSettings& settings = run.Settings();
        settings.SetQuarantineFolder(quarantine_);
        settings.emptyQuarantine = 1;
        settings.emptyQuarantineDays = 3;
        EXPECT_FALSE(DayChangeEmpties(settings));
        EXPECT_FALSE(DayChangeEmpties(settings));
        EXPECT_EQ(settings.daysSinceQuarantineEmptied, 2);
        run.Exit();
    }
    ApplicationSettings run(paths);
    FilterSettings& settings = run.Settings();
    EXPECT_EQ(settings.daysSinceQuarantineEmptied, 2);
    EXPECT_TRUE(DayChangeEmpties(settings));
    EXPECT_FALSE(DayChangeEmpties(settings));
    EXPECT_FALSE(DayChangeEmpties(settings));
    EXPECT_TRUE(DayChangeEmpties(settings));
}

TEST_F(QuarantineHousekeepingTest, OptionOffStillCountsAndSwitchingItOnTakesTheNextChange) {
    settings_.emptyQuarantine = 0;
    settings_.emptyQuarantineDays = 3;
    EXPECT_FALSE(DayChangeEmpties(settings_));
    EXPECT_FALSE(DayChangeEmpties(settings_));
    EXPECT_FALSE(DayChangeEmpties(settings_));
    EXPECT_EQ(settings_.daysSinceQuarantineEmptied, 0);
    EXPECT_FALSE(DayChangeEmpties(settings_));
    EXPECT_FALSE(DayChangeEmpties(settings_));
    settings_.emptyQuarantine = 1;
    EXPECT_TRUE(DayChangeEmpties(settings_));
}

TEST_F(QuarantineHousekeepingTest, ZeroOrNegativeDaysActAsOneAndADamagedCountStartsFromZero) {
    settings_.emptyQuarantineDays = 0;
    EXPECT_TRUE(DayChangeEmpties(settings_));
    settings_.emptyQuarantineDays = -4;
    EXPECT_TRUE(DayChangeEmpties(settings_));

    settings_.emptyQuarantineDays = 2;
    settings_.daysSinceQuarantineEmptied = -1000000;
    EXPECT_FALSE(DayChangeEmpties(settings_));
    EXPECT_TRUE(DayChangeEmpties(settings_));
}

TEST_F(QuarantineHousekeepingTest, SubFoldersAndTheirContentsAreLeftAlone) {
    fs::create_directories(quarantine_ + "/kept/deeper");
    WriteWholeFile(quarantine_ + "/kept/inner.txt", "x");
    fs::permissions(quarantine_ + "/kept/deeper", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_TRUE(DayChangeEmpties(settings_));
    EXPECT_TRUE(fs::exists(quarantine_ + "/kept/inner.txt"));
    EXPECT_TRUE(fs::is_directory(quarantine_ + "/kept/deeper"));
    fs::permissions(quarantine_ + "/kept/deeper", fs::perms::owner_all);
}

// A quarantine folder set by mistake to a folder of the user's own files loses only quarantine copies.
TEST_F(QuarantineHousekeepingTest, OnlyFilesNamedLikeQuarantineCopiesAreDeleted) {
    const char* kept[] = {".hidden", "b.eml", "notes.txt", "2025123123595.txt", "202512312359590.txt",
                          "20251231235959-.txt", "20251231235959-x.txt", "20251231235959.txt.bak",
                          "20251231235959_1.txt", "x20251231235959.txt"};
    for (const char* name : kept) {
        Quarantine(name);
    }
    EXPECT_TRUE(DayChangeEmpties(settings_));
    for (const char* name : kept) {
        EXPECT_TRUE(Holds(name)) << name;
    }
}

TEST_F(QuarantineHousekeepingTest, SymbolicLinksAreNeverFollowed) {
    const std::string outside = folder_ / "outside";
    fs::create_directories(outside);
    WriteWholeFile(outside + "/precious.txt", "keep");

    // A link inside the folder is removed as a link; its target stays.
    fs::create_symlink(outside + "/precious.txt", quarantine_ + "/20250101000000.txt");
    fs::create_directory_symlink(outside, quarantine_ + "/folder-link");
    EXPECT_TRUE(DayChangeEmpties(settings_));
    EXPECT_FALSE(Holds("20250101000000.txt"));
    EXPECT_TRUE(fs::exists(outside + "/precious.txt"));

    // A quarantine folder that is itself a link is not emptied.
    const std::string linked = folder_ / "linked-quarantine";
    fs::create_directory_symlink(outside, linked);
    settings_.SetQuarantineFolder(linked);
    EmptyQuarantineFolder(settings_);
    EXPECT_TRUE(fs::exists(outside + "/precious.txt"));
    EXPECT_EQ(settings_.daysSinceQuarantineEmptied, 0);
}

TEST_F(QuarantineHousekeepingTest, RootAndTopLevelFoldersAreNeverEmptied) {
    for (const char* folder : {"/", "/tmp", "/tmp/", "/etc", "//tmp", "/tmp/../etc", "/x/..", "abc", ""}) {
        EXPECT_FALSE(MayEmptyQuarantineFolder(folder)) << folder;
    }
    EXPECT_TRUE(MayEmptyQuarantineFolder("/tmp/quarantine"));
    EXPECT_TRUE(MayEmptyQuarantineFolder(quarantine_));

    // A link deep in the tree whose real place is a top-level folder is refused too.
    const std::string toTmp = folder_ / "to-tmp";
    fs::create_directory_symlink("/tmp", toTmp);
    EXPECT_EQ(DeleteQuarantineFiles(toTmp + "/."), 0);

    settings_.SetQuarantineFolder("/tmp");
    EmptyQuarantineFolder(settings_);
    EXPECT_EQ(settings_.daysSinceQuarantineEmptied, 0);
}

}  // namespace
}  // namespace bramvell
