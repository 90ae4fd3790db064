#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "PacketLoopHarness.h"

namespace bramvell {
namespace {

using testing::LoopRig;
using testing::ReadWholeFile;
using Posted = testing::RecordingMessageTarget::Posted;

const char* const kLogFile = "20260315.txt";

std::string LogText(const LoopRig& rig) {
    const std::string path = rig.logFolder / kLogFile;
    return std::filesystem::exists(path) ? ReadWholeFile(path) : std::string();
}

struct Failure {
    const char* name;
    void (*arrange)(LoopRig&);
    const char* logLine;
};

TEST(PacketFilterStartupTest, EachFailurePostsFilterFailedAndLogsOnlyWithLoggingOn) {
    const Failure failures[] = {
        {"no driver", [](LoopRig& rig) { rig.source.SetDriverLoaded(false); },
         "Bramvell network driver not installed on this system or failed to load\r\n"},
        {"index equal to the count", [](LoopRig& rig) { rig.settings.adapterIndex = 1; },
         "Bramvell network adapter 1 not found (1 adapters available)\r\n"},
        {"no adapters", [](LoopRig& rig) { rig.source.SetAdapters({}); },
         "Bramvell network adapter 0 not found (0 adapters available)\r\n"},
        {"negative index", [](LoopRig& rig) { rig.settings.adapterIndex = -1; },
         "Bramvell network adapter -1 not found (1 adapters available)\r\n"},
        {"largest index", [](LoopRig& rig) { rig.settings.adapterIndex = INT32_MAX; },
         "Bramvell network adapter 2147483647 not found (1 adapters available)\r\n"},
        {"event not attached", [](LoopRig& rig) { rig.source.SetEventAttachFails(true); },
         "Failed to create notification event or set it for driver\r\n"},
    };
    for (const Failure& failure : failures) {
        for (int logging : {1, 0}) {
            SCOPED_TRACE(std::string(failure.name) + (logging ? " logging on" : " logging off"));
            LoopRig rig;
            rig.settings.activityLogEnabled = logging;
            failure.arrange(rig);
            auto thread = rig.MakeThread();
            EXPECT_EQ(thread->Run(), 0);

            EXPECT_EQ(rig.target.Messages(), (std::vector<Posted>{{WM_FILTER_FAILED, 1130}}));
            EXPECT_EQ(rig.settings.filterRunning, 0);
            EXPECT_EQ(rig.source.AdapterMode(), kAdapterModeNormal);
            EXPECT_EQ(rig.pop3.idleTurns + rig.pop3.freeAlls, 0);
            EXPECT_EQ(LogText(rig), logging ? "20260315103000 - " + std::string(failure.logLine) : "");

            // Nothing was put into tunnel mode, so the exit handler has nothing to undo.
            thread->StopFiltering();
            EXPECT_FALSE(rig.source.Flushed());
        }
    }
}

TEST(PacketFilterStartupTest, SuccessfulStartTunnelsTheChosenAdapterAndAnnouncesIt) {
    for (int logging : {1, 0}) {
        SCOPED_TRACE(logging);
        LoopRig rig;
        rig.settings.activityLogEnabled = logging;
        rig.source.SetAdapters({{"eth0", 11}, {"wlan0", 22}});
        rig.settings.adapterIndex = 1;
        auto thread = rig.MakeThread();
        thread->Run();

        EXPECT_EQ(rig.target.Messages(), (std::vector<Posted>{{WM_FILTER_STARTED, 1129}}));
        EXPECT_EQ(rig.source.modeAdapter, 22u);
        EXPECT_EQ(LogText(rig), logging ? "20260315103000 - Bramvell has started filtering\r\n" : "");
        // After the loop the adapter stays in tunnel mode until the exit handler runs.
        EXPECT_EQ(rig.settings.filterRunning, 0);
        EXPECT_EQ(rig.pop3.freeAlls, 1);
        EXPECT_EQ(rig.source.AdapterMode(), kAdapterModeTunnel);
        EXPECT_TRUE(rig.source.EventAttached());
    }
}

TEST(PacketFilterStartupTest, WhatTheSourceCannotFilterIsLoggedAtTheStart) {
    LoopRig rig;
    rig.source.SetFilteringNotice("IPv6 is not filtered (no ip6tables); only IPv4 mail is checked");
    auto thread = rig.MakeThread();
    thread->Run();
    EXPECT_EQ(rig.target.Messages(), (std::vector<Posted>{{WM_FILTER_STARTED, 1129}}));
    EXPECT_EQ(LogText(rig),
              "20260315103000 - IPv6 is not filtered (no ip6tables); only IPv4 mail is checked\r\n"
              "20260315103000 - Bramvell has started filtering\r\n");
}

TEST(PacketFilterStartupTest, StopFilteringRestoresTheAdapterOnceAndTheDestructorCoversAForgottenCall) {
    LoopRig rig;
    {
        auto thread = rig.MakeThread();
        thread->Run();
        thread->StopFiltering();
        EXPECT_EQ(rig.source.AdapterMode(), kAdapterModeNormal);
        EXPECT_FALSE(rig.source.EventAttached());
        EXPECT_TRUE(rig.source.Flushed());

        // A second call (or the destructor) must not touch the source again.
        rig.source.SetAdapterMode(1, kAdapterModeTunnel);
        thread->StopFiltering();
        EXPECT_EQ(rig.source.AdapterMode(), kAdapterModeTunnel);
    }
    EXPECT_EQ(rig.source.AdapterMode(), kAdapterModeTunnel);

    rig.settings.stopRequested = 0;
    {
        auto thread = rig.MakeThread();
        thread->Run();
    }
    EXPECT_EQ(rig.source.AdapterMode(), kAdapterModeNormal);
}

}  // namespace
}  // namespace bramvell
