// The whole tray application in-process: start-up, the run, the orderly exits.
#include "ui/TrayApplication.h"

#include "engine/MemoryPacketSource.h"

#include <QTimer>
#include <csignal>

#include <gtest/gtest.h>

#include "FakePrompter.h"
#include "config/ConfigHome.h"
#include "support/TempFolder.h"
#include "ui/SingleInstanceLock.h"

namespace bramvell {
namespace {

class TrayApplicationTest : public ::testing::Test {
  protected:
    // Settings and the autostart entry go to a folder of the test's own.
    TrayApplicationTest() { setenv("XDG_CONFIG_HOME", config.path().c_str(), 1); }
    ~TrayApplicationTest() override { unsetenv("XDG_CONFIG_HOME"); }

    bool SettingsSaved() const {
        return std::filesystem::exists(config / ("Bramvell/" + ApplicationName() + "/Options/General"));
    }

    TrayApplicationOptions Options() {
        TrayApplicationOptions options;
        options.programFolder = home.path();
        options.simulatedSource = true;
        options.lockPath = home / "instance.lock";
        options.prompter = &prompter;
        options.trayPresence = TrayPresence::Assumed;
        return options;
    }
    testing::TempFolder config;
    testing::TempFolder home;
    testing::FakePrompter prompter;
};

TEST_F(TrayApplicationTest, RunsHiddenUntilShutdownIsConfirmed) {
    TrayApplicationOptions options = Options();
    int runs = 0;
    bool filterStarted = false;
    options.onRunning = [&](ControlPanel& panel) {
        ++runs;
        EXPECT_FALSE(panel.isVisible());
        EXPECT_TRUE(panel.tray()->isAdded());
        EXPECT_EQ(panel.pages().size(), 15);  // the twelve option pages, Quarantine, Activity, Statistics
        // Once the filter thread reports that it runs, the icon settles; then shut down: No, then Yes.
        prompter.yesNoAnswers = {false, true};
        auto* poll = new QTimer(&panel);
        QObject::connect(poll, &QTimer::timeout, &panel, [&panel, poll, &filterStarted] {
            if (panel.tray()->animation().mode() != WM_FILTER_STARTED &&
                poll->property("ticks").toInt() < 300) {
                poll->setProperty("ticks", poll->property("ticks").toInt() + 1);
                return;
            }
            poll->stop();
            filterStarted = panel.tray()->animation().mode() == WM_FILTER_STARTED;
            panel.OnCommand(ID_SHUTDOWN);  // No
            panel.OnCommand(ID_SHUTDOWN);  // Yes
        });
        poll->start(10);
    };
    EXPECT_EQ(RunTrayApplication(options), kExitNormal);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(filterStarted);
    EXPECT_EQ(prompter.questions.size(), 2);
    // The default folders were made for the run; the exit saved the settings and the statistics.
    EXPECT_TRUE(std::filesystem::is_directory(home / "quarantine"));
    EXPECT_TRUE(SettingsSaved());
    EXPECT_TRUE(std::filesystem::exists(home / "reg.bak"));
}

TEST_F(TrayApplicationTest, SecondCopyEndsAtOnce) {
    SingleInstanceLock first;
    ASSERT_TRUE(first.Acquire(home / "instance.lock"));
    TrayApplicationOptions options = Options();
    bool ran = false;
    options.onRunning = [&](ControlPanel&) { ran = true; };
    EXPECT_EQ(RunTrayApplication(options), kExitNormal);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(prompter.warnings.isEmpty());
    EXPECT_FALSE(std::filesystem::exists(home / "quarantine"));  // nothing of this copy's was made
    EXPECT_FALSE(SettingsSaved());
    EXPECT_FALSE(std::filesystem::exists(home / "reg.bak"));
}

TEST_F(TrayApplicationTest, MissingSourceShowsTheDriverMessage) {
    TrayApplicationOptions options = Options();
    // A source whose driver check fails; never the machine's own packet source in a test.
    options.createSource = [] {
        auto source = std::make_unique<MemoryPacketSource>();
        source->SetDriverLoaded(false);
        return std::unique_ptr<PacketSource>(std::move(source));
    };
    bool ran = false;
    options.onRunning = [&](ControlPanel&) { ran = true; };
    EXPECT_EQ(RunTrayApplication(options), kExitNoSource);
    EXPECT_FALSE(ran);
    EXPECT_EQ(prompter.warnings, QStringList{"Bramvell network driver failed to load or was not installed."});
    EXPECT_TRUE(SettingsSaved());  // an orderly exit all the same
}

TEST_F(TrayApplicationTest, TerminationSignalEndsTheRunWithoutTheQuestion) {
    TrayApplicationOptions options = Options();
    options.onRunning = [&](ControlPanel& panel) {
        QTimer::singleShot(0, &panel, [] { std::raise(SIGTERM); });
    };
    EXPECT_EQ(RunTrayApplication(options), kExitNormal);
    EXPECT_TRUE(prompter.questions.isEmpty());
    // The default handler is back once the application has ended.
    struct sigaction current {};
    sigaction(SIGTERM, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace bramvell
