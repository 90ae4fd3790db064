#include "platform/linux/ProcessRunner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace bramvell {
namespace {

TEST(ProcessRunnerTest, InputGoesInAndOutputAndStatusComeBack) {
    std::string output;
    EXPECT_EQ(RunProgram({"cat"}, "line one\nline two\n", &output), 0);
    EXPECT_EQ(output, "line one\nline two\n");
    EXPECT_EQ(RunProgram({"sh", "-c", "echo out; echo err >&2; exit 3"}, {}, &output), 3);
    EXPECT_EQ(output, "out\nerr\n");
}

TEST(ProcessRunnerTest, LargeInputIsFedWhileOutputIsRead) {
    const std::string input(1 << 20, 'x');
    std::string output;
    EXPECT_EQ(RunProgram({"cat"}, input, &output), 0);
    EXPECT_EQ(output.size(), 64u * 1024);  // kept up to the cap, the rest read and discarded
}

TEST(ProcessRunnerTest, AChildThatIgnoresItsInputDoesNotHurtTheCaller) {
    EXPECT_EQ(RunProgram({"true"}, std::string(1 << 20, 'x'), nullptr), 0);
}

// A folder under /tmp (writable by everyone) holding a program, a link to a good program, and a
// "cat" that would be found first if PATH were used.
class PlantedPrograms : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/bramvell-planted.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        chmod(folder_.c_str(), 0755);
        for (const char* name : {"tool", "cat", "env"}) {
            const std::string path = folder_ + "/" + name;
            std::ofstream(path) << "#!/bin/sh\necho fake-program-ran\n";
            chmod(path.c_str(), 0755);
        }
        std::filesystem::create_symlink("/bin/sh", folder_ + "/sh-link");
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string folder_;
};

TEST_F(PlantedPrograms, OnlyRootOwnedProgramsInFoldersNobodyElseWritesAreFound) {
    struct Case {
        std::string name;
        std::string problemPart;  // empty: accepted
    };
    const Case cases[] = {
        {"sh", ""},
        {"/bin/sh", ""},  // through the /bin link on merged-/usr systems
        {"/usr/bin/../bin/sh", ""},
        {folder_ + "/tool", "/tmp is writable by group or others"},
        {folder_ + "/sh-link", "/tmp is writable by group or others"},  // the link's own folder counts
        {"/usr/bin/../../" + folder_ + "/tool", "/tmp is writable by group or others"},
        {"/nonexistent/bin/tool", "/nonexistent: No such file or directory"},
        {"no-such-program-bramvell", "not found in /usr/sbin"},
        {"bin/sh", "must be absolute"},
        {"/usr/bin", "is not an executable file"},
        {"", "no program"},
    };
    for (const Case& c : cases) {
        std::string problem;
        const std::string found = FindTrustedProgram(c.name, &problem);
        if (c.problemPart.empty()) {
            EXPECT_NE(found, "") << c.name << ": " << problem;
            EXPECT_EQ(found.front(), '/') << found;
        } else {
            EXPECT_EQ(found, "") << c.name;
            EXPECT_NE(problem.find(c.problemPart), std::string::npos) << c.name << ": " << problem;
        }
    }
    std::string output;
    EXPECT_EQ(RunProgram({folder_ + "/tool"}, {}, &output), -1);
    EXPECT_EQ(output.find("fake-program-ran"), std::string::npos) << output;
    EXPECT_NE(output.find("refused to run"), std::string::npos) << output;
}

TEST_F(PlantedPrograms, TheChildSeesTheFixedEnvironmentAndNothingElseOfOurs) {
    const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", (folder_ + ":" + oldPath).c_str(), 1);
    setenv("XTABLES_LIBDIR", folder_.c_str(), 1);
    setenv("LD_LIBRARY_PATH", folder_.c_str(), 1);
    setenv("LANG", "de_DE.UTF-8", 1);
    // A descriptor that is not close-on-exec, as a library might leave one.
    const int stray = open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 0);
    const std::string strayPath = "/proc/self/fd/" + std::to_string(stray);

    std::string environment;
    std::string cat;
    std::string descriptor;
    std::string privileges;
    const int envStatus = RunProgram({"env"}, {}, &environment);
    const int catStatus = RunProgram({"cat"}, "real cat\n", &cat);
    RunProgram({"sh", "-c", "test -e " + strayPath + " && echo open || echo closed"}, {}, &descriptor);
    RunProgram({"grep", "NoNewPrivs", "/proc/self/status"}, {}, &privileges);
    close(stray);
    setenv("PATH", oldPath.c_str(), 1);
    unsetenv("XTABLES_LIBDIR");
    unsetenv("LD_LIBRARY_PATH");
    unsetenv("LANG");

    EXPECT_EQ(envStatus, 0);
    EXPECT_EQ(environment, "PATH=/usr/sbin:/usr/bin:/sbin:/bin\nLC_ALL=C\n");
    EXPECT_EQ(catStatus, 0);
    EXPECT_EQ(cat, "real cat\n");
    EXPECT_EQ(descriptor, "closed\n");
    EXPECT_EQ(privileges, "NoNewPrivs:\t1\n");
}

}  // namespace
}  // namespace bramvell
