#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/ConnectionTable.h"
#include "engine/Frame.h"
#include "engine/FrameEditor.h"
#include "engine/OwnFrames.h"
#include "engine/Pop3Connection.h"
#include "support/FrameBuilder.h"

namespace bramvell {
namespace {

using testing::BuildIpv6Frame;
using testing::BuildTcp6Frame;
using testing::Bytes;
using testing::Ipv6Extension;
using testing::Ipv6Fields;
using testing::Ipv6OptionsHeader;
using testing::ReferenceIpv6Checksum;
using testing::Tcp6FrameSpec;

constexpr uint8_t kHopByHop = 0;
constexpr uint8_t kRouting = 43;
constexpr uint8_t kFragment = 44;
constexpr uint8_t kDestinationOptions = 60;
constexpr uint8_t kNoNextHeader = 59;

Ipv6Extension Routing(uint8_t segmentsLeft) {
    Ipv6Extension routing{kRouting, std::vector<uint8_t>(24, 0)};  // type 2 (one address), 24 bytes
    routing.bytes[1] = 2;
    routing.bytes[2] = 2;
    routing.bytes[3] = segmentsLeft;
    return routing;
}

Ipv6Extension Fragment() {
    return {kFragment, std::vector<uint8_t>(8, 0)};
}

// The TCP checksum a frame should carry, from the test's own pseudo-header and sum.
uint16_t ExpectedChecksum(const std::vector<uint8_t>& frame, const FrameLayout& layout,
                          const Ipv6Fields& ip) {
    std::vector<uint8_t> segment(
        frame.begin() + static_cast<std::ptrdiff_t>(layout.transportOffset),
        frame.begin() + static_cast<std::ptrdiff_t>(layout.ipOffset + layout.ipTotalLength));
    segment[16] = segment[17] = 0;
    return ReferenceIpv6Checksum(ip, kProtocolTcp, segment);
}

uint16_t CarriedChecksum(const std::vector<uint8_t>& frame, const FrameLayout& layout) {
    return Load16(frame.data() + layout.transportOffset + 16);
}

TEST(Ipv6FrameTest, ExtensionChainsAreWalkedWithinBoundsOrTheFrameIsLeftAlone) {
    struct Case {
        const char* name;
        std::vector<Ipv6Extension> extensions;
        uint8_t protocol;
        FrameKind kind;
        std::size_t headerLength;  // fixed and extension headers, when the transport is reached
    };
    Ipv6Extension tooLong = Ipv6OptionsHeader(kDestinationOptions, 8);
    tooLong.bytes[1] = 200;  // claims 1608 bytes
    const std::vector<Ipv6Extension> nine(9, Ipv6OptionsHeader(kDestinationOptions, 8));
    const std::vector<Ipv6Extension> eight(8, Ipv6OptionsHeader(kDestinationOptions, 8));
    const Case cases[] = {
        {"plain", {}, kProtocolTcp, FrameKind::Tcp, 40},
        {"hop-by-hop, routing done, destination options",
         {Ipv6OptionsHeader(kHopByHop, 8), Routing(0), Ipv6OptionsHeader(kDestinationOptions, 16)},
         kProtocolTcp,
         FrameKind::Tcp,
         40 + 8 + 24 + 16},
        {"eight headers", eight, kProtocolTcp, FrameKind::Tcp, 40 + 64},
        {"UDP behind options", {Ipv6OptionsHeader(kDestinationOptions, 8)}, kProtocolUdp, FrameKind::Udp, 48},
        {"fragment", {Fragment()}, kProtocolTcp, FrameKind::OtherIp, 0},
        {"fragment behind hop-by-hop",
         {Ipv6OptionsHeader(kHopByHop, 8), Fragment()},
         kProtocolTcp,
         FrameKind::OtherIp,
         0},
        {"routing with an address left", {Routing(1)}, kProtocolTcp, FrameKind::OtherIp, 0},
        {"no next header", {}, kNoNextHeader, FrameKind::OtherIp, 40},
        {"header past the datagram", {tooLong}, kProtocolTcp, FrameKind::Malformed, 0},
        {"nine headers", nine, kProtocolTcp, FrameKind::Malformed, 0},
    };
    Tcp6FrameSpec tcpSpec;
    tcpSpec.payload = Bytes("RETR 1\r\n");
    const std::vector<uint8_t> tcp = [&] {
        const std::vector<uint8_t> frame = BuildTcp6Frame(tcpSpec);
        return std::vector<uint8_t>(frame.begin() + 54, frame.end());
    }();
    const std::vector<uint8_t> udp(16, 0x20);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Ipv6Fields ip;
        ip.extensions = c.extensions;
        const std::vector<uint8_t> frame =
            BuildIpv6Frame({}, ip, c.protocol, c.protocol == kProtocolUdp ? udp : tcp);
        FrameLayout layout;
        ASSERT_EQ(ParseFrame(frame, layout), c.kind);
        if (c.kind == FrameKind::Tcp) {
            EXPECT_EQ(layout.ipVersion, 6);
            EXPECT_EQ(layout.ipHeaderLength, c.headerLength);
            EXPECT_EQ(layout.transportOffset, 14 + c.headerLength);
            EXPECT_EQ(layout.payloadLength, 8u);
            EXPECT_EQ(
                std::string(frame.begin() + static_cast<std::ptrdiff_t>(layout.payloadOffset), frame.end()),
                "RETR 1\r\n");
            EXPECT_EQ(layout.ipOffset + layout.ipTotalLength, frame.size());
        } else if (c.kind == FrameKind::Udp) {
            EXPECT_EQ(layout.transportOffset, 14 + c.headerLength);
            EXPECT_EQ(layout.payloadLength, 8u);
        }
    }
}

TEST(Ipv6FrameTest, LengthsThatDoNotFitTheFrameAreMalformed) {
    Tcp6FrameSpec spec;
    spec.payload = Bytes("USER bob\r\n");
    std::vector<uint8_t> frame = BuildTcp6Frame(spec);
    FrameLayout layout;
    frame.resize(frame.size() + 6, 0);  // Ethernet padding is not payload
    ASSERT_EQ(ParseFrame(frame, layout), FrameKind::Tcp);
    EXPECT_EQ(layout.payloadLength, 10u);

    std::vector<uint8_t> longer = frame;
    Store16(longer.data() + 18, static_cast<uint16_t>(frame.size()));  // payload length past the frame
    EXPECT_EQ(ParseFrame(longer, layout), FrameKind::Malformed);
    std::vector<uint8_t> jumbo = frame;
    Store16(jumbo.data() + 18, 0);  // a jumbogram's payload length, without its hop-by-hop header
    EXPECT_EQ(ParseFrame(jumbo, layout), FrameKind::Malformed);
    EXPECT_EQ(ParseFrame(std::span<const uint8_t>(frame).first(14 + 39), layout), FrameKind::Malformed);
    std::vector<uint8_t> version4 = frame;
    version4[14] = 0x45;
    EXPECT_EQ(ParseFrame(version4, layout), FrameKind::Malformed);
}

TEST(Ipv6FrameTest, ChecksumsAgreeWithTheReferenceForEveryPayloadParityAndChain) {
    for (bool withOptions : {false, true}) {
        for (std::size_t length : {0u, 1u, 2u, 3u, 1211u, 1212u}) {
            SCOPED_TRACE(std::to_string(length) + (withOptions ? " with options" : ""));
            Tcp6FrameSpec spec;
            if (withOptions) {
                spec.ip.extensions = {Ipv6OptionsHeader(kHopByHop, 8),
                                      Ipv6OptionsHeader(kDestinationOptions, 24)};
            }
            spec.tcp.options = {0x01, 0x01, 0x08, 0x0A, 0, 0, 0, 1, 0, 0, 0, 2};
            spec.payload.assign(length, 0xFF);
            std::vector<uint8_t> frame = BuildTcp6Frame(spec);
            FrameLayout layout;
            ASSERT_EQ(ParseFrame(frame, layout), FrameKind::Tcp);
            ASSERT_TRUE(ChecksumsValid(frame, layout));

            const std::vector<uint8_t> original = frame;
            frame[layout.transportOffset + 16] = frame[layout.transportOffset + 17] = 0;
            EXPECT_FALSE(ChecksumsValid(frame, layout));
            UpdateTcpChecksum(frame, layout);
            EXPECT_EQ(frame, original);

            frame[14 + 8 + 15] ^= 0x01;  // the source address is in the pseudo-header
            EXPECT_FALSE(ChecksumsValid(frame, layout));
        }
    }
}

TEST(Ipv6FrameTest, EditsKeepTheChecksumOnTheIncrementalAndTheFullPath) {
    Tcp6FrameSpec spec;
    spec.ip.extensions = {Ipv6OptionsHeader(kDestinationOptions, 8)};
    spec.tcp.options = {0x01, 0x01, 0x08, 0x0A, 0, 0, 0, 1, 0, 0, 0, 2};
    spec.payload = Bytes("+OK 120 octets\r\n");
    const std::vector<uint8_t> original = BuildTcp6Frame(spec);

    // Number fields: folded into the checksum.
    std::vector<uint8_t> frame = original;
    FrameLayout layout;
    ASSERT_EQ(ParseFrame(frame, layout), FrameKind::Tcp);
    {
        FrameEditor edit(std::span<uint8_t>(frame), layout);
        edit.SetSequence(0xFFFFFFF0);
        edit.SetAcknowledgement(0x0000000F);
        edit.SetWindow(0);
        edit.SetFlags(0x11);
        edit.SetTimestamps(0xDEADBEEF, 0x01020304);
    }
    EXPECT_EQ(CarriedChecksum(frame, layout), ExpectedChecksum(frame, layout, spec.ip));

    // A change of length and ends: the payload length follows, the checksum is recomputed.
    PacketBuffer buffer;
    CopyIntoBuffer(buffer, original, PacketDirection::Inbound);
    ASSERT_EQ(ParseFrame(buffer.Bytes(), layout), FrameKind::Tcp);
    {
        FrameEditor edit(buffer, layout);
        edit.SwapEnds();
        edit.ResizePayload(5);
        std::memcpy(edit.Payload().data(), "DELE ", 5);
    }
    const std::vector<uint8_t> edited(buffer.Bytes().begin(), buffer.Bytes().end());
    FrameLayout reparsed;
    ASSERT_EQ(ParseFrame(edited, reparsed), FrameKind::Tcp);
    EXPECT_EQ(Load16(edited.data() + 18), 8 + 32 + 5);  // payload length: options, TCP, payload
    EXPECT_EQ(edited.size(), 14 + 40 + 8 + 32 + 5u);
    Ipv6Fields swapped = spec.ip;
    std::swap(swapped.source, swapped.destination);
    EXPECT_EQ(SourceAddressOf(edited, reparsed), IpAddress::FromIpv6(testing::kIpv6Server));
    EXPECT_EQ(CarriedChecksum(edited, reparsed), ExpectedChecksum(edited, reparsed, swapped));
}

TEST(Ipv6FrameTest, OwnFramesLeaveTheExtensionHeadersOutAndCarryTheirPayloadLength) {
    Tcp6FrameSpec serverSegment;
    serverSegment.ip.source = testing::kIpv6Server;
    serverSegment.ip.destination = testing::kIpv6Client;
    serverSegment.ip.extensions = {Ipv6OptionsHeader(kHopByHop, 8),
                                   Ipv6OptionsHeader(kDestinationOptions, 16)};
    serverSegment.tcp.sourcePort = 110;
    serverSegment.tcp.destinationPort = 49152;
    serverSegment.tcp.options = {0x01, 0x01, 0x08, 0x0A, 0, 0, 0, 7, 0, 0, 0, 9};
    serverSegment.payload = Bytes("+OK message follows\r\n");
    const std::vector<uint8_t> model = BuildTcp6Frame(serverSegment);
    FrameLayout layout;
    ASSERT_EQ(ParseFrame(model, layout), FrameKind::Tcp);

    Pop3Connection connection;
    connection.clientPort = 49152;
    connection.server.ack = 7000;
    connection.client.window = 500;
    connection.client.tsVal = 77;
    OwnFrames own;
    Ipv6Fields toServer;
    Ipv6Fields toClient;
    toClient.source = testing::kIpv6Server;
    toClient.destination = testing::kIpv6Client;
    ToClientFields fields;
    fields.seq = 1;
    fields.ack = 2;
    fields.flags = 0x18;
    for (int which = 0; which < 2; ++which) {
        SCOPED_TRACE(which == 0 ? "to the server" : "to the client");
        const std::string text = which == 0 ? "DELE 1\r\n" : "-ERR Filtered\r\n";
        const PacketBuffer& buffer =
            which == 0 ? own.ToServer(model, layout, connection, 1234, 0x18, 1000, text)
                       : own.ToClient(model, layout, fields,
                                      std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
        const std::vector<uint8_t> frame(buffer.Bytes().begin(), buffer.Bytes().end());
        FrameLayout built;
        ASSERT_EQ(ParseFrame(frame, built), FrameKind::Tcp);
        EXPECT_EQ(frame[14 + 6], kProtocolTcp);  // next header: TCP at once
        EXPECT_EQ(built.ipHeaderLength, 40u);
        EXPECT_EQ(Load16(frame.data() + 18), 32 + text.size());
        EXPECT_EQ(frame.size(), 14 + 40 + 32 + text.size());
        EXPECT_EQ(std::string(frame.begin() + 14 + 40 + 32, frame.end()), text);
        EXPECT_EQ(CarriedChecksum(frame, built),
                  ExpectedChecksum(frame, built, which == 0 ? toServer : toClient));
        EXPECT_EQ(DestinationAddressOf(frame, built),
                  IpAddress::FromIpv6(which == 0 ? testing::kIpv6Server : testing::kIpv6Client));
        // The room for payload counts the 40-byte header: 1514 - 14 - 40 - 32.
        EXPECT_EQ(OwnFrames::PayloadCapacity(built), 1428u);
    }
}

TEST(Ipv6FrameTest, ConnectionKeysTellTheFamiliesAndTheirAddressesApart) {
    const IpAddress v4Client = IpAddress::FromIpv4(0x0A000001);
    EXPECT_TRUE(v4Client.IsIpv4Mapped());
    EXPECT_EQ(v4Client.bytes,
              (std::array<uint8_t, 16>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 10, 0, 0, 1}));
    std::array<uint8_t, 16> compatible{};  // ::10.0.0.1, the deprecated IPv4-compatible form
    compatible[12] = 10;
    compatible[15] = 1;
    EXPECT_NE(IpAddress::FromIpv6(compatible), v4Client);

    const IpAddress v6Client = IpAddress::FromIpv6(testing::kIpv6Client);
    const IpAddress v6Server = IpAddress::FromIpv6(testing::kIpv6Server);
    IpAddress otherServer = v6Server;
    otherServer.bytes[0] ^= 0x01;  // differs in the first byte only
    EXPECT_FALSE(v6Server.IsIpv4Mapped());

    ConnectionTable table;
    Pop3Connection* v4 = table.Create(v4Client, 40000, IpAddress::FromIpv4(0x0A000102));
    Pop3Connection* v6 = table.Create(v6Client, 40000, v6Server);
    Pop3Connection* other = table.Create(v6Client, 40000, otherServer);
    ASSERT_TRUE(v4 && v6 && other);
    EXPECT_EQ(table.Find(v6Client, 40000, v6Server), v6);
    EXPECT_EQ(table.Find(v6Client, 40000, otherServer), other);
    EXPECT_EQ(table.Find(v4Client, 40000, IpAddress::FromIpv4(0x0A000102)), v4);
    EXPECT_EQ(table.Find(v6Client, 40001, v6Server), nullptr);
    EXPECT_EQ(table.Find(v6Server, 40000, v6Client), nullptr);
}

}  // namespace
}  // namespace bramvell
