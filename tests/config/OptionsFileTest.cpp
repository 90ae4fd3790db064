#include "config/OptionsFile.h"

#include "config/FileOptions.h"
#include "config/FilterSettings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempFolder.h"

namespace bramvell {
namespace {

using testing::ReadWholeFile;
using testing::TempFolder;
using testing::WriteWholeFile;

class OptionsFileTest : public ::testing::Test {
  protected:
    SettingsLocation Location() const { return {folder_.path(), "bramvell"}; }
    std::string FilePath() const { return folder_ / "Bramvell/bramvell/Options/bramvell.conf"; }
    TempFolder folder_;
};

TEST_F(OptionsFileTest, MissingFileGivesDefaultsAndUnknownKeysNothing) {
    OptionsFile options(Location());
    ASSERT_TRUE(options.Load());
    EXPECT_EQ(options.Get("scorer"), "classic");
    EXPECT_EQ(options.Get("no-such-option"), "");
    EXPECT_FALSE(std::filesystem::exists(FilePath()));
}

TEST_F(OptionsFileTest, SetValidatesAndSaveKeepsWhatAHandEditedFileHeld) {
    std::filesystem::create_directories(folder_ / "Bramvell/bramvell/Options");
    WriteWholeFile(FilePath(), "# my notes\nfuture-option = 7\n  scorer=classic  \nnot a line\n");
    OptionsFile options(Location());
    ASSERT_TRUE(options.Load());
    std::string problem;
    EXPECT_FALSE(options.Set("scorer", "bayes", &problem));
    EXPECT_EQ(problem, "'bayes' is not a value of scorer (classic, chi-square)");
    EXPECT_FALSE(options.Set("colour", "red", &problem));
    EXPECT_EQ(problem, "unknown option 'colour'");
    ASSERT_TRUE(options.Set("scorer", "chi-square", &problem));
    ASSERT_TRUE(options.Save());
    EXPECT_EQ(ReadWholeFile(FilePath()), "# my notes\nfuture-option = 7\nscorer = chi-square\nnot a line\n");
    EXPECT_EQ(std::filesystem::status(FilePath()).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

    OptionsFile again(Location());
    ASSERT_TRUE(again.Load());
    EXPECT_EQ(again.Get("scorer"), "chi-square");
}

TEST_F(OptionsFileTest, AValueItMayNotTakeReadsAsTheDefaultAndTheLastLineWins) {
    std::filesystem::create_directories(folder_ / "Bramvell/bramvell/Options");
    const struct {
        std::string text;
        std::string scorer;
    } cases[] = {
        {"scorer = chi-square\nscorer = classic\n", "classic"},
        {"scorer = classic\nscorer = chi-square", "chi-square"},
        {"scorer = CHI-SQUARE\n", "classic"},
        {"scorer\n= chi-square\n", "classic"},
        {std::string(OptionsFile::kMaxFileSize + 1, '#'), "classic"},
    };
    for (const auto& c : cases) {
        WriteWholeFile(FilePath(), c.text);
        OptionsFile options(Location());
        ASSERT_TRUE(options.Load());
        EXPECT_EQ(options.Get("scorer"), c.scorer) << c.text.substr(0, 60);
    }
}

// The filter reads the answer style from the file; a value it may not take reads as the default.
TEST_F(OptionsFileTest, TheSpamAnswerComesFromTheFile) {
    std::filesystem::create_directories(folder_ / "Bramvell/bramvell/Options");
    FileOptions defaults;
    LoadFileOptions(defaults, Location());
    EXPECT_EQ(defaults.spamAnswerNotice, 0);

    OptionsFile options(Location());
    ASSERT_TRUE(options.Load());
    std::string problem;
    EXPECT_FALSE(options.Set("spam-answer", "silent", &problem));
    EXPECT_EQ(problem, "'silent' is not a value of spam-answer (error, notice)");
    ASSERT_TRUE(options.Set("spam-answer", "notice", &problem));
    ASSERT_TRUE(options.Save());
    FileOptions read;
    LoadFileOptions(read, Location());
    EXPECT_EQ(read.spamAnswerNotice, 1);

    WriteWholeFile(FilePath(), "spam-answer = Notice\n");
    FileOptions damaged;
    damaged.spamAnswerNotice = 1;
    LoadFileOptions(damaged, Location());
    EXPECT_EQ(damaged.spamAnswerNotice, 0);
}

}  // namespace
}  // namespace bramvell
