#include "fuzz/packet_loop/Pop3Script.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "config/FilterSettings.h"
#include "engine/Frame.h"
#include "engine/Pop3Connection.h"
#include "fuzz/support/FrameWriter.h"

// Script grammar. Each op is one byte: op & 7 selects what happens, op >> 3 is an argument A, and
// A & 3 picks the connection.
//   0  end of batch: the clock moves A minutes and Word() milliseconds.
//   1  handshake: client SYN, server SYN-ACK, client ACK; initial numbers Long(), Long(). A & 4 adds
//      SACK-permitted and window scale to the SYN, A & 8 timestamps, A & 16 an MSS option.
//   2  client segment, 3 server segment: flags Byte(), numbering mode Byte(), payload
//      Take(Word() % 1461). Mode & 3 is the sequence number, (mode >> 2) & 3 the acknowledgement:
//      0 as the side would send it, 1 that plus a signed Byte(), 2 less the side's last payload
//      length (a retransmission), 3 Long(). Mode & 16 takes the window from Word().
//   4  client "RETR n" with n = Byte().
//   5  server reply: "+OK", body Take(Word() % 8192), the final ".", in segments of 1 + Byte() * 6
//      bytes (larger when that would make more than 48 segments).
//   6  raw frame in direction A & 1 (0 toward the server): Take(Word() % 1515). With A & 2 no frame:
//      connection (A >> 2) & 3 talks IPv6 from now on (addresses fd00::<its IPv4 address>).
//   7  bare acknowledgement by the client, or by the server when A & 4; A & 8 adds FIN, A & 16 makes
//      it a RST.
namespace bramvell::fuzz {

namespace {

using namespace tcp_flags;

constexpr std::size_t kLongestPayload = 1460;
constexpr std::size_t kLongestBody = 8192;
constexpr std::size_t kMostReplySegments = 48;
constexpr std::size_t kLongestRawFrame = kMaxFrameLength;
constexpr uint16_t kFirstClientPort = 40000;
constexpr uint8_t kTimestampOption = 8;
constexpr uint8_t kTimestampOptionLength = 10;

void AppendTimestamp(std::vector<uint8_t>& options, uint32_t value, uint32_t echo) {
    const uint8_t bytes[] = {kTimestampOption,
                             kTimestampOptionLength,
                             static_cast<uint8_t>(value >> 24),
                             static_cast<uint8_t>(value >> 16),
                             static_cast<uint8_t>(value >> 8),
                             static_cast<uint8_t>(value),
                             static_cast<uint8_t>(echo >> 24),
                             static_cast<uint8_t>(echo >> 16),
                             static_cast<uint8_t>(echo >> 8),
                             static_cast<uint8_t>(echo)};
    options.insert(options.end(), std::begin(bytes), std::end(bytes));
}

// Where a segment's sequence space ends: data plus one for SYN and for FIN.
uint32_t SegmentEnd(uint32_t sequence, std::size_t payloadLength, uint8_t flags) {
    return sequence + static_cast<uint32_t>(payloadLength) + ((flags & kSyn) ? 1u : 0u) +
           ((flags & kFin) ? 1u : 0u);
}

// With BRAMVELL_FUZZ_TRACE set, every frame into and out of the engine is printed: for writing seeds.
void Trace(const char* what, std::span<const uint8_t> frame) {
    static const bool enabled = std::getenv("BRAMVELL_FUZZ_TRACE") != nullptr;
    if (!enabled) {
        return;
    }
    FrameLayout layout;
    if (frame.empty()) {
        std::fprintf(stderr, "%s\n", what);
        return;
    }
    if (ParseFrame(frame, layout) != FrameKind::Tcp) {
        std::fprintf(stderr, "%s %zu bytes, not TCP\n", what, frame.size());
        return;
    }
    const TcpFrame tcp({const_cast<uint8_t*>(frame.data()), frame.size()}, layout);
    std::string payload(reinterpret_cast<const char*>(tcp.Payload().data()),
                        std::min<std::size_t>(tcp.PayloadLength(), 40));
    std::replace(payload.begin(), payload.end(), '\r', '~');
    std::replace(payload.begin(), payload.end(), '\n', '|');
    std::fprintf(stderr, "%s %u>%u seq %u ack %u flags %02x win %u len %zu [%s]\n", what, tcp.SourcePort(),
                 tcp.DestinationPort(), tcp.Sequence(), tcp.Acknowledgement(), tcp.Flags(), tcp.Window(),
                 tcp.PayloadLength(), payload.c_str());
}

}  // namespace

uint32_t ClientAddress() {
    return 0x0A000001;
}
uint32_t ServerAddress(std::size_t connection) {
    return 0x0A000002 + static_cast<uint32_t>(connection / 2);
}
uint16_t ClientPort(std::size_t connection) {
    return static_cast<uint16_t>(kFirstClientPort + connection % 2);
}

LocalTime ScriptClock::Now() const {
    LocalTime now{2026, 3, 15, 10, 30, 0};
    const int minutes = now.hour * 60 + now.minute + minutesSinceStart_;
    now.day += minutes / (24 * 60) % 14;
    now.hour = minutes / 60 % 24;
    now.minute = minutes % 60;
    return now;
}

void ScriptClock::Advance(int minutes, uint64_t milliseconds) {
    minutesSinceStart_ += minutes;
    ticks_ += milliseconds + static_cast<uint64_t>(minutes) * 60000;
}

bool Pop3Script::NextBatch(MemoryPacketSource& source) {
    if (input_.Empty()) {
        return false;
    }
    source_ = &source;
    while (!input_.Empty()) {
        const uint8_t op = input_.Byte();
        const uint8_t argument = op >> 3;
        const std::size_t connection = argument & 3;
        switch (op & 7) {
            case 0:
                clock_.Advance(argument, input_.Word());
                Trace("-- end of batch", {});
                return true;
            case 1:
                Handshake(connection, argument);
                break;
            case 2:
            case 3: {
                const uint8_t flags = input_.Byte();
                const uint8_t mode = input_.Byte();
                const std::string_view payload = input_.Take(input_.Word() % (kLongestPayload + 1));
                Segment(connection, (op & 7) == 2, flags, payload, mode);
                break;
            }
            case 4:
                text_ = "RETR " + std::to_string(input_.Byte()) + "\r\n";
                Segment(connection, true, kPsh | kAck, text_, 0);
                break;
            case 5:
                Reply(connection);
                break;
            case 6: {
                if (argument & 2) {
                    ipv6_[(argument >> 2) & 3] = true;
                    break;
                }
                const std::string_view bytes = input_.Take(input_.Word() % (kLongestRawFrame + 1));
                const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
                injected_.emplace(data, data + bytes.size());
                source.Inject((argument & 1) ? PacketDirection::Inbound : PacketDirection::Outbound,
                              {data, bytes.size()});
                break;
            }
            case 7: {
                const bool fromClient = (argument & 4) == 0;
                const uint8_t flags =
                    (argument & 16) ? kRst : static_cast<uint8_t>(kAck | ((argument & 8) ? kFin : 0));
                Segment(connection, fromClient, flags, {}, 0);
                break;
            }
        }
    }
    return true;
}

void Pop3Script::Handshake(std::size_t index, uint8_t argument) {
    Connection& connection = connections_[index];
    connection = Connection{};
    connection.timestamps = (argument & 8) != 0;
    connection.client.next = input_.Long();
    connection.server.next = input_.Long();

    std::vector<uint8_t> options;
    if (argument & 16) {
        options.insert(options.end(), {2, 4, 0x05, 0xB4});  // MSS 1460
    }
    if (argument & 4) {
        options.insert(options.end(), {4, 2, 1, 3, 3, 7});  // SACK permitted, window scale 7
    }
    if (connection.timestamps) {
        AppendTimestamp(options, connection.client.timestamp++, 0);
    }
    Inject(true, index, connection.client.next, 0, kSyn, 65535, options, {});
    connection.server.received = connection.client.next;  // Inject counted the SYN

    options.clear();
    if (argument & 4) {
        options.insert(options.end(), {4, 2, 1, 3, 3, 7});
    }
    if (connection.timestamps) {
        AppendTimestamp(options, connection.server.timestamp++, connection.client.timestamp - 1);
    }
    Inject(false, index, connection.server.next, connection.server.received, kSyn | kAck, 65535, options, {});
    connection.client.received = connection.server.next;
    Segment(index, true, kAck, {}, 0);
}

uint32_t Pop3Script::Perturbed(uint32_t natural, uint32_t lastLength, unsigned mode) {
    switch (mode & 3) {
        case 1:
            return natural + static_cast<uint32_t>(static_cast<int8_t>(input_.Byte()));
        case 2:
            return natural - lastLength;
        case 3:
            return input_.Long();
        default:
            return natural;
    }
}

void Pop3Script::Segment(std::size_t index, bool fromClient, uint8_t flags, std::string_view payload,
                         uint8_t mode) {
    Connection& connection = connections_[index];
    Side& side = fromClient ? connection.client : connection.server;
    const uint32_t sequence = Perturbed(side.next, side.lastLength, mode);
    const uint32_t acknowledgement = Perturbed(side.received, 0, mode >> 2);
    const uint16_t window = (mode & 16) ? input_.Word() : 65535;
    std::vector<uint8_t> options;
    if (connection.timestamps) {
        const Side& other = fromClient ? connection.server : connection.client;
        AppendTimestamp(options, side.timestamp++, other.timestamp - 1);
    }
    Inject(fromClient, index, sequence, acknowledgement, flags, window, options, payload);
}

void Pop3Script::Reply(std::size_t index) {
    text_ = "+OK message follows\r\n";
    text_ += input_.Take(input_.Word() % (kLongestBody + 1));
    text_ += "\r\n.\r\n";
    // At most kMostReplySegments segments: tiny segments for short replies, without a flood of frames
    // for long ones.
    const std::size_t size =
        std::max(1 + std::size_t{input_.Byte()} * 6, text_.size() / kMostReplySegments + 1);
    const std::string reply = text_;
    for (std::size_t at = 0; at < reply.size(); at += size) {
        Segment(index, false, kPsh | kAck, std::string_view(reply).substr(at, size), 0);
    }
}

void Pop3Script::Inject(bool fromClient, std::size_t index, uint32_t sequence, uint32_t acknowledgement,
                        uint8_t flags, uint16_t window, std::span<const uint8_t> options,
                        std::string_view payload) {
    Connection& connection = connections_[index];
    TcpSegment segment;
    segment.fromClient = fromClient;
    segment.ipv6 = ipv6_[index];
    segment.clientAddress = ClientAddress();
    segment.serverAddress = ServerAddress(index);
    segment.clientPort = ClientPort(index);
    segment.serverPort = kPop3Port;
    segment.sequence = sequence;
    segment.acknowledgement = acknowledgement;
    segment.flags = flags;
    segment.window = window;
    segment.options = options;
    segment.payload = payload;
    const std::size_t sent = WriteTcpFrame(segment, frame_);

    Side& side = fromClient ? connection.client : connection.server;
    side.next = SeqMax(side.next, SegmentEnd(sequence, sent, flags));
    side.lastLength = static_cast<uint32_t>(sent);
    injected_.insert(frame_);
    Trace(fromClient ? "client ->" : "server ->", frame_);
    source_->Inject(fromClient ? PacketDirection::Outbound : PacketDirection::Inbound, frame_);
}

void Pop3Script::OnSent(PacketDirection direction, std::span<const uint8_t> frame) {
    Trace(direction == PacketDirection::Outbound ? "   engine -> server" : "   engine -> client", frame);
    Require(frame.size() <= kMaxFrameLength, "sent frames fit the packet buffer");
    FrameLayout layout;
    if (ParseFrame(frame, layout) != FrameKind::Tcp) {
        return;
    }
    const bool original = WasInjected(frame);
    Require(original || TcpChecksumValid(frame), "frames the engine wrote carry a valid TCP checksum");

    const TcpFrame tcp({const_cast<uint8_t*>(frame.data()), frame.size()}, layout);
    const IpAddress source = tcp.SourceAddress();
    const IpAddress destination = tcp.DestinationAddress();
    const bool towardServer = direction == PacketDirection::Outbound;
    for (std::size_t index = 0; index < kConnections; ++index) {
        const IpAddress client = SegmentAddress(ClientAddress(), ipv6_[index]);
        const IpAddress server = SegmentAddress(ServerAddress(index), ipv6_[index]);
        const bool matches =
            towardServer ? (source == client && destination == server &&
                            tcp.SourcePort() == ClientPort(index) && tcp.DestinationPort() == kPop3Port)
                         : (destination == client && source == server &&
                            tcp.DestinationPort() == ClientPort(index) && tcp.SourcePort() == kPop3Port);
        if (matches) {
            Side& receiver = towardServer ? connections_[index].server : connections_[index].client;
            receiver.received =
                SeqMax(receiver.received, SegmentEnd(tcp.Sequence(), tcp.PayloadLength(), tcp.Flags()));
            return;
        }
    }
}

bool Pop3Script::WasInjected(std::span<const uint8_t> frame) const {
    return injected_.count(std::vector<uint8_t>(frame.begin(), frame.end())) != 0;
}

ScriptedPacketSource::ScriptedPacketSource(Pop3Script& script, FilterSettings& settings)
    : script_(script), settings_(settings) {
    SetSink([this](PacketDirection direction, std::span<const uint8_t> frame) {
        script_.OnSent(direction, frame);
    });
}

bool ScriptedPacketSource::WaitForPacketEvent(std::chrono::milliseconds) {
    if (PendingCount() > 0 || script_.NextBatch(*this)) {
        return true;
    }
    settings_.stopRequested = 1;
    return false;
}

}  // namespace bramvell::fuzz
