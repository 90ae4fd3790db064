#pragma once

#include <cstdint>
#include <span>

#include "engine/PacketBuffer.h"

namespace bramvell {

// Puts an IP packet into the buffer behind a 14-byte Ethernet header (zero addresses, EtherType
// 0x0800). False, buffer untouched, when the packet is empty, not IPv4, or does not fit a frame.
bool WrapIpPacket(std::span<const uint8_t> packet, PacketDirection direction, PacketBuffer& buffer);

// The IPv4 packet a frame carries: the bytes after the Ethernet header, cut to the IP total length
// when that is shorter (Ethernet padding). Empty when the frame is not IPv4 or too short for an IP
// header; a total length that does not fit leaves the bytes as they are.
std::span<const uint8_t> IpPacketOf(std::span<const uint8_t> frame);
inline std::span<const uint8_t> IpPacketOf(const PacketBuffer& buffer) {
    return IpPacketOf(buffer.Bytes());
}

}  // namespace bramvell
