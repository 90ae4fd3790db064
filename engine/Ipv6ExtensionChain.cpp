#include "engine/Ipv6ExtensionChain.h"

#include "engine/Ipv6Header.h"

namespace bramvell {

Ipv6Chain WalkIpv6Chain(std::span<const uint8_t> datagram) {
    Ipv6Chain chain;
    if (datagram.size() < ConstIpv6Header::kLength) {
        return chain;
    }
    uint8_t next = ConstIpv6Header(datagram.data()).NextHeader();
    std::size_t at = ConstIpv6Header::kLength;
    for (int walked = 0; walked <= kMaxIpv6ExtensionHeaders; ++walked) {
        if (next == ipv6_next::kFragment) {
            chain.end = Ipv6ChainEnd::Untouchable;
            return chain;
        }
        if (next != ipv6_next::kHopByHop && next != ipv6_next::kRouting &&
            next != ipv6_next::kDestinationOptions) {
            chain.end = Ipv6ChainEnd::Upper;
            chain.protocol = next;
            chain.headerLength = at;
            return chain;
        }
        if (walked == kMaxIpv6ExtensionHeaders ||
            datagram.size() - at < ConstIpv6ExtensionHeader::kMinLength) {
            return chain;
        }
        const ConstIpv6ExtensionHeader header(datagram.data() + at);
        if (header.Length() > datagram.size() - at) {
            return chain;
        }
        if (next == ipv6_next::kRouting && header.SegmentsLeft() != 0) {
            chain.end = Ipv6ChainEnd::Untouchable;
            return chain;
        }
        next = header.NextHeader();
        at += header.Length();
    }
    return chain;
}

}  // namespace bramvell
