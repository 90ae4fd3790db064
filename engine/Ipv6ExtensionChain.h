#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace bramvell {

// Where the walk over an IPv6 datagram's extension headers ended.
enum class Ipv6ChainEnd {
    Upper,        // at an upper-layer header (TCP, UDP or any other protocol number)
    Untouchable,  // at a header behind which the engine must change nothing: a fragment (its transport
                  // header is in pieces or absent), or a routing header with addresses still to visit
                  // (the transport checksum then covers another destination than the header's)
    OutOfBounds,  // a header runs past the datagram, or the chain is longer than the walk allows
};

struct Ipv6Chain {
    Ipv6ChainEnd end = Ipv6ChainEnd::OutOfBounds;
    uint8_t protocol = 0;          // the upper-layer protocol (Upper only)
    std::size_t headerLength = 0;  // fixed header and extension headers, up to the upper layer
};

// At most this many extension headers are walked; RFC 8200 allows each kind once (destination options
// twice), so a longer chain is crafted and is left alone.
inline constexpr int kMaxIpv6ExtensionHeaders = 8;

// Walks the hop-by-hop, routing and destination-options headers of an IPv6 datagram (its fixed header
// and the bytes its payload length covers, no more) up to the upper-layer header.
Ipv6Chain WalkIpv6Chain(std::span<const uint8_t> datagram);

}  // namespace bramvell
