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

std::size_t WriteTcpFrame(const TcpSegment& segment, std::vector<uint8_t>& out) {
    const std::size_t optionLength = std::min(segment.options.size(), kMaxTcpOptions);
    const std::size_t tcpHeaderLength = kMinTcpHeaderLength + (optionLength + 3) / 4 * 4;
    const std::size_t headers = kEthernetHeaderLength + kMinIpHeaderLength + tcpHeaderLength;
    const std::size_t payloadLength = std::min(segment.payload.size(), kMaxFrameLength - headers);
    out.assign(headers + payloadLength, 0);

    uint8_t* ethernet = out.data();
    WriteMac(ethernet, segment.fromClient ? 2 : 1);  // destination
    WriteMac(ethernet + 6, segment.fromClient ? 1 : 2);
    Store16(ethernet + 12, kEtherTypeIpv4);

    uint8_t* ip = ethernet + kEthernetHeaderLength;
    ip[0] = 0x45;
    Store16(ip + 2, static_cast<uint16_t>(kMinIpHeaderLength + tcpHeaderLength + payloadLength));
    Store16(ip + 6, 0x4000);  // don't fragment
    ip[8] = kDefaultTtl;
    ip[9] = kProtocolTcp;
    Store32(ip + 12, segment.fromClient ? segment.clientAddress : segment.serverAddress);
    Store32(ip + 16, segment.fromClient ? segment.serverAddress : segment.clientAddress);

    uint8_t* tcp = ip + kMinIpHeaderLength;
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
    uint32_t pseudo = 0;
    for (std::size_t i = 12; i < 20; i += 2) {
        pseudo += Load16(ip + i);
    }
    pseudo += kProtocolTcp;
    pseudo += static_cast<uint32_t>(layout.ipTotalLength - layout.ipHeaderLength);
    return InternetChecksum(
               frame.subspan(layout.transportOffset, layout.ipTotalLength - layout.ipHeaderLength), pseudo) ==
           0;
}

}  // namespace bramvell::fuzz
