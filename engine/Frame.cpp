#include "engine/Frame.h"

#include <bit>
#include <cstring>

namespace bramvell {

FrameKind ParseFrame(std::span<const uint8_t> frame, FrameLayout& layout) {
    layout = FrameLayout{};
    if (frame.size() < 14 || Load16(frame.data() + 12) != kEtherTypeIpv4) {
        return FrameKind::NotIpv4;
    }
    const std::size_t ip = 14;
    if (frame.size() < ip + kMinIpHeaderLength) {
        return FrameKind::Malformed;
    }
    const uint8_t* header = frame.data() + ip;
    if ((header[0] >> 4) != 4) {
        return FrameKind::Malformed;
    }
    const std::size_t ipHeaderLength = std::size_t{header[0] & 0x0Fu} * 4;
    const std::size_t totalLength = Load16(header + 2);
    if (ipHeaderLength < kMinIpHeaderLength || totalLength < ipHeaderLength ||
        ip + totalLength > frame.size()) {
        return FrameKind::Malformed;
    }
    layout.ipOffset = ip;
    layout.ipHeaderLength = ipHeaderLength;
    layout.ipTotalLength = totalLength;
    layout.protocol = header[9];
    layout.transportOffset = ip + ipHeaderLength;

    const bool laterFragment = (Load16(header + 6) & 0x1FFF) != 0;
    if (laterFragment) {
        return FrameKind::OtherIp;
    }
    const std::size_t available = totalLength - ipHeaderLength;
    const uint8_t* transport = frame.data() + layout.transportOffset;
    if (layout.protocol == kProtocolTcp) {
        if (available < kMinTcpHeaderLength) {
            return FrameKind::Malformed;
        }
        const std::size_t tcpHeaderLength = static_cast<std::size_t>(transport[12] >> 4) * 4;
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

uint32_t TcpPseudoHeaderSum(std::span<const uint8_t> frame, const FrameLayout& layout) {
    const uint8_t* ip = frame.data() + layout.ipOffset;
    uint32_t sum = 0;
    sum = SumWords({ip + 12, 8}, sum);  // source and destination addresses
    sum += kProtocolTcp;
    sum += static_cast<uint32_t>(layout.ipTotalLength - layout.ipHeaderLength);
    return sum;
}

}  // namespace

uint16_t InternetChecksum(std::span<const uint8_t> bytes, uint32_t initialSum) {
    return Fold(uint64_t{initialSum} + SumWords(bytes, 0));
}

void UpdateIpChecksum(std::span<uint8_t> frame, const FrameLayout& layout) {
    uint8_t* ip = frame.data() + layout.ipOffset;
    Store16(ip + 10, 0);
    Store16(ip + 10, InternetChecksum({ip, layout.ipHeaderLength}));
}

void UpdateTcpChecksum(std::span<uint8_t> frame, const FrameLayout& layout) {
    uint8_t* tcp = frame.data() + layout.transportOffset;
    const std::size_t tcpLength = layout.ipTotalLength - layout.ipHeaderLength;
    Store16(tcp + 16, 0);
    Store16(tcp + 16, InternetChecksum({tcp, tcpLength}, TcpPseudoHeaderSum(frame, layout)));
}

bool ChecksumsValid(std::span<const uint8_t> frame, const FrameLayout& layout) {
    const uint8_t* ip = frame.data() + layout.ipOffset;
    if (InternetChecksum({ip, layout.ipHeaderLength}) != 0) {
        return false;
    }
    const uint8_t* tcp = frame.data() + layout.transportOffset;
    const std::size_t tcpLength = layout.ipTotalLength - layout.ipHeaderLength;
    return InternetChecksum({tcp, tcpLength}, TcpPseudoHeaderSum(frame, layout)) == 0;
}

}  // namespace bramvell
