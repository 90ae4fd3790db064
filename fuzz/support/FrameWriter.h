#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "engine/IpAddress.h"

namespace bramvell::fuzz {

// One TCP segment between a client and a server, as a fuzz harness wants to inject it.
struct TcpSegment {
    bool fromClient = true;
    bool ipv6 = false;  // IPv6 addresses fd00::<address>, else IPv4 ones
    uint32_t clientAddress = 0;
    uint32_t serverAddress = 0;
    uint16_t clientPort = 0;
    uint16_t serverPort = 110;
    uint32_t sequence = 0;
    uint32_t acknowledgement = 0;
    uint8_t flags = 0;
    uint16_t window = 65535;
    std::span<const uint8_t> options;  // padded with NOPs to a multiple of 4, at most 40 bytes
    std::string_view payload;          // cut so that the frame fits the packet buffer
};

// The 128-bit form of a segment's 32-bit address: IPv4-mapped, or fd00::<address> for IPv6.
IpAddress SegmentAddress(uint32_t address, bool ipv6);

// Writes an Ethernet + IPv4 (or IPv6) + TCP frame with correct checksums over `out`. Returns the
// payload bytes that fitted.
std::size_t WriteTcpFrame(const TcpSegment& segment, std::vector<uint8_t>& out);

// True when the TCP checksum of a frame that parses as TCP verifies, its pseudo-header summed here for
// either family (the IPv4 header checksum is not looked at: an engine that only swaps addresses leaves
// it as it came).
bool TcpChecksumValid(std::span<const uint8_t> frame);

}  // namespace bramvell::fuzz
