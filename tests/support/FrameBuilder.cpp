#include "support/FrameBuilder.h"

#include <algorithm>

namespace bramvell::testing {

namespace {

void Put16(std::vector<uint8_t>& out, std::size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value >> 8);
    out[at + 1] = static_cast<uint8_t>(value);
}

void Put32(std::vector<uint8_t>& out, std::size_t at, uint32_t value) {
    Put16(out, at, static_cast<uint16_t>(value >> 16));
    Put16(out, at + 2, static_cast<uint16_t>(value));
}

std::vector<uint8_t> Padded(const std::vector<uint8_t>& options) {
    std::vector<uint8_t> padded = options;
    padded.resize((padded.size() + 3) / 4 * 4, 0);
    return padded;
}

uint32_t PseudoHeaderSum(const Ipv4Fields& ip, uint8_t protocol, std::size_t transportLength) {
    return (ip.source >> 16) + (ip.source & 0xFFFF) + (ip.destination >> 16) + (ip.destination & 0xFFFF) +
           protocol + static_cast<uint32_t>(transportLength);
}

}  // namespace

std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

uint16_t ReferenceChecksum(std::span<const uint8_t> bytes, uint32_t initialSum) {
    uint64_t sum = initialSum;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t word = uint32_t{bytes[i]} << 8;
        if (i + 1 < bytes.size()) {
            word |= bytes[i + 1];
        }
        sum += word;
    }
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum);
}

std::vector<uint8_t> BuildEthernetFrame(const EthernetFields& ethernet, std::span<const uint8_t> body) {
    std::vector<uint8_t> out(14);
    std::copy(ethernet.destination.begin(), ethernet.destination.end(), out.begin());
    std::copy(ethernet.source.begin(), ethernet.source.end(), out.begin() + 6);
    Put16(out, 12, ethernet.etherType);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> BuildIpv4Frame(const EthernetFields& ethernet, const Ipv4Fields& ip, uint8_t protocol,
                                    std::span<const uint8_t> transport) {
    const std::vector<uint8_t> options = Padded(ip.options);
    const std::size_t headerLength = 20 + options.size();
    std::vector<uint8_t> datagram(headerLength);
    datagram[0] = static_cast<uint8_t>(0x40 | headerLength / 4);
    datagram[1] = ip.typeOfService;
    Put16(datagram, 2, static_cast<uint16_t>(headerLength + transport.size()));
    Put16(datagram, 4, ip.identification);
    Put16(datagram, 6, ip.fragmentField);
    datagram[8] = ip.timeToLive;
    datagram[9] = protocol;
    Put32(datagram, 12, ip.source);
    Put32(datagram, 16, ip.destination);
    std::copy(options.begin(), options.end(), datagram.begin() + 20);
    Put16(datagram, 10, ReferenceChecksum(datagram));
    datagram.insert(datagram.end(), transport.begin(), transport.end());
    return BuildEthernetFrame(ethernet, datagram);
}

namespace {

// A TCP header and payload with the checksum field at zero.
std::vector<uint8_t> UnsummedSegment(const TcpFields& tcp, const std::vector<uint8_t>& payload) {
    const std::vector<uint8_t> options = Padded(tcp.options);
    const std::size_t headerLength = 20 + options.size();
    std::vector<uint8_t> segment(headerLength);
    Put16(segment, 0, tcp.sourcePort);
    Put16(segment, 2, tcp.destinationPort);
    Put32(segment, 4, tcp.sequence);
    Put32(segment, 8, tcp.acknowledgement);
    segment[12] = static_cast<uint8_t>(headerLength / 4 << 4);
    segment[13] = tcp.flags;
    Put16(segment, 14, tcp.window);
    Put16(segment, 18, tcp.urgentPointer);
    std::copy(options.begin(), options.end(), segment.begin() + 20);
    segment.insert(segment.end(), payload.begin(), payload.end());
    return segment;
}

}  // namespace

std::vector<uint8_t> BuildTcpFrame(const TcpFrameSpec& spec) {
    std::vector<uint8_t> segment = UnsummedSegment(spec.tcp, spec.payload);
    Put16(segment, 16, ReferenceChecksum(segment, PseudoHeaderSum(spec.ip, 6, segment.size())));
    return BuildIpv4Frame(spec.ethernet, spec.ip, 6, segment);
}

std::vector<uint8_t> Ipv6PseudoHeader(const Ipv6Fields& ip, uint8_t protocol, std::size_t upperLength) {
    std::vector<uint8_t> pseudo(40, 0);
    std::copy(ip.source.begin(), ip.source.end(), pseudo.begin());
    std::copy(ip.destination.begin(), ip.destination.end(), pseudo.begin() + 16);
    Put32(pseudo, 32, static_cast<uint32_t>(upperLength));
    pseudo[39] = protocol;
    return pseudo;
}

uint16_t ReferenceIpv6Checksum(const Ipv6Fields& ip, uint8_t protocol, std::span<const uint8_t> upper) {
    std::vector<uint8_t> covered = Ipv6PseudoHeader(ip, protocol, upper.size());
    covered.insert(covered.end(), upper.begin(), upper.end());
    return ReferenceChecksum(covered);
}

std::vector<uint8_t> BuildIpv6Frame(const EthernetFields& ethernet, const Ipv6Fields& ip, uint8_t protocol,
                                    std::span<const uint8_t> upper) {
    std::vector<uint8_t> datagram(40);
    datagram[0] = 0x60;
    datagram[7] = ip.hopLimit;
    std::copy(ip.source.begin(), ip.source.end(), datagram.begin() + 8);
    std::copy(ip.destination.begin(), ip.destination.end(), datagram.begin() + 24);
    std::size_t nextHeaderAt = 6;
    for (const Ipv6Extension& extension : ip.extensions) {
        datagram[nextHeaderAt] = extension.type;
        nextHeaderAt = datagram.size();
        datagram.insert(datagram.end(), extension.bytes.begin(), extension.bytes.end());
    }
    datagram[nextHeaderAt] = protocol;
    datagram.insert(datagram.end(), upper.begin(), upper.end());
    Put16(datagram, 4, static_cast<uint16_t>(datagram.size() - 40));
    EthernetFields ipv6Ethernet = ethernet;
    ipv6Ethernet.etherType = 0x86DD;
    return BuildEthernetFrame(ipv6Ethernet, datagram);
}

std::vector<uint8_t> BuildTcp6Frame(const Tcp6FrameSpec& spec) {
    std::vector<uint8_t> segment = UnsummedSegment(spec.tcp, spec.payload);
    Put16(segment, 16, ReferenceIpv6Checksum(spec.ip, 6, segment));
    return BuildIpv6Frame(spec.ethernet, spec.ip, 6, segment);
}

Ipv6Extension Ipv6OptionsHeader(uint8_t type, std::size_t length) {
    Ipv6Extension extension{type, std::vector<uint8_t>(length, 0)};
    extension.bytes[1] = static_cast<uint8_t>(length / 8 - 1);
    if (length > 2) {
        extension.bytes[2] = 1;  // a PadN option over the rest
        extension.bytes[3] = static_cast<uint8_t>(length - 4);
    }
    return extension;
}

std::vector<uint8_t> BuildUdpFrame(const UdpFrameSpec& spec) {
    std::vector<uint8_t> datagram(8);
    Put16(datagram, 0, spec.udp.sourcePort);
    Put16(datagram, 2, spec.udp.destinationPort);
    Put16(datagram, 4, static_cast<uint16_t>(8 + spec.payload.size()));
    datagram.insert(datagram.end(), spec.payload.begin(), spec.payload.end());
    uint16_t checksum = ReferenceChecksum(datagram, PseudoHeaderSum(spec.ip, 17, datagram.size()));
    Put16(datagram, 6, checksum == 0 ? 0xFFFF : checksum);
    return BuildIpv4Frame(spec.ethernet, spec.ip, 17, datagram);
}

std::size_t TransportOffset(std::span<const uint8_t> frame) {
    return kIpOffset + std::size_t{frame[kIpOffset] & 0x0Fu} * 4;
}

}  // namespace bramvell::testing
