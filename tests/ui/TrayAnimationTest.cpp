#include "ui/TrayAnimation.h"

#include <gtest/gtest.h>

#include <vector>

namespace bramvell {
namespace {

// Ticks until the timer stops (or a bound), recording the image shown at each step.
std::vector<int> RunUntilStopped(TrayAnimation& animation, int bound = 20) {
    std::vector<int> shown;
    for (int i = 0; i < bound && animation.timerRunning(); ++i) {
        if (animation.OnTimer() == TrayAnimation::Step::Show) {
            shown.push_back(animation.image());
        }
    }
    return shown;
}

TEST(TrayAnimationTest, StartingAlternatesUntilTheFilterReports) {
    TrayAnimation animation;
    EXPECT_TRUE(animation.SetMode(kStartingPeriodMs, WM_ICON_STARTING));
    std::vector<int> shown;
    for (int i = 0; i < 4; ++i) {
        animation.OnTimer();
        shown.push_back(animation.image());
    }
    EXPECT_EQ(shown, (std::vector<int>{ICON_STOPPED, ICON_NORMAL, ICON_STOPPED, ICON_NORMAL}));

    // The running 300 ms timer keeps its period when the filter reports.
    EXPECT_FALSE(animation.SetMode(kActivityPeriodMs, WM_FILTER_STARTED));
    EXPECT_EQ(animation.periodMs(), kStartingPeriodMs);
    EXPECT_EQ(RunUntilStopped(animation), std::vector<int>{});  // already normal: the timer just stops
    EXPECT_FALSE(animation.timerRunning());
    EXPECT_EQ(animation.image(), ICON_NORMAL);
}

TEST(TrayAnimationTest, FailureSettlesOnTheStoppedImage) {
    TrayAnimation animation;
    animation.SetMode(kStartingPeriodMs, WM_ICON_STARTING);
    animation.SetMode(kActivityPeriodMs, WM_FILTER_FAILED);
    EXPECT_EQ(RunUntilStopped(animation), std::vector<int>{ICON_STOPPED});
    EXPECT_EQ(animation.image(), ICON_STOPPED);
    EXPECT_FALSE(animation.timerRunning());
}

TEST(TrayAnimationTest, WebFlashShowsFiveStepsThenStops) {
    TrayAnimation animation;
    EXPECT_TRUE(animation.SetMode(kActivityPeriodMs, WM_WEB_ACTIVITY));
    EXPECT_EQ(animation.periodMs(), kActivityPeriodMs);
    EXPECT_EQ(RunUntilStopped(animation),
              (std::vector<int>{ICON_WEB, ICON_STOPPED, ICON_WEB, ICON_STOPPED, ICON_NORMAL}));
    EXPECT_EQ(animation.mode(), WM_FILTER_STARTED);
    EXPECT_EQ(animation.flashCount(), 0);
}

TEST(TrayAnimationTest, MailDuringAWebFlashFinishesTheRemainingCount) {
    TrayAnimation animation;
    animation.SetMode(kActivityPeriodMs, WM_WEB_ACTIVITY);
    animation.OnTimer();  // web
    animation.OnTimer();  // stopped, one flash done
    animation.OnTimer();  // web again: second step of the second flash
    ASSERT_EQ(animation.image(), ICON_WEB);
    EXPECT_FALSE(animation.SetMode(kActivityPeriodMs, WM_SMTP_ACTIVITY));
    // The count is not reset: mail, stopped (second flash done), normal.
    EXPECT_EQ(RunUntilStopped(animation), (std::vector<int>{ICON_MAIL, ICON_STOPPED, ICON_NORMAL}));
}

TEST(TrayAnimationTest, ChatFlashesTheChatImageAndUnknownModesRepeatTheImage) {
    TrayAnimation animation;
    animation.SetMode(kActivityPeriodMs, WM_IRC_ACTIVITY);
    EXPECT_EQ(RunUntilStopped(animation),
              (std::vector<int>{ICON_CHAT, ICON_STOPPED, ICON_CHAT, ICON_STOPPED, ICON_NORMAL}));

    TrayAnimation other;
    other.SetMode(kActivityPeriodMs, 4242);
    EXPECT_EQ(other.OnTimer(), TrayAnimation::Step::Show);
    EXPECT_EQ(other.image(), ICON_NORMAL);
    EXPECT_TRUE(other.timerRunning());
}

}  // namespace
}  // namespace bramvell
