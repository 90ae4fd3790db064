#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/PacketBuffer.h"

namespace bramvell {

// The length an IPv4 or IPv6 packet says it has (IPv4 total length, 40 + IPv6 payload length); 0 when
// the bytes are too short to say or neither family.
std::size_t DeclaredIpLength(std::span<const uint8_t> packet);

// Puts an IP packet into the buffer behind a 14-byte Ethernet header (zero addresses, EtherType
// 0x0800 or 0x86DD after the packet's version). False, buffer untouched, when the packet is empty,
// neither IPv4 nor IPv6, or does not fit a frame.
bool WrapIpPacket(std::span<const uint8_t> packet, PacketDirection direction, PacketBuffer& buffer);

// The IP packet a frame carries: the bytes after the Ethernet header, cut to the IPv4 total length
// (or 40 + the IPv6 payload length) when that is shorter (Ethernet padding). Empty when the frame is
// neither family or too short for an IP header; a length that does not fit leaves the bytes as they are.
std::span<const uint8_t> IpPacketOf(std::span<const uint8_t> frame);
inline std::span<const uint8_t> IpPacketOf(const PacketBuffer& buffer) {
    return IpPacketOf(buffer.Bytes());
}

}  // namespace bramvell
