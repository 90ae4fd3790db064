#include "fuzz/support/FrameWriter.h"

#include <algorithm>

#include "engine/Frame.h"
#include "engine/PacketBuffer.h"

namespace bramvell::fuzz {

namespace {

constexpr std::size_t kMaxTcpOptions = 40;
constexpr uint8_t kTcpNop = 1;
constexpr uint8_t kDefaultTtl = 64;

void WriteMac(uint8_t* at, uint8_t last) {
    const uint8_t mac[6] = {0x02, 0x00, 0x00, 0x00, 0x00, last};
    std::copy(mac, mac + 6, at);
}

}  // namespace

IpAddress SegmentAddress(uint32_t address, bool ipv6) {
    if (!ipv6) {
        return IpAddress::FromIpv4(address);
    }
    IpAddress result;
    result.bytes[0] = 0xfd;
    for (int i = 0; i < 4; ++i) {
        result.bytes[static_cast<std::size_t>(12 + i)] = static_cast<uint8_t>(address >> (24 - 8 * i));
    }
    return result;
}

std::size_t WriteTcpFrame(const TcpSegment& segment, std::vector<uint8_t>& out) {
    const std::size_t optionLength = std::min(segment.options.size(), kMaxTcpOptions);
    const std::size_t tcpHeaderLength = kMinTcpHeaderLength + (optionLength + 3) / 4 * 4;
    const std::size_t ipHeaderLength = segment.ipv6 ? Ipv6Header::kLength : kMinIpHeaderLength;
    const std::size_t headers = kEthernetHeaderLength + ipHeaderLength + tcpHeaderLength;
    const std::size_t payloadLength = std::min(segment.payload.size(), kMaxFrameLength - headers);
    out.assign(headers + payloadLength, 0);

    uint8_t* ethernet = out.data();
    WriteMac(ethernet, segment.fromClient ? 2 : 1);  // destination
    WriteMac(ethernet + 6, segment.fromClient ? 1 : 2);
    Store16(ethernet + 12, segment.ipv6 ? kEtherTypeIpv6 : kEtherTypeIpv4);

    uint8_t* ip = ethernet + kEthernetHeaderLength;
    const uint32_t source = segment.fromClient ? segment.clientAddress : segment.serverAddress;
    const uint32_t destination = segment.fromClient ? segment.serverAddress : segment.clientAddress;
    if (segment.ipv6) {
        ip[0] = 0x60;
        Store16(ip + 4, static_cast<uint16_t>(tcpHeaderLength + payloadLength));
        ip[6] = kProtocolTcp;
        ip[7] = kDefaultTtl;
        const IpAddress from = SegmentAddress(source, true);
        const IpAddress to = SegmentAddress(destination, true);
        std::copy(from.bytes.begin(), from.bytes.end(), ip + 8);
        std::copy(to.bytes.begin(), to.bytes.end(), ip + 24);
    } else {
        ip[0] = 0x45;
        Store16(ip + 2, static_cast<uint16_t>(kMinIpHeaderLength + tcpHeaderLength + payloadLength));
        Store16(ip + 6, 0x4000);  // don't fragment
        ip[8] = kDefaultTtl;
        ip[9] = kProtocolTcp;
        Store32(ip + 12, source);
        Store32(ip + 16, destination);
    }

    uint8_t* tcp = ip + ipHeaderLength;
    Store16(tcp, segment.fromClient ? segment.clientPort : segment.serverPort);
    Store16(tcp + 2, segment.fromClient ? segment.serverPort : segment.clientPort);
    Store32(tcp + 4, segment.sequence);
    Store32(tcp + 8, segment.acknowledgement);
    tcp[12] = static_cast<uint8_t>(tcpHeaderLength / 4 << 4);
    tcp[13] = segment.flags;
    Store16(tcp + 14, segment.window);
    std::copy_n(segment.options.begin(), optionLength, tcp + kMinTcpHeaderLength);
    std::fill(tcp + kMinTcpHeaderLength + optionLength, tcp + tcpHeaderLength, kTcpNop);
    std::copy_n(segment.payload.begin(), payloadLength, tcp + tcpHeaderLength);

    FrameLayout layout;
    ParseFrame(out, layout);
    UpdateIpChecksum(out, layout);
    UpdateTcpChecksum(out, layout);
    return payloadLength;
}

bool TcpChecksumValid(std::span<const uint8_t> frame) {
    FrameLayout layout;
    if (ParseFrame(frame, layout) != FrameKind::Tcp) {
        return false;
    }
    const uint8_t* ip = frame.data() + layout.ipOffset;
    // Source and destination: at 12..20 in an IPv4 header, at 8..40 in an IPv6 one.
    const bool ipv6 = layout.ipVersion == Ipv6Header::kVersion;
    uint32_t pseudo = 0;
    for (std::size_t i = ipv6 ? 8 : 12; i < (ipv6 ? 40u : 20u); i += 2) {
        pseudo += Load16(ip + i);
    }
    pseudo += kProtocolTcp;
    pseudo += static_cast<uint32_t>(layout.ipTotalLength - layout.ipHeaderLength);
    return InternetChecksum(
               frame.subspan(layout.transportOffset, layout.ipTotalLength - layout.ipHeaderLength), pseudo) ==
           0;
}

}  // namespace bramvell::fuzz
