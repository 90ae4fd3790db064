#include "engine/Frame.h"

#include <bit>
#include <cstring>

#include "engine/Ipv6ExtensionChain.h"

namespace bramvell {

namespace {

// The transport header behind IP headers that ParseIpv4/ParseIpv6 have checked.
FrameKind ParseTransport(std::span<const uint8_t> frame, FrameLayout& layout) {
    const std::size_t available = layout.ipTotalLength - layout.ipHeaderLength;
    const uint8_t* transport = frame.data() + layout.transportOffset;
    if (layout.protocol == kProtocolTcp) {
        if (available < kMinTcpHeaderLength) {
            return FrameKind::Malformed;
        }
        const std::size_t tcpHeaderLength = ConstTcpHeader(transport).HeaderLength();
        if (tcpHeaderLength < kMinTcpHeaderLength || tcpHeaderLength > available) {
            return FrameKind::Malformed;
        }
        layout.transportHeaderLength = tcpHeaderLength;
        layout.payloadOffset = layout.transportOffset + tcpHeaderLength;
        layout.payloadLength = available - tcpHeaderLength;
        return FrameKind::Tcp;
    }
    if (layout.protocol == kProtocolUdp) {
        if (available < kUdpHeaderLength) {
            return FrameKind::Malformed;
        }
        layout.transportHeaderLength = kUdpHeaderLength;
        layout.payloadOffset = layout.transportOffset + kUdpHeaderLength;
        layout.payloadLength = available - kUdpHeaderLength;
        return FrameKind::Udp;
    }
    return FrameKind::OtherIp;
}

FrameKind ParseIpv4(std::span<const uint8_t> frame, FrameLayout& layout) {
    constexpr std::size_t ip = ConstEthernetHeader::kLength;
    if (frame.size() < ip + kMinIpHeaderLength) {
        return FrameKind::Malformed;
    }
    const ConstIpv4Header header(frame.data() + ip);
    if (header.Version() != ConstIpv4Header::kVersion) {
        return FrameKind::Malformed;
    }
    const std::size_t ipHeaderLength = header.HeaderLength();
    const std::size_t totalLength = header.TotalLength();
    if (ipHeaderLength < kMinIpHeaderLength || totalLength < ipHeaderLength ||
        ip + totalLength > frame.size()) {
        return FrameKind::Malformed;
    }
    layout.ipOffset = ip;
    layout.ipVersion = ConstIpv4Header::kVersion;
    layout.ipHeaderLength = ipHeaderLength;
    layout.ipTotalLength = totalLength;
    layout.protocol = header.Protocol();
    layout.transportOffset = ip + ipHeaderLength;
    if (header.IsLaterFragment()) {
        return FrameKind::OtherIp;
    }
    return ParseTransport(frame, layout);
}

FrameKind ParseIpv6(std::span<const uint8_t> frame, FrameLayout& layout) {
    constexpr std::size_t ip = ConstEthernetHeader::kLength;
    if (frame.size() < ip + ConstIpv6Header::kLength) {
        return FrameKind::Malformed;
    }
    const ConstIpv6Header header(frame.data() + ip);
    const std::size_t totalLength = ConstIpv6Header::kLength + header.PayloadLength();
    // A jumbogram (payload length 0, length in a hop-by-hop option) cannot be in a frame; its chain
    // runs out of bounds below.
    if (header.Version() != ConstIpv6Header::kVersion || ip + totalLength > frame.size()) {
        return FrameKind::Malformed;
    }
    const Ipv6Chain chain = WalkIpv6Chain(frame.subspan(ip, totalLength));
    if (chain.end == Ipv6ChainEnd::OutOfBounds) {
        return FrameKind::Malformed;
    }
    layout.ipOffset = ip;
    layout.ipVersion = ConstIpv6Header::kVersion;
    layout.ipTotalLength = totalLength;
    if (chain.end == Ipv6ChainEnd::Untouchable) {
        layout.ipHeaderLength = ConstIpv6Header::kLength;
        layout.transportOffset = ip + ConstIpv6Header::kLength;
        return FrameKind::OtherIp;
    }
    layout.ipHeaderLength = chain.headerLength;
    layout.protocol = chain.protocol;
    layout.transportOffset = ip + chain.headerLength;
    return ParseTransport(frame, layout);
}

}  // namespace

FrameKind ParseFrame(std::span<const uint8_t> frame, FrameLayout& layout) {
    layout = FrameLayout{};
    if (frame.size() < ConstEthernetHeader::kLength) {
        return FrameKind::NotIp;
    }
    switch (ConstEthernetHeader(frame.data()).EtherType()) {
        case kEtherTypeIpv4:
            return ParseIpv4(frame, layout);
        case kEtherTypeIpv6:
            return ParseIpv6(frame, layout);
        default:
            return FrameKind::NotIp;
    }
}

namespace {

// One's-complement sum of the bytes as big-endian 16-bit words, folded to 16 bits. The sum does not
// depend on byte order as long as it is swapped once at the end (RFC 1071), so it adds the native
// 32-bit halves of 64-bit loads in a wide accumulator, one pass with few instructions per byte.
uint32_t SumWords(std::span<const uint8_t> bytes, uint32_t sum) {
    const uint8_t* data = bytes.data();
    const std::size_t size = bytes.size();
    uint64_t native = 0;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        native += (word & 0xFFFFFFFFu) + (word >> 32);
    }
    for (; i + 2 <= size; i += 2) {
        uint16_t word;
        std::memcpy(&word, data + i, 2);
        native += word;
    }
    if (i < size) {
        // A last odd byte is the high byte of a big-endian word.
        native += std::endian::native == std::endian::little ? uint64_t{data[i]} : uint64_t{data[i]} << 8;
    }
    while (native >> 16) {
        native = (native & 0xFFFF) + (native >> 16);
    }
    auto folded = static_cast<uint32_t>(native);
    if constexpr (std::endian::native == std::endian::little) {
        folded = (folded >> 8 | folded << 8) & 0xFFFF;
    }
    return sum + folded;
}

uint16_t Fold(uint64_t sum) {
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

}  // namespace

uint32_t TcpPseudoHeaderSum(std::span<const uint8_t> frame, const FrameLayout& layout) {
    const uint8_t* ip = frame.data() + layout.ipOffset;
    const std::span<const uint8_t> addresses = layout.ipVersion == ConstIpv6Header::kVersion
                                                   ? ConstIpv6Header(ip).AddressBytes()
                                                   : ConstIpv4Header(ip).AddressBytes();
    uint32_t sum = SumWords(addresses, 0);
    sum += kProtocolTcp;
    sum += static_cast<uint32_t>(layout.ipTotalLength - layout.ipHeaderLength);
    return sum;
}

IpAddress SourceAddressOf(std::span<const uint8_t> frame, const FrameLayout& layout) {
    const uint8_t* ip = frame.data() + layout.ipOffset;
    return layout.ipVersion == ConstIpv6Header::kVersion ? ConstIpv6Header(ip).Source()
                                                         : IpAddress::FromIpv4(ConstIpv4Header(ip).Source());
}

IpAddress DestinationAddressOf(std::span<const uint8_t> frame, const FrameLayout& layout) {
    const uint8_t* ip = frame.data() + layout.ipOffset;
    return layout.ipVersion == ConstIpv6Header::kVersion
               ? ConstIpv6Header(ip).Destination()
               : IpAddress::FromIpv4(ConstIpv4Header(ip).Destination());
}

void SwapIpAddresses(std::span<uint8_t> frame, const FrameLayout& layout) {
    uint8_t* ip = frame.data() + layout.ipOffset;
    if (layout.ipVersion == Ipv6Header::kVersion) {
        Ipv6Header(ip).SwapAddresses();
    } else {
        Ipv4Header(ip).SwapAddresses();
    }
}

void StoreIpLength(std::span<uint8_t> frame, const FrameLayout& layout) {
    uint8_t* ip = frame.data() + layout.ipOffset;
    if (layout.ipVersion == Ipv6Header::kVersion) {
        Ipv6Header(ip).SetPayloadLength(layout.ipTotalLength - Ipv6Header::kLength);
    } else {
        Ipv4Header(ip).SetTotalLength(layout.ipTotalLength);
    }
}

IpAddress TcpFrame::SourceAddress() const {
    return SourceAddressOf({bytes_, layout_.ipOffset + layout_.ipTotalLength}, layout_);
}

IpAddress TcpFrame::DestinationAddress() const {
    return DestinationAddressOf({bytes_, layout_.ipOffset + layout_.ipTotalLength}, layout_);
}

uint16_t InternetChecksum(std::span<const uint8_t> bytes, uint32_t initialSum) {
    return Fold(uint64_t{initialSum} + SumWords(bytes, 0));
}

void UpdateIpChecksum(std::span<uint8_t> frame, const FrameLayout& layout) {
    if (layout.ipVersion == Ipv6Header::kVersion) {
        return;
    }
    Ipv4Header ip(frame.data() + layout.ipOffset);
    ip.SetChecksum(0);
    ip.SetChecksum(InternetChecksum({frame.data() + layout.ipOffset, layout.ipHeaderLength}));
}

void UpdateTcpChecksum(std::span<uint8_t> frame, const FrameLayout& layout) {
    TcpHeader tcp(frame.data() + layout.transportOffset);
    const std::size_t tcpLength = layout.ipTotalLength - layout.ipHeaderLength;
    tcp.SetChecksum(0);
    tcp.SetChecksum(InternetChecksum({tcp.data(), tcpLength}, TcpPseudoHeaderSum(frame, layout)));
}

bool IpChecksumValid(std::span<const uint8_t> frame, const FrameLayout& layout) {
    return layout.ipVersion == ConstIpv6Header::kVersion ||
           InternetChecksum(frame.subspan(layout.ipOffset, layout.ipHeaderLength)) == 0;
}

bool ChecksumsValid(std::span<const uint8_t> frame, const FrameLayout& layout) {
    if (!IpChecksumValid(frame, layout)) {
        return false;
    }
    const uint8_t* tcp = frame.data() + layout.transportOffset;
    const std::size_t tcpLength = layout.ipTotalLength - layout.ipHeaderLength;
    return InternetChecksum({tcp, tcpLength}, TcpPseudoHeaderSum(frame, layout)) == 0;
}

}  // namespace bramvell
