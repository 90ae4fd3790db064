#include "engine/Pop3Interceptor.h"

#include <cstring>

#include "config/ActivityLog.h"
#include "config/FilterSettings.h"
#include "engine/SegmentEditor.h"

namespace bramvell {

using namespace tcp_flags;

namespace {

constexpr std::size_t kPortCount = 65536;
constexpr std::size_t kRetrArgumentOffset = 5;
constexpr std::size_t kMaxRetrArgument = kRetrArgumentCapacity - 1;

bool StartsWithRetr(std::span<const uint8_t> payload) {
    return payload.size() >= 4 && std::memcmp(payload.data(), "RETR", 4) == 0;
}

// "RETR", a separator, an argument of 1 to 7 printable characters, CR LF, and nothing else in the
// segment. Anything else is not a retrieval the engine can safely answer for (a longer argument would
// be cut, and the deletion would hit another message).
bool ParseRetrLine(std::span<const uint8_t> payload, std::string_view& argument) {
    if (payload.size() <= 7 || !StartsWithRetr(payload)) {
        return false;
    }
    for (std::size_t i = kRetrArgumentOffset;
         i < payload.size() && i <= kRetrArgumentOffset + kMaxRetrArgument; ++i) {
        const uint8_t byte = payload[i];
        if (byte == '\r') {
            if (i + 2 != payload.size() || payload[i + 1] != '\n' || i == kRetrArgumentOffset) {
                return false;
            }
            argument = {reinterpret_cast<const char*>(payload.data()) + kRetrArgumentOffset,
                        i - kRetrArgumentOffset};
            return true;
        }
        if (byte < 0x20 || byte == 0x7F) {
            return false;
        }
    }
    return false;
}

// The argument of a "RETR" segment as compared with the one being answered: offset 5 up to the CR.
std::string_view RetrArgumentOf(std::span<const uint8_t> payload) {
    if (payload.size() <= kRetrArgumentOffset) {
        return {};
    }
    const char* start = reinterpret_cast<const char*>(payload.data()) + kRetrArgumentOffset;
    const std::size_t available = payload.size() - kRetrArgumentOffset;
    const void* cr = std::memchr(start, '\r', available);
    return {start, cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - start) : available};
}

bool NewerTimestamp(uint32_t candidate, uint32_t current) {
    return static_cast<int32_t>(candidate - current) > 0;
}

bool ReadTcpTimestamps(const TcpFrame& tcp, uint32_t& tsVal, uint32_t& tsEcr) {
    const std::size_t at = FindTimestamp({tcp.tcp(), tcp.layout().transportHeaderLength});
    if (at == kNoOption) {
        return false;
    }
    tsVal = Load32(tcp.tcp() + at);
    tsEcr = Load32(tcp.tcp() + at + 4);
    return true;
}

}  // namespace

Pop3Interceptor::Pop3Interceptor(FilterSettings& settings, MessageAnalyzer& analyzer, KeyState& keys,
                                 const Clock& clock, const TickClock& ticks)
    : settings_(settings),
      analyzer_(analyzer),
      keys_(keys),
      clock_(clock),
      ticks_(ticks),
      pool_(limits_.keptBlocks),
      synWindowScale_(kPortCount, 0) {}

Pop3Connection* Pop3Interceptor::Track(Pop3Connection* connection) {
    if (connection != nullptr) {
        connection->store.SetPool(&pool_);
    }
    return connection;
}

void Pop3Interceptor::Log(std::string_view text) const {
    LogActivity(settings_, text, clock_);
}

// ---- client side -------------------------------------------------------------------------------

void Pop3Interceptor::OnClientSyn(FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    TcpFrame tcp(bytes, frame.layout);
    std::span<uint8_t> header{tcp.tcp(), frame.layout.transportHeaderLength};
    const int scale = FindWindowScale(header);
    synWindowScale_[tcp.SourcePort()] = static_cast<uint8_t>(scale < 0 ? 0 : scale + 1);
    // Sequence numbers change under the engine's hands, so selective acknowledgements would lie.
    if (StripSackPermitted(header)) {
        UpdateTcpChecksum(bytes, frame.layout);
    }
}

void Pop3Interceptor::NoteClientSegment(Pop3Connection& connection, const TcpFrame& tcp) {
    const uint32_t seq = tcp.Sequence();
    const auto length = static_cast<uint32_t>(tcp.PayloadLength());
    const uint8_t flags = tcp.Flags();
    connection.clientNextSeq = seq + length;
    // The window counts from the segment's own acknowledgement: one that a later segment overtook would
    // move the client's right edge beyond what it offers.
    if ((flags & kAck) != 0 && !SeqBefore(tcp.Acknowledgement(), connection.clientAck)) {
        connection.clientAck = tcp.Acknowledgement();
        connection.clientWindow = tcp.Window();
    }
    uint32_t tsVal = 0;
    uint32_t tsEcr = 0;
    if (connection.timestamps && ReadTcpTimestamps(tcp, tsVal, tsEcr)) {
        if (NewerTimestamp(tsVal, connection.clientTsVal)) {
            connection.clientTsVal = tsVal;
        }
    }
    const uint32_t end = seq + length + ((flags & kFin) != 0 ? 1 : 0);
    if (SeqAfter(end, connection.clientHighestSeq)) {
        connection.clientHighestSeq = end;
    }
}

uint32_t Pop3Interceptor::ClientAckToServer(const Pop3Connection& connection, uint32_t ack) const {
    uint32_t mapped = ack - connection.serverToClientOffset;
    if (SeqAfter(mapped, connection.serverHighestSeq)) {
        mapped = connection.serverHighestSeq;
    }
    return mapped;
}

uint32_t Pop3Interceptor::ServerAckToClient(const Pop3Connection& connection, uint32_t ack) const {
    uint32_t mapped = ack - connection.clientToServerOffset;
    if (SeqAfter(mapped, connection.clientHighestSeq)) {
        mapped = connection.clientHighestSeq;
    }
    return mapped;
}

void Pop3Interceptor::TranslateClientSegment(Pop3Connection& connection, FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    TcpFrame tcp(bytes, frame.layout);
    SegmentEditor edit(bytes, frame.layout);
    if (tcp.PayloadLength() > 0) {
        connection.clientForwardedSeq = SeqMax(connection.clientForwardedSeq,
                                               tcp.Sequence() + static_cast<uint32_t>(tcp.PayloadLength()));
    }
    edit.SetSequence(tcp.Sequence() + connection.clientToServerOffset);
    if ((tcp.Flags() & kAck) != 0) {
        uint32_t ack = ClientAckToServer(connection, tcp.Acknowledgement());
        // A bare acknowledgement below what the server already holds acknowledged would be ignored
        // whole, window update included.
        if (tcp.PayloadLength() == 0 && SeqBefore(ack, connection.serverAckEdge)) {
            ack = connection.serverAckEdge;
        }
        edit.SetAcknowledgement(ack);
        connection.serverAckEdge = SeqMax(connection.serverAckEdge, ack);
    }
    connection.lastWindowToServer = tcp.Window();
}

void Pop3Interceptor::OnClientSegment(FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    TcpFrame tcp(bytes, frame.layout);
    const uint8_t flags = tcp.Flags();
    if ((flags & kSyn) != 0) {
        // While the option is off new connections pass untouched and untracked.
        if ((flags & kAck) == 0 && settings_.filterEnabled != 0) {
            OnClientSyn(frame);
        }
        return;
    }
    Pop3Connection* found = table_.Find(SourceAddress(bytes, frame.layout), tcp.SourcePort(),
                                        DestinationAddress(bytes, frame.layout));
    if (found == nullptr) {
        return;
    }
    Pop3Connection& connection = *found;
    connection.clientSeenSinceCheck = true;
    const uint32_t seq = tcp.Sequence();
    const std::size_t length = tcp.PayloadLength();
    if (length == 0 && (flags & (kFin | kRst)) == 0 && (flags & kAck) != 0 &&
        SeqBefore(tcp.Acknowledgement(), connection.clientAck)) {
        // A bare acknowledgement overtaken by a later one tells nothing new, and passed on (raised to
        // what the server holds acknowledged) its window would widen the server's view.
        frame.dropMark = true;
        return;
    }
    // Bytes never passed on to the server (a copy the engine held back, or one lost before it came by,
    // does not count as passed on).
    const bool newData =
        length > 0 && SeqAfter(seq + static_cast<uint32_t>(length), connection.clientForwardedSeq);
    NoteClientSegment(connection, tcp);
    ApplyClientClosing(connection, flags, seq, tcp.Acknowledgement(), length);

    const bool replaying = connection.replay.active;
    if (replaying && (flags & kAck) != 0) {
        OnReplayAck(connection, tcp, frame.source, frame.adapter);
    }
    if ((flags & kRst) != 0) {
        // The server must learn that the client is gone (it holds the mailbox locked until then).
        Abandon(connection);
        TranslateClientSegment(connection, frame);
        return;
    }

    if (connection.collecting != 0) {
        if (connection.errorSent != 0) {
            // The error reply is done once the client has acknowledged it or moved on.
            if (!connection.replay.active || newData) {
                StopReplay(connection);
                connection.collecting = 0;
                connection.errorSent = 0;
                TranslateClientSegment(connection, frame);
                MaybeStartCollecting(connection, tcp, newData);
                return;
            }
            frame.dropMark = true;
            return;
        }
        if (connection.deleteSent == 0) {
            // A resent "RETR" the server has not acknowledged (the first copy was lost beyond us). New
            // commands wait until the reply has been dealt with.
            const bool unacknowledged =
                length > 0 && !newData &&
                SeqAfter(seq + static_cast<uint32_t>(length) + connection.clientToServerOffset,
                         connection.serverAck);
            // A window that opens again after the engine told the server it was closed.
            const bool windowReopened =
                length == 0 && (flags & kFin) == 0 && connection.lastWindowToServer == 0 && tcp.Window() != 0;
            if (unacknowledged || windowReopened) {
                TranslateClientSegment(connection, frame);
                return;
            }
        }
        frame.dropMark = true;
        return;
    }

    if (replaying && connection.collecting == 0) {
        if (length == 0) {
            // Acknowledgements of replayed data are the engine's business; the server had them already.
            if ((flags & kFin) == 0 &&
                !SeqAfter(ClientAckToServer(connection, tcp.Acknowledgement()), connection.serverAckEdge)) {
                frame.dropMark = true;
                return;
            }
            TranslateClientSegment(connection, frame);
            return;
        }
        // The same retrieval again while its reply is still being delivered (or sent again later).
        if (StartsWithRetr(tcp.Payload()) && (connection.replay.active || !newData) &&
            RetrArgumentOf(tcp.Payload()) == std::string_view(connection.retrArgument.data())) {
            Log("Duplicate RETR!\n");
            frame.dropMark = true;
            return;
        }
        if (connection.replay.active) {
            // Another command while the reply is still on its way: it passes, and cannot start a
            // retrieval of its own until the replay is over.
            TranslateClientSegment(connection, frame);
            return;
        }
    }

    TranslateClientSegment(connection, frame);
    MaybeStartCollecting(connection, tcp, newData);
}

void Pop3Interceptor::MaybeStartCollecting(Pop3Connection& connection, const TcpFrame& tcp, bool newData) {
    std::string_view argument;
    if (!newData || connection.replay.active || connection.collecting != 0 || settings_.filterEnabled == 0 ||
        !ParseRetrLine(tcp.Payload(), argument) || keys_.IsPauseKeyHeld()) {
        return;
    }
    connection.collecting = 1;
    connection.deleteSent = 0;
    connection.errorSent = 0;
    connection.expectedSeq = connection.serverHighestSeq;
    connection.replyStartSeq = connection.expectedSeq;
    connection.retrArgument.fill('\0');
    std::memcpy(connection.retrArgument.data(), argument.data(), argument.size());
    FreeHeld(connection);
}

// ---- server side -------------------------------------------------------------------------------

void Pop3Interceptor::OnServerSynAck(FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    TcpFrame tcp(bytes, frame.layout);
    const uint32_t clientAddress = DestinationAddress(bytes, frame.layout);
    const uint32_t serverAddress = SourceAddress(bytes, frame.layout);
    const uint16_t clientPort = tcp.DestinationPort();
    const uint32_t isn = tcp.Sequence();
    Pop3Connection* connection = table_.Find(clientAddress, clientPort, serverAddress);
    if (connection != nullptr) {
        if (connection->serverIsn == isn && connection->closedAtMinute == 0) {
            return;  // the same handshake, sent again
        }
        if (settings_.filterEnabled == 0) {
            table_.Free(connection);  // the old connection's numbers must not touch the new one
            return;
        }
        // A new connection on a reused port: nothing of the old one may carry over.
        *connection = Pop3Connection{};
        connection->clientPort = clientPort;
        connection->serverPort = kPop3Port;
        connection->clientAddress = clientAddress;
        connection->serverAddress = serverAddress;
        table_.Rekey(connection);
        Track(connection);
    } else {
        if (settings_.filterEnabled == 0) {
            return;
        }
        connection = Track(table_.Create(clientAddress, clientPort, serverAddress));
        if (connection == nullptr) {
            return;  // table full: this connection passes untracked
        }
    }
    std::span<const uint8_t> header{tcp.tcp(), frame.layout.transportHeaderLength};
    connection->serverIsn = isn;
    connection->serverHighestSeq = isn + 1;
    connection->serverAckEdge = isn + 1;
    connection->engineAckEdge = isn + 1;
    connection->clientHighestSeq = tcp.Acknowledgement();
    connection->clientForwardedSeq = tcp.Acknowledgement();
    connection->serverAck = tcp.Acknowledgement();
    connection->clientAck = isn + 1;
    uint32_t tsVal = 0;
    uint32_t tsEcr = 0;
    connection->timestamps = ReadTimestamps(bytes, frame.layout, tsVal, tsEcr);
    connection->serverTsVal = tsVal;
    connection->clientTsVal = tsEcr;
    const uint8_t synScale = synWindowScale_[clientPort];
    connection->clientWindowScale = FindWindowScale(header) >= 0 && synScale > 0 ? synScale - 1 : 0;
}

void Pop3Interceptor::NoteServerSegment(Pop3Connection& connection, const TcpFrame& tcp) {
    const uint32_t seq = tcp.Sequence();
    const auto length = static_cast<uint32_t>(tcp.PayloadLength());
    const uint8_t flags = tcp.Flags();
    if ((flags & kAck) != 0 && !SeqBefore(tcp.Acknowledgement(), connection.serverAck)) {
        connection.serverAck = tcp.Acknowledgement();
        connection.serverWindow = tcp.Window();  // only with the newest acknowledgement it counts from
    }
    connection.serverNextSeq = seq + length;
    connection.segmentSeq = seq;
    uint32_t tsVal = 0;
    uint32_t tsEcr = 0;
    if (connection.timestamps && ReadTcpTimestamps(tcp, tsVal, tsEcr)) {
        if (NewerTimestamp(tsVal, connection.serverTsVal)) {
            connection.serverTsVal = tsVal;
        }
    }
    const uint32_t end = seq + length + ((flags & kFin) != 0 ? 1 : 0);
    if (SeqAfter(end, connection.serverHighestSeq)) {
        connection.serverHighestSeq = end;
    }
}

void Pop3Interceptor::TranslateServerSegment(Pop3Connection& connection, FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    TcpFrame tcp(bytes, frame.layout);
    SegmentEditor edit(bytes, frame.layout);
    edit.SetSequence(tcp.Sequence() + connection.serverToClientOffset);
    if ((tcp.Flags() & kAck) != 0) {
        edit.SetAcknowledgement(ServerAckToClient(connection, tcp.Acknowledgement()));
    }
}

void Pop3Interceptor::TurnIntoAckToServer(Pop3Connection& connection, FrameContext& frame, uint32_t ack) {
    PacketBuffer& buffer = frame.buffer;
    FrameLayout& layout = frame.layout;
    SwapEnds(buffer, layout);
    ResizePayload(buffer, layout, 0);
    TcpFrame tcp(buffer.Bytes(), layout);
    tcp.SetSourcePort(connection.clientPort);
    tcp.SetDestinationPort(kPop3Port);
    tcp.SetFlags(kAck);
    tcp.SetSequence(connection.serverAck);
    tcp.SetAcknowledgement(ack);
    tcp.SetWindow(static_cast<uint16_t>(connection.clientWindow));
    std::span<uint8_t> header{tcp.tcp(), layout.transportHeaderLength};
    KeepOnlyTimestamp(header);
    const std::size_t timestamp = FindTimestamp(header);
    if (timestamp != kNoOption) {
        // The server drops segments whose TSval is older than the client's (PAWS).
        Store32(tcp.tcp() + timestamp, connection.clientTsVal);
        Store32(tcp.tcp() + timestamp + 4, connection.serverTsVal);
    }
    UpdateChecksums(buffer, layout);
    buffer.deviceFlags = PacketDirection::Outbound;
    connection.engineAckEdge = SeqMax(connection.engineAckEdge, ack);
    connection.serverAckEdge = SeqMax(connection.serverAckEdge, ack);
    connection.lastWindowToServer = static_cast<uint16_t>(connection.clientWindow);
}

void Pop3Interceptor::OnServerSegment(FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    TcpFrame tcp(bytes, frame.layout);
    const uint8_t flags = tcp.Flags();
    if ((flags & kSyn) != 0) {
        if ((flags & kAck) != 0) {
            OnServerSynAck(frame);
        }
        return;
    }
    Pop3Connection* found = table_.Find(DestinationAddress(bytes, frame.layout), tcp.DestinationPort(),
                                        SourceAddress(bytes, frame.layout));
    if (found == nullptr) {
        return;
    }
    Pop3Connection& connection = *found;
    connection.serverSeenSinceCheck = true;
    const uint32_t seq = tcp.Sequence();
    const std::size_t length = tcp.PayloadLength();
    NoteServerSegment(connection, tcp);
    if (connection.injected.pending && (flags & kAck) != 0 &&
        !SeqBefore(tcp.Acknowledgement(), connection.injected.endSeq)) {
        connection.injected.pending = false;
    }
    ApplyServerClosing(connection, flags, seq, tcp.Acknowledgement(), length);

    if ((flags & kRst) != 0) {
        Abandon(connection);
        TranslateServerSegment(connection, frame);
        return;
    }
    if (connection.collecting == 0) {
        // Data the engine acknowledged, sent again because that acknowledgement was lost.
        if (connection.translating != 0 && length > 0 &&
            !SeqAfter(seq + static_cast<uint32_t>(length), connection.serverAckEdge) &&
            !SeqAfter(seq + static_cast<uint32_t>(length), connection.engineAckEdge)) {
            TurnIntoAckToServer(connection, frame, connection.serverAckEdge);
            return;
        }
        TranslateServerSegment(connection, frame);
        return;
    }
    if (connection.deleteSent != 0) {
        OnInjectedCommandAnswer(connection, frame);
        return;
    }
    if (connection.errorSent != 0) {
        OnServerSegmentAfterErrorReply(connection, frame);
        return;
    }
    CollectReplySegment(connection, frame);
}

// ---- closing -------------------------------------------------------------------------------------

void Pop3Interceptor::StampClosed(Pop3Connection& connection) {
    if (connection.closedAtMinute == 0) {
        connection.closedAtMinute = clock_.Now().minute + 1;
    }
}

void Pop3Interceptor::ApplyClientClosing(Pop3Connection& connection, uint8_t flags, uint32_t seq,
                                         uint32_t ack, std::size_t length) {
    if ((flags & kRst) != 0) {
        StampClosed(connection);
        return;
    }
    if ((flags & kFin) != 0 && connection.clientFinState == 0) {
        connection.clientFinState = 1;
        connection.clientFinSeq = seq + static_cast<uint32_t>(length);
    }
    // The server's FIN is acknowledged once the client's acknowledgement covers it (in the client's view).
    if ((flags & kAck) != 0 && connection.serverFinState == 1 &&
        !SeqBefore(ack, connection.serverFinSeq + connection.serverToClientOffset + 1)) {
        connection.serverFinState = 2;
        if (connection.clientFinState == 2) {
            StampClosed(connection);
        }
    }
}

void Pop3Interceptor::ApplyServerClosing(Pop3Connection& connection, uint8_t flags, uint32_t seq,
                                         uint32_t ack, std::size_t length) {
    if ((flags & kRst) != 0) {
        StampClosed(connection);
        return;
    }
    if ((flags & kFin) != 0) {
        if (connection.serverFinState == 0) {
            connection.serverFinState = 1;
            connection.serverFinSeq = seq + static_cast<uint32_t>(length);
        } else if (connection.clientFinState == 1) {
            StampClosed(connection);
        }
    }
    if ((flags & kAck) != 0 && connection.clientFinState == 1 &&
        !SeqBefore(ack, connection.clientFinSeq + connection.clientToServerOffset + 1)) {
        connection.clientFinState = 2;
        if (connection.serverFinState == 2) {
            StampClosed(connection);
        }
    }
}

// ---- housekeeping --------------------------------------------------------------------------------

void Pop3Interceptor::SweepClosedConnections() {
    table_.SweepClosed(clock_.Now().minute);
}

void Pop3Interceptor::OnIdle(PacketSource& source, AdapterHandle adapter) {
    const uint64_t now = ticks_.NowMilliseconds();
    for (std::size_t i = 0; i < ConnectionTable::kSlots; ++i) {
        Pop3Connection* connection = table_.Slot(i);
        if (connection == nullptr) {
            continue;
        }
        if (IsStale(*connection, now)) {
            // Its end went unseen: a FIN to a peer that vanished is never acknowledged, and a server
            // gone mid-reply would keep the reply held for good.
            Abandon(*connection);
            StampClosed(*connection);
            continue;
        }
        OnReplayTimer(*connection, now, source, adapter);
        OnInjectedTimer(*connection, now, source, adapter);
    }
    if (pool_.FreeBlocks() > 0 && now - lastHoldTick_ > limits_.keepBlocksMs) {
        pool_.Release();
    }
}

Pop3Interceptor::MemoryUse Pop3Interceptor::Memory() const {
    MemoryUse use;
    use.pooledBlocks = pool_.FreeBlocks();
    for (std::size_t i = 0; i < ConnectionTable::kSlots; ++i) {
        if (const Pop3Connection* connection = table_.Slot(i)) {
            ++use.connections;
            use.heldBlocks += connection->store.BlockCount();
            use.heldBytes += connection->heldBytes;
        }
    }
    return use;
}

void Pop3Interceptor::FreeAll() {
    table_.FreeAll();
}

bool Pop3Interceptor::IsStale(Pop3Connection& connection, uint64_t now) const {
    if (connection.clientSeenSinceCheck) {
        connection.clientSeenSinceCheck = false;
        connection.clientSeenTick = now;
    }
    if (connection.serverSeenSinceCheck) {
        connection.serverSeenSinceCheck = false;
        connection.serverSeenTick = now;
    }
    const uint64_t quietSince = std::min(connection.clientSeenTick, connection.serverSeenTick);
    return connection.closedAtMinute == 0 && now - quietSince > limits_.staleAfterMs;
}

void Pop3Interceptor::Abandon(Pop3Connection& connection) {
    StopReplay(connection);
    FreeHeld(connection);
    connection.collecting = connection.deleteSent = connection.errorSent = 0;
    connection.injected.pending = false;
}

void Pop3Interceptor::FreeHeld(Pop3Connection& connection) {
    connection.heldSegments.clear();
    connection.store.Clear();
    connection.heldBytes = 0;
    connection.heldTailLength = 0;
    connection.replyIsMultiLine = false;
    connection.statusLineEnded = false;
}

}  // namespace bramvell
