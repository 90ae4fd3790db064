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

// IPv6: addresses as 16 bytes, and extension headers between the fixed header and the upper layer.
using Ipv6AddressBytes = std::array<uint8_t, 16>;
inline constexpr Ipv6AddressBytes kIpv6Client{0xfd, 0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};
inline constexpr Ipv6AddressBytes kIpv6Server{0xfd, 0x42, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x10};

// One extension header: its type, and its bytes as they stand in the datagram (the builder fills in
// the first byte, the next header; the length byte is the caller's, so that broken chains can be made).
struct Ipv6Extension {
    uint8_t type = 0;
    std::vector<uint8_t> bytes;
};
// A hop-by-hop (0) or destination-options (60) header of `length` bytes (a multiple of 8), padded.
Ipv6Extension Ipv6OptionsHeader(uint8_t type, std::size_t length);

struct Ipv6Fields {
    Ipv6AddressBytes source = kIpv6Client;
    Ipv6AddressBytes destination = kIpv6Server;
    uint8_t hopLimit = 64;
    std::vector<Ipv6Extension> extensions;
};

struct Tcp6FrameSpec {
    EthernetFields ethernet;
    Ipv6Fields ip;
    TcpFields tcp;
    std::vector<uint8_t> payload;
};
// A whole Ethernet + IPv6 (+ extension headers) + TCP frame, its checksum from ReferenceIpv6Checksum.
std::vector<uint8_t> BuildTcp6Frame(const Tcp6FrameSpec& spec);
// An IPv6 frame (EtherType 0x86DD) carrying the upper-layer bytes behind the extension headers.
std::vector<uint8_t> BuildIpv6Frame(const EthernetFields& ethernet, const Ipv6Fields& ip, uint8_t protocol,
                                    std::span<const uint8_t> upper);
// The RFC 8200 pseudo-header (source, destination, 32-bit upper-layer length, three zeros, protocol)
// laid out as bytes, and the checksum over it and the upper layer, both without the engine's code.
std::vector<uint8_t> Ipv6PseudoHeader(const Ipv6Fields& ip, uint8_t protocol, std::size_t upperLength);
uint16_t ReferenceIpv6Checksum(const Ipv6Fields& ip, uint8_t protocol, std::span<const uint8_t> upper);

// The RFC 1071 checksum, straightforward and independent of the engine's.
uint16_t ReferenceChecksum(std::span<const uint8_t> bytes, uint32_t initialSum = 0);

// Offsets into a frame made by the builders above (no IP options unless the caller added some).
inline constexpr std::size_t kIpOffset = 14;
std::size_t TransportOffset(std::span<const uint8_t> frame);

}  // namespace bramvell::testing
