#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace bramvell::fuzz {

// One TCP segment between a client and a server, as a fuzz harness wants to inject it.
struct TcpSegment {
    bool fromClient = true;
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

// Writes an Ethernet + IPv4 + TCP frame with correct checksums over `out`. Returns the payload bytes
// that fitted.
std::size_t WriteTcpFrame(const TcpSegment& segment, std::vector<uint8_t>& out);

// True when the TCP checksum of a frame that parses as TCP verifies (the IP header checksum is not
// looked at: an engine that only swaps addresses leaves it as it came).
bool TcpChecksumValid(std::span<const uint8_t> frame);

}  // namespace bramvell::fuzz
