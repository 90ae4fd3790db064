#include "platform/linux/ProcessRunner.h"

#include <gtest/gtest.h>

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

TEST(ProcessRunnerTest, MissingProgramsAreReported) {
    std::string output;
    EXPECT_EQ(RunProgram({"no-such-program-bramvell"}, {}, &output), -1);
    EXPECT_NE(output.find("not found"), std::string::npos);
    EXPECT_EQ(RunProgram({}, {}, &output), -1);
    EXPECT_EQ(FindProgram(""), "");
    EXPECT_EQ(FindProgram("/nonexistent/bin/tool"), "");
    EXPECT_NE(FindProgram("sh"), "");
}

}  // namespace
}  // namespace bramvell
