#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace bramvell {

inline constexpr uint16_t kEtherTypeIpv4 = 0x0800;
inline constexpr uint8_t kProtocolTcp = 6;
inline constexpr uint8_t kProtocolUdp = 17;
inline constexpr std::size_t kMinIpHeaderLength = 20;
inline constexpr std::size_t kMinTcpHeaderLength = 20;
inline constexpr std::size_t kUdpHeaderLength = 8;

namespace tcp_flags {
inline constexpr uint8_t kFin = 0x01;
inline constexpr uint8_t kSyn = 0x02;
inline constexpr uint8_t kRst = 0x04;
inline constexpr uint8_t kPsh = 0x08;
inline constexpr uint8_t kAck = 0x10;
}  // namespace tcp_flags

// Big-endian field access. Callers check bounds first (ParseFrame does it for header fields).
inline uint16_t Load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t Load32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
inline void Store16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void Store32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

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

// Typed views over a parsed TCP frame. They assume ParseFrame returned Tcp for the same bytes.
class TcpFrame {
public:
    TcpFrame(std::span<uint8_t> frame, const FrameLayout& layout) : bytes_(frame.data()), layout_(layout) {}

    uint16_t SourcePort() const { return Load16(tcp()); }
    uint16_t DestinationPort() const { return Load16(tcp() + 2); }
    uint32_t Sequence() const { return Load32(tcp() + 4); }
    uint32_t Acknowledgement() const { return Load32(tcp() + 8); }
    uint8_t Flags() const { return tcp()[13]; }
    uint16_t Window() const { return Load16(tcp() + 14); }
    std::span<uint8_t> Payload() const { return {bytes_ + layout_.payloadOffset, layout_.payloadLength}; }
    std::size_t PayloadLength() const { return layout_.payloadLength; }

    void SetSourcePort(uint16_t v) { Store16(tcp(), v); }
    void SetDestinationPort(uint16_t v) { Store16(tcp() + 2, v); }
    void SetSequence(uint32_t v) { Store32(tcp() + 4, v); }
    void SetAcknowledgement(uint32_t v) { Store32(tcp() + 8, v); }
    void SetFlags(uint8_t v) { tcp()[13] = v; }
    void SetWindow(uint16_t v) { Store16(tcp() + 14, v); }

    uint8_t* tcp() const { return bytes_ + layout_.transportOffset; }
    uint8_t* ip() const { return bytes_ + layout_.ipOffset; }
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

}  // namespace bramvell
