#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "engine/ByteOrder.h"

namespace bramvell {

inline constexpr uint16_t kEtherTypeIpv4 = 0x0800;
inline constexpr uint16_t kEtherTypeIpv6 = 0x86DD;

// The Ethernet header at the start of a frame. Byte is uint8_t for a view that edits, const uint8_t for
// one that only reads; callers check the length first.
template <typename Byte>
class BasicEthernetHeader {
  public:
    static constexpr std::size_t kLength = 14;

    explicit BasicEthernetHeader(Byte* start) : start_(start) {}

    uint16_t EtherType() const { return Load16(start_ + kEtherType); }
    void SetEtherType(uint16_t value) requires(!std::is_const_v<Byte>) {
        Store16(start_ + kEtherType, value);
    }
    void SwapAddresses() requires(!std::is_const_v<Byte>) {
        std::swap_ranges(start_ + kDestination, start_ + kDestination + kAddressLength, start_ + kSource);
    }

  private:
    static constexpr std::size_t kDestination = 0;
    static constexpr std::size_t kSource = 6;
    static constexpr std::size_t kAddressLength = 6;
    static constexpr std::size_t kEtherType = 12;

    Byte* start_;
};

using EthernetHeader = BasicEthernetHeader<uint8_t>;
using ConstEthernetHeader = BasicEthernetHeader<const uint8_t>;

}  // namespace bramvell
