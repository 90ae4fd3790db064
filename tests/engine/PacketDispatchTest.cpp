#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "PacketLoopHarness.h"
#include "engine/Frame.h"
#include "support/FrameBuilder.h"

namespace bramvell {
namespace {

using testing::BuildEthernetFrame;
using testing::BuildIpv4Frame;
using testing::BuildTcpFrame;
using testing::BuildUdpFrame;
using testing::Bytes;
using testing::LoopRig;
using testing::TcpFrameSpec;
using testing::UdpFrameSpec;
using Posted = testing::RecordingMessageTarget::Posted;

constexpr auto kOut = PacketDirection::Outbound;
constexpr auto kIn = PacketDirection::Inbound;

std::vector<uint8_t> TcpSegment(uint16_t sourcePort, uint16_t destinationPort, bool withData,
                                uint8_t flags = tcp_flags::kAck | tcp_flags::kPsh) {
    TcpFrameSpec spec;
    spec.tcp.sourcePort = sourcePort;
    spec.tcp.destinationPort = destinationPort;
    spec.tcp.flags = withData ? flags : tcp_flags::kAck;
    if (withData) {
        spec.payload = Bytes("DATA 1\r\n");
    }
    return BuildTcpFrame(spec);
}

std::vector<uint8_t> Datagram(uint16_t sourcePort, uint16_t destinationPort) {
    UdpFrameSpec spec;
    spec.udp.sourcePort = sourcePort;
    spec.udp.destinationPort = destinationPort;
    spec.payload = Bytes("popup text");
    return BuildUdpFrame(spec);
}

// Runs the loop over the frames on the test thread until the source is empty.
void RunOver(LoopRig& rig, const std::vector<std::pair<PacketDirection, std::vector<uint8_t>>>& frames,
             bool withPop3 = true) {
    for (const auto& [direction, bytes] : frames) {
        rig.source.Inject(direction, bytes);
    }
    rig.MakeThread(withPop3)->Run();
}

struct DispatchRow {
    const char* name;
    PacketDirection direction;
    uint8_t protocol;
    uint16_t sourcePort;
    uint16_t destinationPort;
    bool withData;
    std::optional<uint32_t> post;
    int clientCalls;
    int serverCalls;
};

TEST(PacketDispatchTest, EachRowReachesItsHandlerAndLeavesUnchangedInItsOwnDirection) {
    const DispatchRow rows[] = {
        {"irc first", kOut, 6, 50000, 6661, true, WM_IRC_ACTIVITY, 0, 0},
        {"irc middle", kOut, 6, 50000, 6667, true, WM_IRC_ACTIVITY, 0, 0},
        {"irc last", kOut, 6, 50000, 6669, true, WM_IRC_ACTIVITY, 0, 0},
        {"irc no data", kOut, 6, 50000, 6667, false, std::nullopt, 0, 0},
        {"below irc", kOut, 6, 50000, 6660, true, std::nullopt, 0, 0},
        {"above irc", kOut, 6, 50000, 6670, true, std::nullopt, 0, 0},
        {"smtp data", kOut, 6, 50000, 25, true, WM_SMTP_ACTIVITY, 0, 0},
        {"smtp no data", kOut, 6, 50000, 25, false, std::nullopt, 0, 0},
        {"pop3 client data", kOut, 6, 50000, 110, true, std::nullopt, 1, 0},
        {"pop3 client no data", kOut, 6, 50000, 110, false, std::nullopt, 1, 0},
        {"web 80", kOut, 6, 50000, 80, true, WM_WEB_ACTIVITY, 0, 0},
        {"web 1080", kOut, 6, 50000, 1080, true, WM_WEB_ACTIVITY, 0, 0},
        {"web 3128", kOut, 6, 50000, 3128, true, WM_WEB_ACTIVITY, 0, 0},
        {"web 8080", kOut, 6, 50000, 8080, true, WM_WEB_ACTIVITY, 0, 0},
        {"web no data", kOut, 6, 50000, 8080, false, std::nullopt, 0, 0},
        {"https", kOut, 6, 50000, 443, true, std::nullopt, 0, 0},
        {"outbound from 110", kOut, 6, 110, 50000, true, std::nullopt, 0, 0},
        {"outbound udp to 135", kOut, 17, 50000, 135, true, std::nullopt, 0, 0},
        {"outbound udp to 80", kOut, 17, 50000, 80, true, std::nullopt, 0, 0},
        {"pop3 server data", kIn, 6, 110, 50000, true, std::nullopt, 0, 1},
        {"pop3 server no data", kIn, 6, 110, 50000, false, std::nullopt, 0, 1},
        {"inbound to 110", kIn, 6, 50000, 110, true, std::nullopt, 0, 0},
        {"inbound from 25", kIn, 6, 25, 50000, true, std::nullopt, 0, 0},
        {"inbound from 80", kIn, 6, 80, 50000, true, std::nullopt, 0, 0},
        {"inbound from 6667", kIn, 6, 6667, 50000, true, std::nullopt, 0, 0},
        {"inbound to 25", kIn, 6, 50000, 25, true, std::nullopt, 0, 0},
        {"inbound dns reply", kIn, 17, 53, 50000, true, std::nullopt, 0, 0},
    };
    for (const DispatchRow& row : rows) {
        SCOPED_TRACE(row.name);
        LoopRig rig;
        const std::vector<uint8_t> frame = row.protocol == kProtocolTcp
                                               ? TcpSegment(row.sourcePort, row.destinationPort, row.withData)
                                               : Datagram(row.sourcePort, row.destinationPort);
        RunOver(rig, {{row.direction, frame}});

        std::vector<Posted> expected;
        if (row.post) {
            expected.push_back({*row.post, *row.post});
        }
        EXPECT_EQ(rig.PostsAfterStart(), expected);
        EXPECT_EQ(rig.pop3.clientSegments, row.clientCalls);
        EXPECT_EQ(rig.pop3.serverSegments, row.serverCalls);
        const auto sent = rig.source.TakeSent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].direction, row.direction);
        EXPECT_EQ(sent[0].bytes, frame);
        EXPECT_EQ(rig.source.DroppedCount(), 0u);
    }
}

// The handler sees POP3 frames whatever the filter option says (it keeps translating the connections it
// already tracks); without a handler they pass untouched.
TEST(PacketDispatchTest, Pop3FramesReachTheHandlerWhateverTheOptionAndPassUntouchedWithoutOne) {
    const auto client = TcpSegment(50000, 110, true);
    const auto server = TcpSegment(110, 50000, true);
    for (int enabled : {1, 0}) {
        SCOPED_TRACE(enabled);
        LoopRig rig;
        rig.settings.filterEnabled = enabled;
        RunOver(rig, {{kOut, client}, {kIn, server}});
        EXPECT_EQ(rig.pop3.clientSegments, 1);
        EXPECT_EQ(rig.pop3.serverSegments, 1);
    }
    LoopRig rig;
    rig.pop3.onClient = rig.pop3.onServer = [](FrameContext& frame) { frame.dropMark = true; };
    RunOver(rig, {{kOut, client}, {kIn, server}}, false);
    EXPECT_EQ(rig.pop3.clientSegments + rig.pop3.serverSegments, 0);
    const auto sent = rig.source.TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].direction, kOut);
    EXPECT_EQ(sent[0].bytes, client);
    EXPECT_EQ(sent[1].direction, kIn);
    EXPECT_EQ(sent[1].bytes, server);
}

TEST(PacketDispatchTest, FrameLeavesByItsDirectionAfterTheHandlerAndDropMarkWithholdsIt) {
    LoopRig rig;
    // The client handler turns the segment around (as an answer to the client would) and rewrites it.
    rig.pop3.onClient = [](FrameContext& frame) {
        frame.buffer.deviceFlags = kIn;
        frame.buffer.frame[frame.layout.payloadOffset] = 'X';
    };
    rig.pop3.onServer = [](FrameContext& frame) { frame.dropMark = true; };
    auto client = TcpSegment(50000, 110, true);
    RunOver(rig, {{kOut, client}, {kIn, TcpSegment(110, 50000, true)}, {kIn, TcpSegment(80, 50000, true)}});

    const auto sent = rig.source.TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].direction, kIn);
    client[54] = 'X';
    EXPECT_EQ(sent[0].bytes, client);
    EXPECT_EQ(sent[1].bytes, TcpSegment(80, 50000, true));
    EXPECT_EQ(rig.source.DroppedCount(), 1u);
}

TEST(PacketDispatchTest, OtherEtherTypesAndProtocolsLeaveUnchangedInTheirOwnDirection) {
    TcpFrameSpec smtp;
    smtp.tcp.destinationPort = 25;
    smtp.payload = Bytes("MAIL FROM:<a@b>\r\n");
    const std::vector<uint8_t> smtpSegment = BuildTcpFrame(smtp);
    const std::vector<uint8_t> ipDatagram(smtpSegment.begin() + 14, smtpSegment.end());

    testing::EthernetFields arp;
    arp.etherType = 0x0806;
    testing::EthernetFields ipv6;
    ipv6.etherType = 0x86DD;
    testing::Ipv4Fields laterFragment;
    laterFragment.fragmentField = 0x0010;  // offset 128 bytes: no TCP header in this piece
    const std::vector<uint8_t> icmpEcho = {8, 0, 0xF7, 0xFF, 0, 0, 0, 0};
    const std::vector<std::vector<uint8_t>> frames = {
        BuildEthernetFrame(arp, std::vector<uint8_t>(28, 0x01)),
        BuildEthernetFrame(ipv6, ipDatagram),
        BuildIpv4Frame({}, {}, 1, icmpEcho),
        BuildIpv4Frame({}, laterFragment, kProtocolTcp, {smtpSegment.begin() + 34, smtpSegment.end()}),
        BuildIpv4Frame({}, laterFragment, kProtocolUdp, {smtpSegment.begin() + 34, smtpSegment.end()}),
    };
    for (PacketDirection direction : {kOut, kIn}) {
        LoopRig rig;
        rig.settings.outboundEmailLock = 1;  // anything read as SMTP or Messenger would be dropped
        for (const auto& frame : frames) {
            rig.source.Inject(direction, frame);
        }
        rig.MakeThread()->Run();
        const auto sent = rig.source.TakeSent();
        ASSERT_EQ(sent.size(), frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(sent[i].direction, direction);
            EXPECT_EQ(sent[i].bytes, frames[i]);
        }
        EXPECT_TRUE(rig.PostsAfterStart().empty());
        EXPECT_EQ(rig.pop3.clientSegments + rig.pop3.serverSegments, 0);
    }
}

// Frames whose headers do not fit pass untouched and reach no handler, whatever ports they seem to carry.
TEST(PacketDispatchTest, TruncatedAndMalformedFramesPassUntouched) {
    struct Case {
        const char* name;
        PacketDirection direction;
        std::vector<uint8_t> frame;
    };
    const auto smtp = TcpSegment(50000, 25, true);
    const auto pop3Server = TcpSegment(110, 50000, true);
    const auto messenger = Datagram(1234, 135);
    auto with = [](std::vector<uint8_t> frame, std::size_t at, uint8_t value) {
        frame[at] = value;
        return frame;
    };
    auto cut = [](std::vector<uint8_t> frame, std::size_t length) {
        frame.resize(length);
        return frame;
    };
    const std::size_t tcpOffsetByte = 14 + 20 + 12;
    const std::vector<Case> cases = {
        {"ihl 4", kOut, with(smtp, 14, 0x44)},
        {"ihl 15 past total length", kOut, with(smtp, 14, 0x4F)},
        {"ip version 6 under IPv4 EtherType", kOut, with(smtp, 14, 0x65)},
        {"tcp data offset 4", kOut, with(smtp, tcpOffsetByte, 0x40)},
        {"tcp data offset past the segment", kIn, with(pop3Server, tcpOffsetByte, 0xF0)},
        {"total length past the frame", kOut, with(smtp, 14 + 2, 0x7F)},
        {"total length below the ip header", kIn, with(with(pop3Server, 14 + 2, 0), 14 + 3, 19)},
        {"total length cuts the tcp header", kOut, with(with(smtp, 14 + 2, 0), 14 + 3, 30)},
        {"cut inside the tcp header", kOut, cut(smtp, 14 + 20 + 10)},
        {"cut inside the payload", kIn, cut(pop3Server, pop3Server.size() - 1)},
        {"cut inside the ip header", kOut, cut(smtp, 20)},
        {"cut inside the udp header", kIn, cut(messenger, 14 + 20 + 4)},
        {"udp total length below the udp header", kIn, with(with(messenger, 14 + 2, 0), 14 + 3, 24)},
        {"ethernet header only", kIn, cut(messenger, 14)},
        {"shorter than an ethernet header", kOut, cut(smtp, 9)},
        {"empty", kIn, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LoopRig rig;
        rig.settings.outboundEmailLock = 1;
        rig.pop3.onClient = rig.pop3.onServer = [](FrameContext& frame) { frame.dropMark = true; };
        RunOver(rig, {{c.direction, c.frame}});
        const auto sent = rig.source.TakeSent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].direction, c.direction);
        EXPECT_EQ(sent[0].bytes, c.frame);
        EXPECT_EQ(rig.source.DroppedCount(), 0u);
        EXPECT_TRUE(rig.PostsAfterStart().empty());
        EXPECT_EQ(rig.pop3.clientSegments + rig.pop3.serverSegments, 0);
    }
}

TEST(PacketDispatchTest, DayChangeIsPostedOnceByTheFirstFrameOfTheNewDay) {
    LoopRig rig;
    rig.clock.Set({2026, 3, 15, 23, 59, 59});
    RunOver(rig, {{kIn, Datagram(53, 50000)}, {kIn, Datagram(53, 50000)}});
    EXPECT_TRUE(rig.PostsAfterStart().empty());

    // Midnight passes while nothing arrives: the clock alone reports nothing.
    rig.clock.Set({2026, 3, 16, 0, 0, 0});
    rig.settings.stopRequested = 0;
    rig.MakeThread()->Run();
    EXPECT_TRUE(rig.PostsAfterStart().empty());

    rig.settings.stopRequested = 0;
    RunOver(rig,
            {{kIn, Datagram(53, 50000)}, {kOut, TcpSegment(50000, 443, true)}, {kIn, Datagram(53, 50000)}});
    EXPECT_EQ(rig.PostsAfterStart(), (std::vector<Posted>{{WM_DAY_CHANGED, 1130}}));
    EXPECT_EQ(rig.settings.lastDayOfMonth, 16);
}

TEST(PacketDispatchTest, FreshRecordPostsADayChangeWithTheFirstFrame) {
    LoopRig rig;
    rig.settings.lastDayOfMonth = 0;
    RunOver(rig, {{kOut, TcpSegment(50000, 443, false)}});
    EXPECT_EQ(rig.PostsAfterStart(), (std::vector<Posted>{{WM_DAY_CHANGED, 1130}}));
    EXPECT_EQ(rig.settings.lastDayOfMonth, rig.clock.Now().day);
}

TEST(PacketDispatchTest, LoopSweepsOnSignalsTurnsIdleEveryTurnAndFreesRecordsAtTheEnd) {
    LoopRig rig;
    RunOver(rig, {{kIn, TcpSegment(110, 50000, true)}, {kOut, TcpSegment(50000, 110, true)}});
    // One signalled turn that drains both frames.
    EXPECT_EQ(rig.pop3.sweeps, 1);
    EXPECT_EQ(rig.pop3.idleTurns, 1);
    EXPECT_EQ(rig.pop3.freeAlls, 1);
    EXPECT_EQ(rig.settings.filterRunning, 0);
}

}  // namespace
}  // namespace bramvell
