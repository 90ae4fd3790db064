#include "platform/linux/NetfilterMessages.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <libmnl/libmnl.h>
#include <linux/netfilter.h>
#include <linux/netfilter/nfnetlink.h>
#include <linux/netfilter/nfnetlink_queue.h>

#include <cstring>
#include <vector>

#include "platform/linux/EthernetFraming.h"

namespace bramvell {
namespace {

// Builds a packet message the way the kernel lays it out.
struct KernelMessage {
    alignas(nlmsghdr) uint8_t bytes[4096] = {};

    nlmsghdr* Start(uint16_t subsystem, uint16_t type) {
        nlmsghdr* message = mnl_nlmsg_put_header(bytes);
        message->nlmsg_type = static_cast<uint16_t>(subsystem << 8 | type);
        mnl_nlmsg_put_extra_header(message, sizeof(nfgenmsg));
        return message;
    }
};

const std::vector<uint8_t> kPayload{0x45, 0, 0, 20, 1, 2, 3, 4, 64, 6, 0, 0, 10, 0, 0, 1, 10, 0, 0, 2};

TEST(NetfilterMessagesTest, QueuedPacketIsRead) {
    KernelMessage kernel;
    nlmsghdr* message = kernel.Start(NFNL_SUBSYS_QUEUE, NFQNL_MSG_PACKET);
    nfqnl_msg_packet_hdr header{htonl(77), htons(0x0800), NF_INET_LOCAL_OUT};
    mnl_attr_put(message, NFQA_PACKET_HDR, sizeof header, &header);
    mnl_attr_put_u32(message, NFQA_MARK, 0);
    mnl_attr_put(message, NFQA_PAYLOAD, kPayload.size(), kPayload.data());

    ASSERT_EQ(KindOf(message), NetfilterMessageKind::QueuedPacket);
    NetfilterPacket packet;
    ASSERT_TRUE(ParseQueuedPacket(message, packet));
    EXPECT_EQ(packet.packetId, 77u);
    EXPECT_EQ(packet.hwProtocol, 0x0800);
    EXPECT_EQ(DirectionOfHook(packet.hook), PacketDirection::Outbound);
    EXPECT_EQ(std::vector<uint8_t>(packet.payload.begin(), packet.payload.end()), kPayload);
    EXPECT_EQ(packet.length, kPayload.size());

    // A packet longer than the copy range: the kernel says how long it really was.
    mnl_attr_put_u32(message, NFQA_CAP_LEN, htonl(9000));
    ASSERT_TRUE(ParseQueuedPacket(message, packet));
    EXPECT_EQ(packet.length, 9000u);
    EXPECT_EQ(packet.payload.size(), kPayload.size());
}

TEST(NetfilterMessagesTest, DamagedPacketMessagesAreRefusedOrReadWithoutPayload) {
    KernelMessage kernel;
    nlmsghdr* message = kernel.Start(NFNL_SUBSYS_QUEUE, NFQNL_MSG_PACKET);
    NetfilterPacket packet;
    EXPECT_FALSE(ParseQueuedPacket(message, packet));  // no header attribute

    const uint8_t shortHeader[3] = {0, 0, 1};
    mnl_attr_put(message, NFQA_PACKET_HDR, sizeof shortHeader, shortHeader);
    EXPECT_FALSE(ParseQueuedPacket(message, packet));

    message = kernel.Start(NFNL_SUBSYS_QUEUE, NFQNL_MSG_PACKET);
    nfqnl_msg_packet_hdr header{htonl(5), htons(0x0800), NF_INET_LOCAL_IN};
    mnl_attr_put(message, NFQA_PACKET_HDR, sizeof header, &header);
    nlattr* payload = mnl_attr_nest_start(message, NFQA_PAYLOAD);
    mnl_attr_put(message, 1, kPayload.size(), kPayload.data());
    mnl_attr_nest_end(message, payload);
    payload->nla_len = 60000;  // claims more than the message holds: the walk stops before it
    ASSERT_TRUE(ParseQueuedPacket(message, packet));
    EXPECT_EQ(packet.packetId, 5u);
    EXPECT_TRUE(packet.payload.empty());

    message->nlmsg_len = 8;  // shorter than its own headers
    EXPECT_FALSE(ParseQueuedPacket(message, packet));
}

TEST(NetfilterMessagesTest, VerdictCarriesIdVerdictAndOptionalPayload) {
    alignas(nlmsghdr) uint8_t buffer[kNetfilterVerdictRoom];
    for (const bool withPayload : {false, true}) {
        const std::span<const uint8_t> bytes =
            withPayload ? std::span<const uint8_t>(kPayload) : std::span<const uint8_t>();
        nlmsghdr* message = BuildVerdict(buffer, 110, 4242, kVerdictAccept, bytes);
        EXPECT_EQ(message->nlmsg_type, NFNL_SUBSYS_QUEUE << 8 | NFQNL_MSG_VERDICT);
        const auto* header = static_cast<const nfgenmsg*>(mnl_nlmsg_get_payload(message));
        EXPECT_EQ(ntohs(header->res_id), 110);
        const nlattr* found[NFQA_MAX + 1] = {};
        mnl_attr_parse(
            message, sizeof(nfgenmsg),
            [](const nlattr* attribute, void* data) {
                static_cast<const nlattr**>(data)[mnl_attr_get_type(attribute) % (NFQA_MAX + 1)] = attribute;
                return MNL_CB_OK;
            },
            found);
        const nlattr* verdict = found[NFQA_VERDICT_HDR];
        const nlattr* payload = found[NFQA_PAYLOAD];
        ASSERT_NE(verdict, nullptr);
        nfqnl_msg_verdict_hdr fields;
        std::memcpy(&fields, mnl_attr_get_payload(verdict), sizeof fields);
        EXPECT_EQ(ntohl(fields.id), 4242u);
        EXPECT_EQ(ntohl(fields.verdict), static_cast<uint32_t>(NF_ACCEPT));
        EXPECT_EQ(payload != nullptr, withPayload);
        if (payload) {
            EXPECT_EQ(mnl_attr_get_payload_len(payload), kPayload.size());
        }
    }
}

TEST(EthernetFramingTest, IpPacketsAreWrappedAndUnwrapped) {
    PacketBuffer buffer;
    buffer.frame.fill(0xee);
    ASSERT_TRUE(WrapIpPacket(kPayload, PacketDirection::Inbound, buffer));
    EXPECT_EQ(buffer.length, 14 + kPayload.size());
    EXPECT_EQ(buffer.deviceFlags, PacketDirection::Inbound);
    EXPECT_EQ(buffer.frame[0], 0);
    EXPECT_EQ(buffer.frame[11], 0);
    EXPECT_EQ(buffer.frame[12], 0x08);
    EXPECT_EQ(buffer.frame[13], 0x00);
    const std::span<const uint8_t> back = IpPacketOf(buffer);
    EXPECT_EQ(std::vector<uint8_t>(back.begin(), back.end()), kPayload);

    // Ethernet padding after the IP packet is cut off; a total length past the end keeps all bytes.
    buffer.length += 6;
    EXPECT_EQ(IpPacketOf(buffer).size(), kPayload.size());
    buffer.frame[14 + 3] = 200;
    EXPECT_EQ(IpPacketOf(buffer).size(), kPayload.size() + 6);
}

TEST(EthernetFramingTest, Ipv6PacketsAreWrappedWithTheirEtherTypeAndCutToTheirPayloadLength) {
    PacketBuffer buffer;
    std::vector<uint8_t> ipv6(40 + 12, 0);
    ipv6[0] = 0x60;
    ipv6[5] = 12;  // payload length
    ASSERT_TRUE(WrapIpPacket(ipv6, PacketDirection::Outbound, buffer));
    EXPECT_EQ(buffer.frame[12], 0x86);
    EXPECT_EQ(buffer.frame[13], 0xDD);
    EXPECT_EQ(IpPacketOf(buffer).size(), 52u);
    buffer.length += 8;  // Ethernet padding
    EXPECT_EQ(IpPacketOf(buffer).size(), 52u);
    EXPECT_EQ(DeclaredIpLength(ipv6), 52u);
    EXPECT_EQ(DeclaredIpLength(std::span<const uint8_t>(ipv6).first(39)), 0u);
    buffer.frame[14] = 0x45;  // an IPv4 version under the IPv6 EtherType
    EXPECT_TRUE(IpPacketOf(buffer).empty());
}

TEST(EthernetFramingTest, WhatIsNeitherIpv4NorIpv6IsRefused) {
    PacketBuffer buffer;
    std::vector<uint8_t> other(40, 0);
    other[0] = 0x50;
    EXPECT_FALSE(WrapIpPacket(other, PacketDirection::Outbound, buffer));
    EXPECT_FALSE(WrapIpPacket({}, PacketDirection::Outbound, buffer));
    std::vector<uint8_t> big(1501, 0);
    big[0] = 0x45;
    EXPECT_FALSE(WrapIpPacket(big, PacketDirection::Outbound, buffer));
    big.resize(1500);
    EXPECT_TRUE(WrapIpPacket(big, PacketDirection::Outbound, buffer));
    EXPECT_EQ(buffer.length, kMaxFrameLength);

    buffer.frame[12] = 0x86;  // ARP EtherType
    buffer.frame[13] = 0x06;
    EXPECT_TRUE(IpPacketOf(buffer).empty());
    buffer.frame[12] = 0x08;
    buffer.frame[13] = 0x00;
    buffer.length = 14 + 19;
    EXPECT_TRUE(IpPacketOf(buffer).empty());
    buffer.length = 9999;  // a length past the frame reads only the frame
    EXPECT_EQ(IpPacketOf(buffer).size(), kMaxFrameLength - 14);
}

}  // namespace
}  // namespace bramvell
