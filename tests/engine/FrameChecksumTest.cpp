#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Frame.h"
#include "support/FrameBuilder.h"

namespace bramvell {
namespace {

using testing::BuildTcpFrame;
using testing::Bytes;
using testing::ReferenceChecksum;
using testing::TcpFrameSpec;

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// Segments whose checksums were computed by a separate program (even and odd payload, timestamp option).
const char* const kRetrSegment =
    "525400123456525400abcdef08004500003cabcd400040067aec0a0000020a000001c738006e1122334455667788801801f6"
    "6f9a00000101080a0001e24000bc614e5245545220310d0a";
const char* const kOddUserSegment =
    "525400123456525400abcdef08004500003fabcd400040067ae90a0000020a000001c738006e1122334455667788801801f6"
    "eaf500000101080a0001e24000bc614e5553455220626f620d0a21";

TEST(FrameChecksumTest, IpHeaderChecksumOfAKnownHeader) {
    // The classic worked example: 192.168.0.1 -> 192.168.0.199, UDP, checksum 0xB861.
    const std::vector<uint8_t> header = FromHex("450000730000400040110000c0a80001c0a800c7");
    EXPECT_EQ(InternetChecksum(header), 0xB861);
}

// The word-wide sum against the plain one: every length and alignment up to a few words, carries
// included (initial sums near the top of 32 bits, bytes near 0xFF).
TEST(FrameChecksumTest, WideSumAgreesWithThePlainSumForEveryLengthAndAlignment) {
    std::vector<uint8_t> bytes(80);
    uint32_t seed = 12345;
    for (auto& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(0xC0 | (seed >> 24));
    }
    for (std::size_t start = 0; start < 8; ++start) {
        for (std::size_t length = 0; start + length <= bytes.size(); ++length) {
            const std::span<const uint8_t> range(bytes.data() + start, length);
            for (uint32_t initial : {0u, 0x1234u, 0xFFFFFFF0u}) {
                ASSERT_EQ(InternetChecksum(range, initial), ReferenceChecksum(range, initial))
                    << start << " " << length << " " << initial;
            }
        }
    }
}

TEST(FrameChecksumTest, KnownSegmentsVerifyAndRecomputeToTheSameBytes) {
    for (const char* hex : {kRetrSegment, kOddUserSegment}) {
        SCOPED_TRACE(hex);
        const std::vector<uint8_t> original = FromHex(hex);
        std::vector<uint8_t> frame = original;
        FrameLayout layout;
        ASSERT_EQ(ParseFrame(frame, layout), FrameKind::Tcp);
        EXPECT_TRUE(ChecksumsValid(frame, layout));

        frame[14 + 10] = frame[14 + 11] = 0;
        frame[layout.transportOffset + 16] = frame[layout.transportOffset + 17] = 0;
        EXPECT_FALSE(ChecksumsValid(frame, layout));
        UpdateIpChecksum(frame, layout);
        UpdateTcpChecksum(frame, layout);
        EXPECT_EQ(frame, original);
    }
}

TEST(FrameChecksumTest, ChangedPayloadOrAddressFailsVerification) {
    std::vector<uint8_t> frame = FromHex(kOddUserSegment);
    FrameLayout layout;
    ASSERT_EQ(ParseFrame(frame, layout), FrameKind::Tcp);
    frame.back() ^= 0x01;  // the odd trailing byte counts as the high half of a word
    EXPECT_FALSE(ChecksumsValid(frame, layout));
    frame.back() ^= 0x01;
    frame[14 + 15] ^= 0x01;  // source address: covered by the IP header and the TCP pseudo-header
    EXPECT_FALSE(ChecksumsValid(frame, layout));
}

TEST(FrameChecksumTest, EngineChecksumsAgreeWithTheReferenceAfterRewrites) {
    TcpFrameSpec spec;
    spec.ip.options = {0x94, 0x04, 0x00, 0x00};         // router alert: a 24-byte IP header
    spec.tcp.options = {0x02, 0x04, 0x05, 0xB4, 0x01};  // MSS + NOP, padded to 8 bytes
    for (std::size_t length : {0u, 1u, 2u, 3u, 1399u, 1400u}) {
        SCOPED_TRACE(length);
        spec.payload.assign(length, 0xFF);  // all-ones words exercise the carry fold
        std::vector<uint8_t> frame = BuildTcpFrame(spec);
        FrameLayout layout;
        ASSERT_EQ(ParseFrame(frame, layout), FrameKind::Tcp);
        EXPECT_EQ(layout.payloadLength, length);
        ASSERT_TRUE(ChecksumsValid(frame, layout));

        TcpHeader tcp = TcpFrame(frame, layout).Tcp();
        tcp.SetSequence(0xFFFFFFF0);
        tcp.SetAcknowledgement(0x0000000F);
        tcp.SetWindow(0);
        UpdateTcpChecksum(frame, layout);
        const uint8_t* header = frame.data() + layout.transportOffset;
        const uint32_t pseudo = 0xC0A8 + 0x010A + 0xC0A8 + 0x0101 + 6 +
                                static_cast<uint32_t>(layout.ipTotalLength - layout.ipHeaderLength);
        EXPECT_EQ(ReferenceChecksum({header, layout.ipTotalLength - layout.ipHeaderLength}, pseudo), 0);
    }
}

TEST(FrameChecksumTest, PayloadLengthComesFromTheIpHeaderNotTheEthernetPadding) {
    TcpFrameSpec spec;  // a bare ACK: 54 bytes, padded to the 60-byte Ethernet minimum on the wire
    std::vector<uint8_t> frame = BuildTcpFrame(spec);
    frame.resize(60, 0);
    FrameLayout layout;
    ASSERT_EQ(ParseFrame(frame, layout), FrameKind::Tcp);
    EXPECT_EQ(layout.payloadLength, 0u);
    EXPECT_TRUE(ChecksumsValid(frame, layout));
}

}  // namespace
}  // namespace bramvell
