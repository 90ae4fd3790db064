// Frames come straight off the wire. The parser must accept any bytes, give offsets that stay inside
// the frame, and the checksum routines must make every parsed TCP frame verify after an edit.
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/Frame.h"
#include "engine/PacketBuffer.h"
#include "fuzz/support/FuzzInput.h"

namespace bramvell::fuzz {
namespace {

bool SameLayout(const FrameLayout& a, const FrameLayout& b) {
    return a.ipOffset == b.ipOffset && a.ipVersion == b.ipVersion && a.ipHeaderLength == b.ipHeaderLength &&
           a.ipTotalLength == b.ipTotalLength && a.protocol == b.protocol &&
           a.transportOffset == b.transportOffset && a.transportHeaderLength == b.transportHeaderLength &&
           a.payloadOffset == b.payloadOffset && a.payloadLength == b.payloadLength;
}

void RequireInside(const FrameLayout& layout, std::size_t size) {
    Require(layout.ipHeaderLength >= (layout.ipVersion == 6 ? Ipv6Header::kLength : kMinIpHeaderLength),
            "IP header at least 20 bytes (IPv6: 40)");
    Require(layout.ipOffset + layout.ipTotalLength <= size, "IP datagram inside the frame");
    Require(layout.transportOffset == layout.ipOffset + layout.ipHeaderLength,
            "transport after the IP header");
    Require(layout.payloadOffset == layout.transportOffset + layout.transportHeaderLength,
            "payload after the transport header");
    Require(layout.payloadOffset + layout.payloadLength == layout.ipOffset + layout.ipTotalLength,
            "payload ends with the datagram");
}

// Edits a parsed TCP frame as the engine does (numbers, ports, window, flags), recomputes both
// checksums, and checks that they verify and the frame still parses the same way.
void EditTcp(std::span<uint8_t> frame, const FrameLayout& layout) {
    TcpFrame parsed(frame, layout);
    TcpHeader tcp = parsed.Tcp();
    const uint32_t sequence = tcp.Sequence();
    const uint32_t acknowledgement = tcp.Acknowledgement();
    tcp.SetSequence(acknowledgement + static_cast<uint32_t>(parsed.PayloadLength()));
    tcp.SetAcknowledgement(sequence ^ 0x5A5A5A5Au);
    tcp.SetSourcePort(tcp.DestinationPort());
    tcp.SetDestinationPort(110);
    tcp.SetWindow(static_cast<uint16_t>(tcp.Window() + 1));
    tcp.SetFlags(static_cast<uint8_t>(tcp.Flags() | tcp_flags::kAck));
    for (uint8_t& byte : parsed.Payload()) {
        byte = static_cast<uint8_t>(byte + 1);
    }
    UpdateIpChecksum(frame, layout);
    UpdateTcpChecksum(frame, layout);
    Require(ChecksumsValid(frame, layout), "recomputed checksums verify");
    FrameLayout again;
    Require(ParseFrame(frame, again) == FrameKind::Tcp && SameLayout(again, layout),
            "an edited frame parses alike");
}

// Appending the checksum of an even-length run to it makes the run sum to zero, from any start value.
void CheckChecksumIdentity(std::span<const uint8_t> bytes) {
    if (bytes.size() < 4) {
        return;
    }
    const uint32_t initial = Load32(bytes.data());
    std::vector<uint8_t> run(bytes.begin() + 4, bytes.end());
    if (run.size() % 2 != 0) {
        run.push_back(0);
    }
    const uint16_t sum = InternetChecksum(run, initial);
    run.push_back(0);
    run.push_back(0);
    Store16(run.data() + run.size() - 2, sum);
    Require(InternetChecksum(run, initial) == 0, "a run with its checksum sums to zero");
}

void Run(std::span<const uint8_t> input) {
    CheckChecksumIdentity(input);

    // The engine only ever parses its one buffer, so frames longer than that are cut as a source would.
    PacketBuffer buffer;
    buffer.length = static_cast<uint32_t>(input.size() < kMaxFrameLength ? input.size() : kMaxFrameLength);
    std::memcpy(buffer.frame.data(), input.data(), buffer.length);
    const std::span<uint8_t> frame = buffer.Bytes();

    FrameLayout layout;
    const FrameKind kind = ParseFrame(frame, layout);
    switch (kind) {
        case FrameKind::NotIp:
        case FrameKind::Malformed:
            return;
        case FrameKind::OtherIp:
            Require(layout.ipOffset + layout.ipTotalLength <= frame.size(), "IP datagram inside the frame");
            UpdateIpChecksum(frame, layout);
            Require(IpChecksumValid(frame, layout), "recomputed IP checksum verifies (IPv4; IPv6 has none)");
            return;
        case FrameKind::Udp:
            RequireInside(layout, frame.size());
            Require(layout.transportHeaderLength == kUdpHeaderLength, "UDP header is 8 bytes");
            return;
        case FrameKind::Tcp:
            RequireInside(layout, frame.size());
            Require(layout.transportHeaderLength >= kMinTcpHeaderLength, "TCP header at least 20 bytes");
            ChecksumsValid(frame, layout);
            EditTcp(frame, layout);
            return;
    }
}

}  // namespace
}  // namespace bramvell::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    bramvell::fuzz::Run({data, size});
    return 0;
}
