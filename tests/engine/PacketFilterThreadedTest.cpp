#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "PacketLoopHarness.h"
#include "support/FrameBuilder.h"

namespace bramvell {
namespace {

using namespace std::chrono_literals;
using testing::BuildTcpFrame;
using testing::BuildUdpFrame;
using testing::Bytes;
using testing::LoopRig;
using testing::TcpFrameSpec;
using testing::UdpFrameSpec;
using Posted = testing::RecordingMessageTarget::Posted;
using SteadyClock = std::chrono::steady_clock;

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = 3000ms) {
    const auto deadline = SteadyClock::now() + limit;
    while (!condition()) {
        if (SteadyClock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::vector<uint8_t> WebSegment() {
    TcpFrameSpec spec;
    spec.tcp.destinationPort = 80;
    spec.payload = Bytes("GET / HTTP/1.1\r\n\r\n");
    return BuildTcpFrame(spec);
}

// A thread running the loop while the test injects frames and moves the clock.
class RunningFilter : public ::testing::Test {
  protected:
    void StartWith(std::chrono::milliseconds wait) {
        rig.source.stopWhenEmpty = false;
        thread = rig.MakeThread();
        thread->SetWaitTimeout(wait);
        thread->Start();
        ASSERT_TRUE(WaitFor([&] { return rig.settings.filterRunning == 1; }));
    }
    std::size_t SentCount() {
        auto taken = rig.source.TakeSent();
        sent.insert(sent.end(), taken.begin(), taken.end());
        return sent.size();
    }

    LoopRig rig;
    std::unique_ptr<PacketFilterThread> thread;
    std::vector<MemoryPacketSource::SentFrame> sent;
};

TEST_F(RunningFilter, StopRequestWithoutTrafficIsNoticedWithinASecond) {
    StartWith(kPacketWaitTimeout);
    std::this_thread::sleep_for(50ms);  // the thread is inside its wait now
    const auto requested = SteadyClock::now();
    rig.settings.stopRequested = 1;
    ASSERT_TRUE(WaitFor([&] { return rig.settings.filterRunning == 0; }, 2000ms));
    EXPECT_LT(SteadyClock::now() - requested, 1200ms);
    thread->Join();
    EXPECT_EQ(rig.pop3.freeAlls, 1);
}

TEST_F(RunningFilter, FramesArrivingWhileRunningAreForwardedInOrder) {
    StartWith(20ms);
    const auto web = WebSegment();
    UdpFrameSpec dns;
    dns.udp.sourcePort = 53;
    dns.udp.destinationPort = 40000;
    const auto reply = BuildUdpFrame(dns);
    for (int i = 0; i < 200; ++i) {
        rig.source.Inject(PacketDirection::Outbound, web);
        rig.source.Inject(PacketDirection::Inbound, reply);
        if (i % 50 == 0) {
            std::this_thread::sleep_for(2ms);
        }
    }
    ASSERT_TRUE(WaitFor([&] { return SentCount() == 400; }));
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const bool outbound = i % 2 == 0;
        ASSERT_EQ(sent[i].direction, outbound ? PacketDirection::Outbound : PacketDirection::Inbound) << i;
        ASSERT_EQ(sent[i].bytes, outbound ? web : reply) << i;
    }
    EXPECT_EQ(rig.target.Count(WM_WEB_ACTIVITY), 200u);
    rig.settings.stopRequested = 1;
    thread->Join();
    EXPECT_EQ(rig.settings.filterRunning, 0);
}

TEST_F(RunningFilter, MidnightIsReportedByTheFirstFrameAfterIt) {
    StartWith(20ms);
    rig.clock.Set({2026, 3, 16, 0, 0, 1});
    std::this_thread::sleep_for(100ms);  // several idle turns on the new day
    EXPECT_EQ(rig.target.Count(WM_DAY_CHANGED), 0u);

    rig.source.Inject(PacketDirection::Outbound, WebSegment());
    rig.source.Inject(PacketDirection::Outbound, WebSegment());
    ASSERT_TRUE(WaitFor([&] { return SentCount() == 2; }));
    EXPECT_EQ(rig.target.Count(WM_DAY_CHANGED), 1u);
    EXPECT_EQ(rig.settings.lastDayOfMonth, 16);
    rig.settings.stopRequested = 1;
    thread->Join();
}

TEST_F(RunningFilter, StopFilteringStopsARunningThreadBeforeRestoringTheAdapter) {
    StartWith(20ms);
    thread->StopFiltering();
    EXPECT_EQ(rig.settings.filterRunning, 0);
    EXPECT_EQ(rig.pop3.freeAlls, 1);
    EXPECT_EQ(rig.source.AdapterMode(), kAdapterModeNormal);
    EXPECT_TRUE(rig.source.Flushed());
}

}  // namespace
}  // namespace bramvell
