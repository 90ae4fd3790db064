#include "config/ProgramFolder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/TempFolder.h"

namespace bramvell {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

constexpr uid_t kNobody = 65534;

fs::perms GroupAndOthers(const std::string& path) {
    return fs::status(path).permissions() & (fs::perms::group_all | fs::perms::others_all);
}

TEST(ProgramFolderTest, AMissingFolderIsCreatedPrivateAndASharedOneIsRefused) {
    TempFolder folder;
    std::string problem;
    EXPECT_TRUE(PrepareProgramFolder(folder / "new/program", &problem)) << problem;
    EXPECT_EQ(GroupAndOthers(folder / "new"), fs::perms::none);
    EXPECT_EQ(GroupAndOthers(folder / "new/program"), fs::perms::none);
    CreateDefaultFolders(folder / "new/program");
    EXPECT_EQ(GroupAndOthers(folder / "new/program/quarantine"), fs::perms::none);

    fs::create_directory(folder / "shared");
    fs::permissions(folder / "shared", fs::perms::all);
    EXPECT_FALSE(PrepareProgramFolder(folder / "shared", &problem));
    EXPECT_NE(problem.find("may be written by other users"), std::string::npos) << problem;

    EXPECT_FALSE(PrepareProgramFolder("", &problem));
    EXPECT_NE(problem.find("--home"), std::string::npos) << problem;

    testing::WriteWholeFile(folder / "file", "x");
    EXPECT_FALSE(PrepareProgramFolder(folder / "file", &problem));
}

TEST(ProgramFolderTest, AnotherUsersFolderIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to give the folder away";
    }
    TempFolder folder;
    fs::create_directory(folder / "theirs");
    ASSERT_EQ(::chown((folder / "theirs").c_str(), kNobody, kNobody), 0);
    std::string problem;
    EXPECT_FALSE(PrepareProgramFolder(folder / "theirs", &problem));
    EXPECT_NE(problem.find("belongs to another user"), std::string::npos) << problem;
}

TEST(ProgramFolderTest, RootUsesTheSystemFolderAndAnExplicitChoiceWins) {
    EXPECT_EQ(ResolveProgramFolder("relative/../home"), fs::current_path() / "home");
    if (::geteuid() == 0 && std::getenv("BRAMVELL_HOME") == nullptr) {
        EXPECT_EQ(ResolveProgramFolder(""), kSystemProgramFolder);
    }
}

// An ordinary user without HOME or XDG variables: never a shared folder such as /tmp. Runs in a child
// process that becomes nobody (whose password entry names /nonexistent).
TEST(ProgramFolderTest, WithNoHomeNothingFallsBackToASharedFolder) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to become another user";
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::unsetenv("HOME");
        ::unsetenv("XDG_DATA_HOME");
        ::unsetenv("BRAMVELL_HOME");
        if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            ::_exit(2);
        }
        const std::string folder = ResolveProgramFolder("");
        std::string problem;
        const bool usable = PrepareProgramFolder(folder, &problem);
        const bool shared = folder.rfind("/tmp", 0) == 0 || folder.rfind("/var/tmp", 0) == 0;
        ::_exit(shared || usable ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

}  // namespace
}  // namespace bramvell
