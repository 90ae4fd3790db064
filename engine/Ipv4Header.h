#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "engine/ByteOrder.h"

namespace bramvell {

inline constexpr uint8_t kProtocolTcp = 6;
inline constexpr uint8_t kProtocolUdp = 17;

// An IPv4 header. What the transport layers need from it (addresses for the connection key, the
// pseudo-header's address bytes, the total length) has the shape an IPv6 view can offer as well.
// Byte is uint8_t for a view that edits, const uint8_t for one that only reads; callers check that
// kMinLength bytes, and then HeaderLength() bytes, are there.
template <typename Byte>
class BasicIpv4Header {
  public:
    static constexpr std::size_t kMinLength = 20;
    static constexpr uint8_t kVersion = 4;

    explicit BasicIpv4Header(Byte* start) : start_(start) {}

    uint8_t Version() const { return start_[kVersionAndLength] >> 4; }
    std::size_t HeaderLength() const { return std::size_t{start_[kVersionAndLength] & 0x0Fu} * 4; }
    std::size_t TotalLength() const { return Load16(start_ + kTotalLength); }
    // A fragment after the first carries no transport header.
    bool IsLaterFragment() const { return (Load16(start_ + kFlagsAndFragment) & kFragmentOffsetMask) != 0; }
    uint8_t Protocol() const { return start_[kProtocol]; }
    uint32_t Source() const { return Load32(start_ + kSource); }
    uint32_t Destination() const { return Load32(start_ + kDestination); }
    // Source and destination as they enter the transport checksum's pseudo-header.
    std::span<Byte> AddressBytes() const { return {start_ + kSource, 2 * kAddressLength}; }
    uint16_t Checksum() const { return Load16(start_ + kChecksum); }
    std::span<Byte> Bytes() const { return {start_, HeaderLength()}; }

    void SetTotalLength(std::size_t value) requires(!std::is_const_v<Byte>) {
        Store16(start_ + kTotalLength, static_cast<uint16_t>(value));
    }
    void SetChecksum(uint16_t value) requires(!std::is_const_v<Byte>) { Store16(start_ + kChecksum, value); }
    void SetAddresses(uint32_t source, uint32_t destination) requires(!std::is_const_v<Byte>) {
        Store32(start_ + kSource, source);
        Store32(start_ + kDestination, destination);
    }
    void SwapAddresses() requires(!std::is_const_v<Byte>) {
        std::swap_ranges(start_ + kSource, start_ + kSource + kAddressLength, start_ + kDestination);
    }

  private:
    static constexpr std::size_t kVersionAndLength = 0;
    static constexpr std::size_t kTotalLength = 2;
    static constexpr std::size_t kFlagsAndFragment = 6;
    static constexpr uint16_t kFragmentOffsetMask = 0x1FFF;
    static constexpr std::size_t kProtocol = 9;
    static constexpr std::size_t kChecksum = 10;
    static constexpr std::size_t kSource = 12;
    static constexpr std::size_t kDestination = 16;
    static constexpr std::size_t kAddressLength = 4;

    Byte* start_;
};

using Ipv4Header = BasicIpv4Header<uint8_t>;
using ConstIpv4Header = BasicIpv4Header<const uint8_t>;

}  // namespace bramvell
