#include "platform/linux/EthernetFraming.h"

#include <cstring>

#include "engine/Frame.h"

namespace bramvell {
namespace {

constexpr std::size_t kEtherTypeOffset = 12;

uint8_t VersionOf(std::span<const uint8_t> packet) {
    return packet.empty() ? 0 : static_cast<uint8_t>(packet[0] >> 4);
}

}  // namespace

std::size_t DeclaredIpLength(std::span<const uint8_t> packet) {
    const uint8_t version = VersionOf(packet);
    if (version == Ipv4Header::kVersion && packet.size() >= kMinIpHeaderLength) {
        return ConstIpv4Header(packet.data()).TotalLength();
    }
    if (version == Ipv6Header::kVersion && packet.size() >= Ipv6Header::kLength) {
        return Ipv6Header::kLength + ConstIpv6Header(packet.data()).PayloadLength();
    }
    return 0;
}

bool WrapIpPacket(std::span<const uint8_t> packet, PacketDirection direction, PacketBuffer& buffer) {
    const uint8_t version = VersionOf(packet);
    if ((version != Ipv4Header::kVersion && version != Ipv6Header::kVersion) ||
        packet.size() > kMaxFrameLength - kEthernetHeaderLength) {
        return false;
    }
    std::memset(buffer.frame.data(), 0, kEtherTypeOffset);
    Store16(buffer.frame.data() + kEtherTypeOffset,
            version == Ipv6Header::kVersion ? kEtherTypeIpv6 : kEtherTypeIpv4);
    std::memcpy(buffer.frame.data() + kEthernetHeaderLength, packet.data(), packet.size());
    buffer.length = static_cast<uint32_t>(kEthernetHeaderLength + packet.size());
    buffer.deviceFlags = direction;
    buffer.flags = 0;
    return true;
}

std::span<const uint8_t> IpPacketOf(std::span<const uint8_t> frame) {
    if (frame.size() < kEthernetHeaderLength + kMinIpHeaderLength) {
        return {};
    }
    const uint16_t etherType = Load16(frame.data() + kEtherTypeOffset);
    std::span<const uint8_t> packet = frame.subspan(kEthernetHeaderLength);
    const uint8_t version = VersionOf(packet);
    if (!(etherType == kEtherTypeIpv4 && version == Ipv4Header::kVersion) &&
        !(etherType == kEtherTypeIpv6 && version == Ipv6Header::kVersion &&
          packet.size() >= Ipv6Header::kLength)) {
        return {};
    }
    const std::size_t length = DeclaredIpLength(packet);
    if (length >= kMinIpHeaderLength && length < packet.size()) {
        packet = packet.first(length);
    }
    return packet;
}

}  // namespace bramvell
