#include <gtest/gtest.h>

#include <vector>

#include "PacketLoopHarness.h"
#include "engine/DatagramFilter.h"
#include "engine/Frame.h"
#include "support/FrameBuilder.h"

namespace bramvell {
namespace {

using testing::BuildTcpFrame;
using testing::BuildUdpFrame;
using testing::Bytes;
using testing::LoopRig;
using testing::TcpFrameSpec;
using testing::UdpFrameSpec;
using Posted = testing::RecordingMessageTarget::Posted;

std::vector<uint8_t> Datagram(uint16_t sourcePort, uint16_t destinationPort) {
    UdpFrameSpec spec;
    spec.udp.sourcePort = sourcePort;
    spec.udp.destinationPort = destinationPort;
    spec.payload = Bytes("Messenger Service popup");
    return BuildUdpFrame(spec);
}

std::vector<uint8_t> SmtpSegment(uint8_t flags, std::string_view payload) {
    TcpFrameSpec spec;
    spec.tcp.sourcePort = 50123;
    spec.tcp.destinationPort = 25;
    spec.tcp.flags = flags;
    spec.payload = Bytes(payload);
    return BuildTcpFrame(spec);
}

TEST(MessengerFilterTest, RecognisesMessengerPorts) {
    EXPECT_TRUE(IsMessengerDatagram(1234, 135));
    EXPECT_TRUE(IsMessengerDatagram(53, 135));
    for (uint16_t port = 1025; port <= 1029; ++port) {
        EXPECT_TRUE(IsMessengerDatagram(1234, port)) << port;
        EXPECT_FALSE(IsMessengerDatagram(53, port)) << port;
    }
    EXPECT_FALSE(IsMessengerDatagram(1234, 1024));
    EXPECT_FALSE(IsMessengerDatagram(1234, 1030));
    EXPECT_FALSE(IsMessengerDatagram(135, 1234));
    EXPECT_FALSE(IsMessengerDatagram(1234, 136));
}

TEST(MessengerFilterTest, InboundMessengerDatagramsAreDroppedAndCountedOnlyWithTheOptionOn) {
    const std::vector<uint8_t> messenger[] = {Datagram(1234, 135), Datagram(53, 135), Datagram(1234, 1026)};
    const std::vector<uint8_t> nameServerReply = Datagram(53, 1026);
    for (int option : {1, 0}) {
        SCOPED_TRACE(option);
        LoopRig rig;
        rig.settings.blockMessengerPopups = option;
        for (const auto& frame : messenger) {
            rig.source.Inject(PacketDirection::Inbound, frame);
        }
        rig.source.Inject(PacketDirection::Inbound, nameServerReply);
        rig.MakeThread()->Run();

        const auto sent = rig.source.TakeSent();
        if (option == 1) {
            EXPECT_EQ(rig.PostsAfterStart(), std::vector<Posted>(3, Posted{WM_POPUP_BLOCKED, 0}));
            EXPECT_EQ(rig.source.DroppedCount(), 3u);
            ASSERT_EQ(sent.size(), 1u);
            EXPECT_EQ(sent[0].bytes, nameServerReply);
        } else {
            EXPECT_TRUE(rig.PostsAfterStart().empty());
            EXPECT_EQ(rig.source.DroppedCount(), 0u);
            EXPECT_EQ(sent.size(), 4u);
        }
    }
}

TEST(MessengerFilterTest, OutboundDatagramsToMessengerPortsPass) {
    LoopRig rig;
    const auto frame = Datagram(1234, 135);
    rig.source.Inject(PacketDirection::Outbound, frame);
    rig.MakeThread()->Run();
    const auto sent = rig.source.TakeSent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].direction, PacketDirection::Outbound);
    EXPECT_EQ(sent[0].bytes, frame);
    EXPECT_TRUE(rig.PostsAfterStart().empty());
}

TEST(OutboundEmailLockTest, EngagedLockDropsEverySegmentToPort25) {
    LoopRig rig;
    rig.settings.outboundEmailLock = 1;
    rig.source.Inject(PacketDirection::Outbound, SmtpSegment(tcp_flags::kSyn, ""));
    rig.source.Inject(PacketDirection::Outbound, SmtpSegment(tcp_flags::kAck, ""));
    rig.source.Inject(PacketDirection::Outbound, SmtpSegment(tcp_flags::kAck | tcp_flags::kPsh, "DATA\r\n"));
    rig.source.Inject(PacketDirection::Outbound, SmtpSegment(tcp_flags::kFin | tcp_flags::kAck, ""));
    rig.MakeThread()->Run();
    EXPECT_TRUE(rig.source.TakeSent().empty());
    EXPECT_EQ(rig.source.DroppedCount(), 4u);
    EXPECT_TRUE(rig.PostsAfterStart().empty());
}

TEST(OutboundEmailLockTest, DisengagedLockPassesSegmentsAndFlashesOnData) {
    LoopRig rig;
    rig.settings.outboundEmailLock = 1;
    rig.source.Inject(PacketDirection::Outbound, SmtpSegment(tcp_flags::kSyn, ""));
    rig.MakeThread()->Run();
    EXPECT_EQ(rig.source.DroppedCount(), 1u);

    // The user disengages the lock; the client's next attempt goes through.
    rig.settings.outboundEmailLock = 0;
    rig.settings.stopRequested = 0;
    const auto syn = SmtpSegment(tcp_flags::kSyn, "");
    const auto data = SmtpSegment(tcp_flags::kAck | tcp_flags::kPsh, "HELO host\r\n");
    rig.source.Inject(PacketDirection::Outbound, syn);
    rig.source.Inject(PacketDirection::Outbound, data);
    rig.MakeThread()->Run();
    const auto sent = rig.source.TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].bytes, syn);
    EXPECT_EQ(sent[1].bytes, data);
    EXPECT_EQ(rig.source.DroppedCount(), 1u);
    EXPECT_EQ(rig.PostsAfterStart(), (std::vector<Posted>{{WM_SMTP_ACTIVITY, WM_SMTP_ACTIVITY}}));
}

}  // namespace
}  // namespace bramvell
