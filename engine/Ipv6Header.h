#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "engine/ByteOrder.h"
#include "engine/IpAddress.h"

namespace bramvell {

// Next-header values of the extension headers that the frame parser walks over, and of those that end
// its walk without a transport header it may touch.
namespace ipv6_next {
inline constexpr uint8_t kHopByHop = 0;
inline constexpr uint8_t kRouting = 43;
inline constexpr uint8_t kFragment = 44;
inline constexpr uint8_t kDestinationOptions = 60;
}  // namespace ipv6_next

// The fixed 40-byte IPv6 header. It has no checksum; the payload length counts everything after it
// (extension headers and transport). Byte is uint8_t for a view that edits, const uint8_t for one that
// only reads; callers check that kLength bytes are there.
template <typename Byte>
class BasicIpv6Header {
  public:
    static constexpr std::size_t kLength = 40;
    static constexpr uint8_t kVersion = 6;

    explicit BasicIpv6Header(Byte* start) : start_(start) {}

    uint8_t Version() const { return start_[kVersionAndClass] >> 4; }
    std::size_t PayloadLength() const { return Load16(start_ + kPayloadLength); }
    uint8_t NextHeader() const { return start_[kNextHeader]; }
    IpAddress Source() const {
        return IpAddress::FromIpv6(std::span<const uint8_t, 16>(start_ + kSource, 16));
    }
    IpAddress Destination() const {
        return IpAddress::FromIpv6(std::span<const uint8_t, 16>(start_ + kDestination, 16));
    }
    // Source and destination as they enter the transport checksum's pseudo-header (RFC 8200, 8.1).
    std::span<Byte> AddressBytes() const { return {start_ + kSource, 2 * kAddressLength}; }

    void SetPayloadLength(std::size_t value) requires(!std::is_const_v<Byte>) {
        Store16(start_ + kPayloadLength, static_cast<uint16_t>(value));
    }
    void SetNextHeader(uint8_t value) requires(!std::is_const_v<Byte>) { start_[kNextHeader] = value; }
    void SwapAddresses() requires(!std::is_const_v<Byte>) {
        std::swap_ranges(start_ + kSource, start_ + kSource + kAddressLength, start_ + kDestination);
    }

  private:
    static constexpr std::size_t kVersionAndClass = 0;
    static constexpr std::size_t kPayloadLength = 4;
    static constexpr std::size_t kNextHeader = 6;
    static constexpr std::size_t kSource = 8;
    static constexpr std::size_t kDestination = 24;
    static constexpr std::size_t kAddressLength = 16;

    Byte* start_;
};

using Ipv6Header = BasicIpv6Header<uint8_t>;
using ConstIpv6Header = BasicIpv6Header<const uint8_t>;

// An extension header of the hop-by-hop, routing or destination-options kind: next header, then its
// length in 8-byte units not counting the first 8. Callers check that kMinLength bytes are there.
class ConstIpv6ExtensionHeader {
  public:
    static constexpr std::size_t kMinLength = 8;

    explicit ConstIpv6ExtensionHeader(const uint8_t* start) : start_(start) {}
    uint8_t NextHeader() const { return start_[0]; }
    std::size_t Length() const { return (std::size_t{start_[1]} + 1) * 8; }
    // Routing headers only: addresses still to visit. Non-zero means the final destination (which the
    // transport checksum covers) is not the header's destination address.
    uint8_t SegmentsLeft() const { return start_[3]; }

  private:
    const uint8_t* start_;
};

}  // namespace bramvell
