#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "config/SettingsBlob.h"
#include "config/Startup.h"
#include "config/StatisticsBackup.h"
#include "support/TempFolder.h"

namespace bramvell {
namespace {

using testing::ReadWholeFile;
using testing::TempFolder;
using testing::WriteWholeFile;

std::string LittleEndian(std::initializer_list<uint32_t> values) {
    std::string bytes;
    for (uint32_t value : values) {
        for (int i = 0; i < 4; ++i) {
            bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
        }
    }
    return bytes;
}

class SettingsPersistenceTest : public ::testing::Test {
protected:
    StartupPaths Paths() const {
        return StartupPaths{folder_ / "program", SettingsLocation{folder_ / "config", "bramvell"},
                            "/opt/bramvell/bin/bramvell"};
    }
    std::string BlobPath() const { return folder_ / "config/Bramvell/bramvell/Options/General"; }
    std::string BackupPath() const { return folder_ / "program/reg.bak"; }

    // One run: start, change, exit.
    template <typename Change>
    void Run(Change change) {
        ApplicationSettings run(Paths());
        change(run.Settings());
        EXPECT_TRUE(run.Exit());
    }

    void SetStatistics(FilterSettings& settings) {
        settings.hamMessageCount = 11;
        settings.spamMessageCount = 22;
        settings.newLowerTokenCount = 33;
        settings.newCapitalTokenCount = 44;
        settings.newUpperTokenCount = 55;
        settings.emailsFiltered = 66;
        settings.spamCount = 77;
        settings.popupsBlocked = 88;
    }

    void ExpectDefaultsWithStatistics(const FilterSettings& settings, std::initializer_list<int> statistics) {
        EXPECT_EQ(settings.filterEnabled, 1);
        EXPECT_EQ(settings.thresholdLevel, 1);
        EXPECT_EQ(settings.LogFolder(), folder_ / "program/log");
        EXPECT_EQ(settings.QuarantineFolder(), folder_ / "program/quarantine");
        const int actual[] = {settings.hamMessageCount,    settings.spamMessageCount,
                              settings.newLowerTokenCount, settings.newCapitalTokenCount,
                              settings.newUpperTokenCount, settings.emailsFiltered,
                              settings.spamCount,          settings.popupsBlocked};
        int i = 0;
        for (int expected : statistics) {
            EXPECT_EQ(actual[i], expected) << "statistic " << i;
            ++i;
        }
    }

    TempFolder folder_;
};

TEST_F(SettingsPersistenceTest, FreshInstallationStartsWithDefaultsAndCreatesTheFolders) {
    ApplicationSettings run(Paths());
    ExpectDefaultsWithStatistics(run.Settings(), {0, 0, 0, 0, 0, 0, 0, 0});
    for (const char* name : {"Data", "log", "quarantine"}) {
        EXPECT_TRUE(std::filesystem::is_directory(folder_ / "program/" + name)) << name;
    }
    // Nothing is written until the exit.
    EXPECT_FALSE(std::filesystem::exists(BlobPath()));
    EXPECT_FALSE(std::filesystem::exists(BackupPath()));
}

TEST_F(SettingsPersistenceTest, OptionsAndStatisticsSurviveARestart) {
    Run([&](FilterSettings& settings) {
        SetStatistics(settings);
        settings.thresholdLevel = 7;
        settings.password = "Secret";
        settings.SetQuarantineFolder("/srv/mail/spam");
        settings.outboundEmailLock = 1;
        settings.tipsShownThisSession = 1;
    });

    struct stat info {};
    ASSERT_EQ(::stat(BlobPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // Only the value itself is left in the folder: the temporary file was renamed over it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_ / "config/Bramvell/bramvell/Options"),
                            std::filesystem::directory_iterator()),
              1);
    EXPECT_EQ(ReadWholeFile(BackupPath()), LittleEndian({11, 22, 33, 44, 55, 66, 77, 88}));

    ApplicationSettings next(Paths());
    const FilterSettings& settings = next.Settings();
    EXPECT_EQ(settings.thresholdLevel, 7);
    EXPECT_EQ(settings.password, "Secret");
    EXPECT_EQ(settings.QuarantineFolder(), "/srv/mail/spam");
    EXPECT_EQ(settings.popupsBlocked, 88);
    EXPECT_EQ(settings.outboundEmailLock, 0);
    EXPECT_EQ(settings.tipsShownThisSession, 0);
}

TEST_F(SettingsPersistenceTest, DamagedOrMissingValueFallsBackToDefaultsAndTheBackup) {
    Run([&](FilterSettings& settings) {
        SetStatistics(settings);
        settings.filterEnabled = 0;
        settings.SetLogFolder("");
        settings.SetQuarantineFolder("");
    });
    const std::string blob = ReadWholeFile(BlobPath());
    ASSERT_EQ(blob.size(), kEmptyTextsBlobSize);

    const std::string damaged[] = {blob.substr(0, blob.size() - 1), ""};
    for (const std::string& bytes : damaged) {
        SCOPED_TRACE(bytes.size());
        WriteWholeFile(BlobPath(), bytes);
        ApplicationSettings run(Paths());
        ExpectDefaultsWithStatistics(run.Settings(), {11, 22, 33, 44, 55, 66, 77, 88});
    }

    std::filesystem::remove(BlobPath());
    ApplicationSettings missing(Paths());
    ExpectDefaultsWithStatistics(missing.Settings(), {11, 22, 33, 44, 55, 66, 77, 88});

    std::filesystem::remove(BackupPath());
    ApplicationSettings nothing(Paths());
    ExpectDefaultsWithStatistics(nothing.Settings(), {0, 0, 0, 0, 0, 0, 0, 0});
}

TEST_F(SettingsPersistenceTest, ShortBackupFillsOnlyTheWholeIntegersItHas) {
    std::filesystem::create_directories(folder_ / "program");
    // Two whole integers and half of the third.
    WriteWholeFile(BackupPath(), LittleEndian({5, 6, 7}).substr(0, 10));
    ApplicationSettings run(Paths());
    ExpectDefaultsWithStatistics(run.Settings(), {5, 6, 0, 0, 0, 0, 0, 0});
}

TEST_F(SettingsPersistenceTest, BackupIsReplacedPrivatelyAndAPlantedLinkRedirectsNothing) {
    std::filesystem::create_directories(folder_ / "program");
    const std::string victim = folder_ / "victim";
    WriteWholeFile(victim, std::string(40, '\x7F'));
    std::filesystem::create_symlink(victim, BackupPath());
    Run([&](FilterSettings& settings) { SetStatistics(settings); });
    EXPECT_EQ(ReadWholeFile(victim), std::string(40, '\x7F'));
    EXPECT_FALSE(std::filesystem::is_symlink(BackupPath()));
    EXPECT_EQ(ReadWholeFile(BackupPath()), LittleEndian({11, 22, 33, 44, 55, 66, 77, 88}));
    EXPECT_EQ(std::filesystem::status(BackupPath()).permissions(), std::filesystem::perms::owner_read |
                                                                       std::filesystem::perms::owner_write);
}

TEST_F(SettingsPersistenceTest, NewFoldersAreTheUsersAlone) {
    ApplicationSettings run(Paths());
    for (const char* name : {"program/Data", "program/log", "program/quarantine"}) {
        const auto permissions = std::filesystem::status(folder_ / name).permissions();
        EXPECT_EQ(permissions & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
                  std::filesystem::perms::none)
            << name;
    }
}

TEST_F(SettingsPersistenceTest, UnavailableStoreStillKeepsTheStatisticsInTheBackup) {
    WriteWholeFile(folder_ / "config", "a file where the folder should be");
    {
        ApplicationSettings run(Paths());
        EXPECT_FALSE(run.Store().IsOpen());
        SetStatistics(run.Settings());
        run.Settings().thresholdLevel = 9;
        EXPECT_FALSE(run.Exit());
    }
    ApplicationSettings next(Paths());
    ExpectDefaultsWithStatistics(next.Settings(), {11, 22, 33, 44, 55, 66, 77, 88});
}

}  // namespace
}  // namespace bramvell
