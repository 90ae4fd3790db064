#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace bramvell {

enum class PacketDirection : uint32_t {
    Outbound = 1,  // sent by the host's stack toward the network
    Inbound = 2,   // received from the network for the host
};

inline constexpr std::size_t kMaxFrameLength = 1514;
inline constexpr std::size_t kEthernetHeaderLength = 14;

// The filter thread's one frame buffer: an Ethernet frame and its direction.
struct PacketBuffer {
    PacketDirection deviceFlags = PacketDirection::Outbound;
    uint32_t length = 0;  // valid bytes in frame, Ethernet header included
    uint32_t flags = 0;   // reserved for the packet source
    std::array<uint8_t, kMaxFrameLength> frame{};

    std::span<uint8_t> Bytes() { return {frame.data(), length <= frame.size() ? length : frame.size()}; }
    std::span<const uint8_t> Bytes() const {
        return {frame.data(), length <= frame.size() ? length : frame.size()};
    }
};

}  // namespace bramvell
