#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

namespace bramvell {

// An address of either family, as the connection key compares it: 128 bits, an IPv4 address held in
// its IPv4-mapped IPv6 form (::ffff:a.b.c.d), so that the two families never compare equal by accident.
struct IpAddress {
    static constexpr std::size_t kLength = 16;
    std::array<uint8_t, kLength> bytes{};

    static IpAddress FromIpv4(uint32_t address) {
        IpAddress result;
        result.bytes[10] = 0xFF;
        result.bytes[11] = 0xFF;
        for (int i = 0; i < 4; ++i) {
            result.bytes[static_cast<std::size_t>(12 + i)] = static_cast<uint8_t>(address >> (24 - 8 * i));
        }
        return result;
    }
    // From the 16 bytes of an IPv6 header's address field, in network order.
    static IpAddress FromIpv6(std::span<const uint8_t, kLength> field) {
        IpAddress result;
        std::copy(field.begin(), field.end(), result.bytes.begin());
        return result;
    }
    bool IsIpv4Mapped() const {
        return std::all_of(bytes.begin(), bytes.begin() + 10, [](uint8_t b) { return b == 0; }) &&
               bytes[10] == 0xFF && bytes[11] == 0xFF;
    }

    friend bool operator==(const IpAddress&, const IpAddress&) = default;
};

}  // namespace bramvell
