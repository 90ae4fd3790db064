#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace bramvell::testing {

using MacAddress = std::array<uint8_t, 6>;

// An IPv4 address in host order from its four dotted parts.
constexpr uint32_t Ipv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return uint32_t{a} << 24 | uint32_t{b} << 16 | uint32_t{c} << 8 | uint32_t{d};
}

std::vector<uint8_t> Bytes(std::string_view text);

struct EthernetFields {
    MacAddress destination{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    MacAddress source{0x02, 0x00, 0x00, 0x00, 0x00, 0x02};
    uint16_t etherType = 0x0800;
};

struct Ipv4Fields {
    uint32_t source = Ipv4Address(192, 168, 1, 10);      // host order
    uint32_t destination = Ipv4Address(192, 168, 1, 1);  // host order
    uint8_t typeOfService = 0;
    uint16_t identification = 0x1234;
    uint16_t fragmentField = 0x4000;  // flags and fragment offset; default: don't fragment
    uint8_t timeToLive = 64;
    std::vector<uint8_t> options;  // padded with zeros to a multiple of 4
};

struct TcpFields {
    uint16_t sourcePort = 49152;
    uint16_t destinationPort = 110;
    uint32_t sequence = 1000;
    uint32_t acknowledgement = 5000;
    uint8_t flags = 0x10;  // ACK
    uint16_t window = 64240;
    uint16_t urgentPointer = 0;
    std::vector<uint8_t> options;  // raw option bytes, padded with zeros (end of list) to a multiple of 4
};

struct UdpFields {
    uint16_t sourcePort = 49152;
    uint16_t destinationPort = 53;
};

// A whole Ethernet + IPv4 + TCP frame with correct IP and TCP checksums, computed here independently of
// the engine's own checksum code.
struct TcpFrameSpec {
    EthernetFields ethernet;
    Ipv4Fields ip;
    TcpFields tcp;
    std::vector<uint8_t> payload;
};
std::vector<uint8_t> BuildTcpFrame(const TcpFrameSpec& spec);

struct UdpFrameSpec {
    EthernetFields ethernet;
    Ipv4Fields ip;
    UdpFields udp;
    std::vector<uint8_t> payload;
};
std::vector<uint8_t> BuildUdpFrame(const UdpFrameSpec& spec);

// An IPv4 frame carrying any protocol number and transport bytes as given (no transport checksum).
std::vector<uint8_t> BuildIpv4Frame(const EthernetFields& ethernet, const Ipv4Fields& ip, uint8_t protocol,
                                    std::span<const uint8_t> transport);

// An Ethernet header followed by the given bytes (ARP, IPv6, anything).
std::vector<uint8_t> BuildEthernetFrame(const EthernetFields& ethernet, std::span<const uint8_t> body);

// The RFC 1071 checksum, straightforward and independent of the engine's.
uint16_t ReferenceChecksum(std::span<const uint8_t> bytes, uint32_t initialSum = 0);

// Offsets into a frame made by the builders above (no IP options unless the caller added some).
inline constexpr std::size_t kIpOffset = 14;
std::size_t TransportOffset(std::span<const uint8_t> frame);

}  // namespace bramvell::testing
