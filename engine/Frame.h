#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/ByteOrder.h"
#include "engine/EthernetHeader.h"
#include "engine/Ipv4Header.h"
#include "engine/TcpHeader.h"

namespace bramvell {

inline constexpr std::size_t kMinIpHeaderLength = Ipv4Header::kMinLength;
inline constexpr std::size_t kMinTcpHeaderLength = TcpHeader::kMinLength;
inline constexpr std::size_t kUdpHeaderLength = ConstUdpHeader::kLength;

// Offsets of an Ethernet + IPv4 frame whose headers all fit inside the frame. A frame that does not
// parse is left alone by every handler.
struct FrameLayout {
    std::size_t ipOffset = 14;
    std::size_t ipHeaderLength = 0;
    std::size_t ipTotalLength = 0;  // as carried in the header, checked against the frame
    uint8_t protocol = 0;
    std::size_t transportOffset = 0;
    std::size_t transportHeaderLength = 0;  // TCP data offset * 4, or 8 for UDP
    std::size_t payloadOffset = 0;
    std::size_t payloadLength = 0;
};

enum class FrameKind {
    NotIpv4,    // other EtherType, or too short for an Ethernet header
    Malformed,  // IPv4 whose headers or lengths do not fit the frame
    Tcp,
    Udp,
    OtherIp,  // well-formed IPv4 header carrying another protocol
};

// Reads and checks the headers: IHL >= 5, TCP data offset >= 5, total length within the frame and
// covering the headers. Fragments after the first carry no transport header and parse as OtherIp.
FrameKind ParseFrame(std::span<const uint8_t> frame, FrameLayout& layout);

// A parsed TCP frame: its header views and payload. Assumes ParseFrame returned Tcp for the same bytes.
class TcpFrame {
  public:
    TcpFrame(std::span<uint8_t> frame, const FrameLayout& layout) : bytes_(frame.data()), layout_(layout) {}

    Ipv4Header Ip() const { return Ipv4Header(bytes_ + layout_.ipOffset); }
    TcpHeader Tcp() const { return TcpHeader(bytes_ + layout_.transportOffset); }

    uint16_t SourcePort() const { return Tcp().SourcePort(); }
    uint16_t DestinationPort() const { return Tcp().DestinationPort(); }
    uint32_t Sequence() const { return Tcp().Sequence(); }
    uint32_t Acknowledgement() const { return Tcp().Acknowledgement(); }
    uint8_t Flags() const { return Tcp().Flags(); }
    uint16_t Window() const { return Tcp().Window(); }
    uint32_t SourceAddress() const { return Ip().Source(); }
    uint32_t DestinationAddress() const { return Ip().Destination(); }
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

// One's-complement checksums (RFC 791 / RFC 793).
uint16_t InternetChecksum(std::span<const uint8_t> bytes, uint32_t initialSum = 0);
// Recomputes the IP header checksum in place.
void UpdateIpChecksum(std::span<uint8_t> frame, const FrameLayout& layout);
// Recomputes the TCP checksum in place over pseudo-header, TCP header and payload
// (TCP length = IP total length - IP header length).
void UpdateTcpChecksum(std::span<uint8_t> frame, const FrameLayout& layout);
// True when both the IP and the TCP checksum of a parsed TCP frame verify.
bool ChecksumsValid(std::span<const uint8_t> frame, const FrameLayout& layout);
// The one's-complement sum of a TCP frame's pseudo-header (addresses, protocol, TCP length), unfolded.
uint32_t TcpPseudoHeaderSum(std::span<const uint8_t> frame, const FrameLayout& layout);

}  // namespace bramvell
