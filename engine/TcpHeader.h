#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "engine/ByteOrder.h"

namespace bramvell {

namespace tcp_flags {
inline constexpr uint8_t kFin = 0x01;
inline constexpr uint8_t kSyn = 0x02;
inline constexpr uint8_t kRst = 0x04;
inline constexpr uint8_t kPsh = 0x08;
inline constexpr uint8_t kAck = 0x10;
}  // namespace tcp_flags

// A TCP header, options included. Byte is uint8_t for a view that edits, const uint8_t for one that only
// reads; callers check that kMinLength bytes, and then HeaderLength() bytes, are there. Setters write
// the field alone: FrameEditor is what keeps the checksum right.
template <typename Byte>
class BasicTcpHeader {
  public:
    static constexpr std::size_t kMinLength = 20;

    explicit BasicTcpHeader(Byte* start) : start_(start) {}

    uint16_t SourcePort() const { return Load16(start_ + kSourcePort); }
    uint16_t DestinationPort() const { return Load16(start_ + kDestinationPort); }
    uint32_t Sequence() const { return Load32(start_ + kSequence); }
    uint32_t Acknowledgement() const { return Load32(start_ + kAcknowledgement); }
    std::size_t HeaderLength() const { return static_cast<std::size_t>(start_[kDataOffset] >> 4) * 4; }
    uint8_t Flags() const { return start_[kFlags]; }
    // Data offset and flags, the 16-bit word the checksum sees.
    uint16_t OffsetAndFlags() const { return Load16(start_ + kDataOffset); }
    uint16_t Window() const { return Load16(start_ + kWindow); }
    uint16_t Checksum() const { return Load16(start_ + kChecksum); }
    // The whole header, options included (HeaderLength() bytes).
    std::span<Byte> Bytes() const { return {start_, HeaderLength()}; }
    Byte* data() const { return start_; }

    void SetSourcePort(uint16_t value) requires(!std::is_const_v<Byte>) {
        Store16(start_ + kSourcePort, value);
    }
    void SetDestinationPort(uint16_t value) requires(!std::is_const_v<Byte>) {
        Store16(start_ + kDestinationPort, value);
    }
    void SetSequence(uint32_t value) requires(!std::is_const_v<Byte>) { Store32(start_ + kSequence, value); }
    void SetAcknowledgement(uint32_t value) requires(!std::is_const_v<Byte>) {
        Store32(start_ + kAcknowledgement, value);
    }
    void SetFlags(uint8_t value) requires(!std::is_const_v<Byte>) { start_[kFlags] = value; }
    // A multiple of 4 from 20 to 60; the reserved bits keep their value.
    void SetHeaderLength(std::size_t length) requires(!std::is_const_v<Byte>) {
        start_[kDataOffset] = static_cast<uint8_t>((length / 4) << 4 | (start_[kDataOffset] & 0x0F));
    }
    void SetWindow(uint16_t value) requires(!std::is_const_v<Byte>) { Store16(start_ + kWindow, value); }
    void SetChecksum(uint16_t value) requires(!std::is_const_v<Byte>) { Store16(start_ + kChecksum, value); }
    void SwapPorts() requires(!std::is_const_v<Byte>) {
        const uint16_t source = SourcePort();
        SetSourcePort(DestinationPort());
        SetDestinationPort(source);
    }

  private:
    static constexpr std::size_t kSourcePort = 0;
    static constexpr std::size_t kDestinationPort = 2;
    static constexpr std::size_t kSequence = 4;
    static constexpr std::size_t kAcknowledgement = 8;
    static constexpr std::size_t kDataOffset = 12;
    static constexpr std::size_t kFlags = 13;
    static constexpr std::size_t kWindow = 14;
    static constexpr std::size_t kChecksum = 16;

    Byte* start_;
};

using TcpHeader = BasicTcpHeader<uint8_t>;
using ConstTcpHeader = BasicTcpHeader<const uint8_t>;

// The UDP header: ports are all the engine reads of it.
class ConstUdpHeader {
  public:
    static constexpr std::size_t kLength = 8;

    explicit ConstUdpHeader(const uint8_t* start) : start_(start) {}
    uint16_t SourcePort() const { return Load16(start_); }
    uint16_t DestinationPort() const { return Load16(start_ + 2); }

  private:
    const uint8_t* start_;
};

}  // namespace bramvell
