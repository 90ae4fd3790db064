#include "platform/linux/EthernetFraming.h"

#include <cstring>

#include "engine/Frame.h"

namespace bramvell {
namespace {

constexpr std::size_t kEtherTypeOffset = 12;
constexpr uint8_t kIpVersion4 = 4;

}  // namespace

bool WrapIpPacket(std::span<const uint8_t> packet, PacketDirection direction, PacketBuffer& buffer) {
    if (packet.empty() || packet[0] >> 4 != kIpVersion4 ||
        packet.size() > kMaxFrameLength - kEthernetHeaderLength) {
        return false;
    }
    std::memset(buffer.frame.data(), 0, kEtherTypeOffset);
    Store16(buffer.frame.data() + kEtherTypeOffset, kEtherTypeIpv4);
    std::memcpy(buffer.frame.data() + kEthernetHeaderLength, packet.data(), packet.size());
    buffer.length = static_cast<uint32_t>(kEthernetHeaderLength + packet.size());
    buffer.deviceFlags = direction;
    buffer.flags = 0;
    return true;
}

std::span<const uint8_t> IpPacketOf(std::span<const uint8_t> frame) {
    if (frame.size() < kEthernetHeaderLength + kMinIpHeaderLength ||
        Load16(frame.data() + kEtherTypeOffset) != kEtherTypeIpv4) {
        return {};
    }
    std::span<const uint8_t> packet = frame.subspan(kEthernetHeaderLength);
    if (packet[0] >> 4 != kIpVersion4) {
        return {};
    }
    const std::size_t totalLength = Load16(packet.data() + 2);
    if (totalLength >= kMinIpHeaderLength && totalLength < packet.size()) {
        packet = packet.first(totalLength);
    }
    return packet;
}

}  // namespace bramvell
