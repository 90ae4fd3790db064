#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/ByteOrder.h"
#include "engine/EthernetHeader.h"
#include "engine/IpAddress.h"
#include "engine/Ipv4Header.h"
#include "engine/Ipv6Header.h"
#include "engine/TcpHeader.h"

namespace bramvell {

inline constexpr std::size_t kMinIpHeaderLength = Ipv4Header::kMinLength;
inline constexpr std::size_t kMinTcpHeaderLength = TcpHeader::kMinLength;
inline constexpr std::size_t kUdpHeaderLength = ConstUdpHeader::kLength;

// Offsets of an Ethernet + IPv4 or IPv6 frame whose headers all fit inside the frame. A frame that does
// not parse is left alone by every handler. For IPv6 the "IP header" is the fixed header with the
// extension headers before the transport, and the total length is 40 + the payload length, so that
// total length - header length is the transport's length for either family.
struct FrameLayout {
    std::size_t ipOffset = 14;
    uint8_t ipVersion = 4;  // or 6
    std::size_t ipHeaderLength = 0;
    std::size_t ipTotalLength = 0;  // as carried in the header, checked against the frame
    uint8_t protocol = 0;
    std::size_t transportOffset = 0;
    std::size_t transportHeaderLength = 0;  // TCP data offset * 4, or 8 for UDP
    std::size_t payloadOffset = 0;
    std::size_t payloadLength = 0;
};

enum class FrameKind {
    NotIp,      // other EtherType, or too short for an Ethernet header
    Malformed,  // IP whose headers or lengths do not fit the frame (an IPv6 chain that cannot be walked)
    Tcp,
    Udp,
    OtherIp,  // well-formed IP carrying another protocol, or a part the engine must not touch
};

// Reads and checks the headers: IHL >= 5, TCP data offset >= 5, total length within the frame and
// covering the headers. IPv4 fragments after the first carry no transport header and parse as OtherIp.
// IPv6 (EtherType 0x86DD): the extension-header chain is walked within the payload length (see
// WalkIpv6Chain); a fragment, or a routing header with addresses left, parses as OtherIp.
FrameKind ParseFrame(std::span<const uint8_t> frame, FrameLayout& layout);

// A parsed TCP frame: its header views and payload. Assumes ParseFrame returned Tcp for the same bytes.
class TcpFrame {
  public:
    TcpFrame(std::span<uint8_t> frame, const FrameLayout& layout) : bytes_(frame.data()), layout_(layout) {}

    TcpHeader Tcp() const { return TcpHeader(bytes_ + layout_.transportOffset); }

    uint16_t SourcePort() const { return Tcp().SourcePort(); }
    uint16_t DestinationPort() const { return Tcp().DestinationPort(); }
    uint32_t Sequence() const { return Tcp().Sequence(); }
    uint32_t Acknowledgement() const { return Tcp().Acknowledgement(); }
    uint8_t Flags() const { return Tcp().Flags(); }
    uint16_t Window() const { return Tcp().Window(); }
    IpAddress SourceAddress() const;
    IpAddress DestinationAddress() const;
    std::span<uint8_t> Payload() const { return {bytes_ + layout_.payloadOffset, layout_.payloadLength}; }
    std::size_t PayloadLength() const { return layout_.payloadLength; }
    // The TCP header with its options.
    std::span<uint8_t> TcpHeaderBytes() const {
        return {bytes_ + layout_.transportOffset, layout_.transportHeaderLength};
    }
    const FrameLayout& layout() const { return layout_; }

  private:
    uint8_t* bytes_;
    FrameLayout layout_;
};

// The IP header's source and destination, whichever the family (IPv4 as IPv4-mapped).
IpAddress SourceAddressOf(std::span<const uint8_t> frame, const FrameLayout& layout);
IpAddress DestinationAddressOf(std::span<const uint8_t> frame, const FrameLayout& layout);
// Swaps the IP header's source and destination.
void SwapIpAddresses(std::span<uint8_t> frame, const FrameLayout& layout);
// Writes layout.ipTotalLength into the header: IPv4 total length, or IPv6 payload length (total - 40).
void StoreIpLength(std::span<uint8_t> frame, const FrameLayout& layout);

// One's-complement checksums (RFC 791 / RFC 793; for IPv6 the pseudo-header of RFC 8200).
uint16_t InternetChecksum(std::span<const uint8_t> bytes, uint32_t initialSum = 0);
// Recomputes the IPv4 header checksum in place (IPv6 has none: nothing to do).
void UpdateIpChecksum(std::span<uint8_t> frame, const FrameLayout& layout);
// Recomputes the TCP checksum in place over pseudo-header, TCP header and payload
// (TCP length = IP total length - IP header length).
void UpdateTcpChecksum(std::span<uint8_t> frame, const FrameLayout& layout);
// True when the IP checksum (IPv4) and the TCP checksum of a parsed TCP frame verify.
bool ChecksumsValid(std::span<const uint8_t> frame, const FrameLayout& layout);
// True when the IPv4 header checksum verifies; always true for IPv6.
bool IpChecksumValid(std::span<const uint8_t> frame, const FrameLayout& layout);
// The one's-complement sum of a TCP frame's pseudo-header (addresses, protocol, TCP length), unfolded.
uint32_t TcpPseudoHeaderSum(std::span<const uint8_t> frame, const FrameLayout& layout);

}  // namespace bramvell
