#include "config/Autostart.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "config/Startup.h"
#include "support/TempFolder.h"

namespace bramvell {
namespace {

using testing::ReadWholeFile;
using testing::TempFolder;

TEST(AutostartTest, EntryFollowsTheOptionAtEveryExit) {
    TempFolder folder;
    const StartupPaths paths{folder / "program", SettingsLocation{folder / "config", "bramvell"},
                             "/opt/bramvell/bin/bramvell"};
    const std::string entry = AutostartFilePath(folder / "config");
    ASSERT_EQ(entry, folder / "config/autostart/Bramvell.desktop");

    {
        ApplicationSettings run(paths);  // option on by default
        run.Exit();
        run.Settings().startWithWindows = 0;
        run.Exit();  // only the first exit acts
    }
    const std::string text = ReadWholeFile(entry);
    EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos);
    EXPECT_NE(text.find("\nExec=\"/opt/bramvell/bin/bramvell\" --home \"" + folder.path() + "/program\"\n"),
              std::string::npos);

    {
        ApplicationSettings run(paths);
        run.Settings().startWithWindows = 0;
        run.Exit();
    }
    EXPECT_FALSE(std::filesystem::exists(entry));
    // The option is stored: it stays off until the user turns it on again.
    {
        ApplicationSettings run(paths);
        EXPECT_EQ(run.Settings().startWithWindows, 0);
        run.Settings().startWithWindows = 1;
        EXPECT_TRUE(run.Exit());
    }
    EXPECT_TRUE(std::filesystem::exists(entry));
}

TEST(AutostartTest, ExecArgumentsAreQuotedAndEscaped) {
    EXPECT_EQ(AutostartExecLine("/home/a b/bramvell", ""), "\"/home/a b/bramvell\"");
    // Inside quotes " ` $ \ take a backslash, % is doubled; the value then doubles each backslash.
    EXPECT_EQ(AutostartExecLine("/x/$HOME`%\"\\", "/p"),
              "\"/x/\\\\$HOME\\\\`%%\\\\\"\\\\\\\\\" --home \"/p\"");
    EXPECT_EQ(AutostartExecLine("/x\ny", ""), "\"/x\\ny\"");
}

}  // namespace
}  // namespace bramvell
