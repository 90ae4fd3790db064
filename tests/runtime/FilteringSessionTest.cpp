// The filtering session and the posted-message handler that the tray application and the headless
// run share.
#include "runtime/FilteringSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "config/FilterSettings.h"
#include "engine/KeyState.h"
#include "engine/MemoryPacketSource.h"
#include "engine/MessageTarget.h"
#include "engine/MessageVerdict.h"
#include "runtime/PostedMessages.h"
#include "support/RecordingMessageTarget.h"
#include "support/TempFolder.h"

namespace bramvell {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

TEST(PostedMessagesTest, CountersHousekeepingAndWhatIsLeftToShow) {
    FilterSettings settings;
    int dayChanges = 0;
    const auto handle = [&](uint32_t message, uintptr_t wParam) {
        return HandlePostedMessage(settings, message, wParam, [&] { ++dayChanges; });
    };
    EXPECT_TRUE(handle(WM_MAIL_CLASSIFIED, 1).countersChanged);
    handle(WM_MAIL_CLASSIFIED, 0);
    handle(WM_MAIL_CLASSIFIED, 7);  // only 1 means spam
    handle(WM_POPUP_BLOCKED, 0);
    EXPECT_EQ(settings.emailsFiltered, 3);
    EXPECT_EQ(settings.spamCount, 1);
    EXPECT_EQ(settings.popupsBlocked, 1);

    EXPECT_FALSE(handle(WM_DAY_CHANGED, WM_FILTER_FAILED).trayActivity);
    EXPECT_EQ(dayChanges, 1);
    EXPECT_TRUE(handle(WM_FILTER_STARTED, WM_FILTER_STARTED).filterStarted);
    const PostedMessageOutcome failed = handle(WM_FILTER_FAILED, WM_FILTER_FAILED);
    EXPECT_TRUE(failed.filterFailed && failed.trayActivity);
    EXPECT_TRUE(handle(WM_WEB_ACTIVITY, WM_WEB_ACTIVITY).trayActivity);
    EXPECT_FALSE(handle(WM_WEB_ACTIVITY, 0).countersChanged);
    EXPECT_EQ(PostedMessageText(WM_MAIL_CLASSIFIED, 1), "classified spam");
    EXPECT_EQ(PostedMessageText(WM_MAIL_CLASSIFIED, 0), "classified good");
    EXPECT_EQ(PostedMessageText(WM_SMTP_ACTIVITY, WM_SMTP_ACTIVITY), "mail activity");
}

TEST(PostedMessagesTest, AClassifiedMessageInWordsWithItsSenderAndPercent) {
    MessageVerdict verdict;
    verdict.sender.assign("Ann <ann@example.org>\x1b[2J");
    verdict.score = 312;
    EXPECT_EQ(ClassifiedMailText(verdict), "classified good: Ann <ann@example.org>?[2J, 3%");
    verdict.isSpam = true;
    verdict.score = 10000;  // shown as the client's error line shows it
    EXPECT_EQ(ClassifiedMailText(verdict), "classified spam: Ann <ann@example.org>?[2J, 99%");
    verdict = MessageVerdict{};
    verdict.isUnsure = true;
    verdict.basis = VerdictBasis::ChiSquareScore;
    verdict.score = 6473;
    EXPECT_EQ(ClassifiedMailText(verdict), "classified unsure: (no sender), 64%, delivered");
    verdict = MessageVerdict{};
    verdict.basis = VerdictBasis::PassphraseRule;
    verdict.sender.assign("carl@example.com");
    EXPECT_EQ(ClassifiedMailText(verdict), "classified good: carl@example.com, subject passphrase");
}

class FilteringSessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", (folder_ / "config").c_str(), 1);
        source_.SetAdapters({AdapterInfo{"eth0", 1}});
    }
    void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }

    // Starts the thread, waits for it to report, and stops in order.
    void RunAndStop(FilteringSession::Kind kind) {
        FilteringSession session(folder_ / "program", kind);
        ASSERT_TRUE(session.Load());
        ASSERT_TRUE(session.Start(source_, target_, keys_));
        for (int i = 0; i < 500 && target_.Count(WM_FILTER_STARTED) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_EQ(target_.Count(WM_FILTER_STARTED), 1u);
        std::vector<std::string> order;
        EXPECT_TRUE(session.Stop({
            .waitForThread = [&] { order.push_back("wait"); },
            .takeLateMessages = [&] { order.push_back("late"); },
            .beforeSaving =
                [&] { order.push_back(session.settings().filterRunning == 0 ? "saving" : "running"); },
        }));
        EXPECT_EQ(order, (std::vector<std::string>{"wait", "late", "saving"}));
        EXPECT_EQ(session.settings().mainWindow, nullptr);
        order.clear();
        EXPECT_TRUE(session.Stop({.waitForThread = [&] { order.push_back("again"); },
                                  .takeLateMessages = {},
                                  .beforeSaving = {}}));  // only the first call acts
        EXPECT_TRUE(order.empty());
    }

    TempFolder folder_;
    MemoryPacketSource source_;
    testing::RecordingMessageTarget target_;
    NoKeyState keys_;
};

TEST_F(FilteringSessionTest, HeadlessStopSavesStatisticsButWritesNoAutostartEntry) {
    RunAndStop(FilteringSession::Kind::Headless);
    EXPECT_TRUE(fs::exists(folder_ / "program/reg.bak"));
    EXPECT_TRUE(fs::exists(folder_ / "config/Bramvell"));
    EXPECT_FALSE(fs::exists(folder_ / "config/autostart/Bramvell.desktop"));
}

TEST_F(FilteringSessionTest, DesktopStopWritesTheAutostartEntry) {
    RunAndStop(FilteringSession::Kind::Desktop);
    EXPECT_TRUE(fs::exists(folder_ / "config/autostart/Bramvell.desktop"));
}

TEST_F(FilteringSessionTest, DroppedWithoutStopEndsTheThreadAndSavesNothing) {
    {
        FilteringSession session(folder_ / "program", FilteringSession::Kind::Desktop);
        ASSERT_TRUE(session.Load());
        ASSERT_TRUE(session.Start(source_, target_, keys_));
    }
    EXPECT_FALSE(fs::exists(folder_ / "program/reg.bak"));
    EXPECT_FALSE(fs::exists(folder_ / "config/autostart/Bramvell.desktop"));
}

}  // namespace
}  // namespace bramvell
