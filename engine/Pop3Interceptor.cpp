// The entry points of POP3 interception: each frame finds its connection, is noted on its side, and is
// handled by the function for the connection's phase.
#include "engine/Pop3Interceptor.h"

#include <cstring>

#include "config/FilterSettings.h"
#include "engine/StreamTranslation.h"

namespace bramvell {

using namespace tcp_flags;

namespace {

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

SegmentNumbers ReadNumbers(const Pop3Connection& connection, const TcpFrame& tcp) {
    SegmentNumbers numbers;
    numbers.flags = tcp.Flags();
    numbers.seq = tcp.Sequence();
    numbers.ack = tcp.Acknowledgement();
    numbers.window = tcp.Window();
    numbers.length = static_cast<uint32_t>(tcp.PayloadLength());
    TcpTimestamps timestamps;
    numbers.hasTsVal = connection.timestamps && ReadTimestamps(tcp.TcpHeaderBytes(), timestamps);
    numbers.tsVal = timestamps.tsVal;
    return numbers;
}

}  // namespace

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
    Pop3Connection* found = table_.Find(tcp.SourceAddress(), tcp.SourcePort(), tcp.DestinationAddress());
    if (found == nullptr) {
        return;
    }
    Pop3Connection& connection = *found;
    connection.client.seenSinceCheck = true;
    const SegmentNumbers numbers = ReadNumbers(connection, tcp);
    if (numbers.length == 0 && (flags & (kFin | kRst)) == 0 && (flags & kAck) != 0 &&
        SeqBefore(numbers.ack, connection.client.ack)) {
        // A bare acknowledgement overtaken by a later one tells nothing new, and passed on (raised to
        // what the server holds acknowledged) its window would widen the server's view.
        frame.dropMark = true;
        return;
    }
    // Bytes never passed on to the server (a copy the engine held back, or one lost before it came by,
    // does not count as passed on).
    const bool newData =
        numbers.length > 0 && SeqAfter(numbers.seq + numbers.length, connection.clientForwardedSeq);
    connection.client.Note(numbers);
    if (connection.client.ApplyClosing(connection.server, numbers, false)) {
        StampClosed(connection);
    }

    const bool wasReplaying = connection.phase() == Pop3Phase::Replaying;
    if (connection.Replaying() && (flags & kAck) != 0) {
        replay_.OnAck(connection, tcp, frame.source, frame.adapter);
    }
    if ((flags & kRst) != 0) {
        // The server must learn that the client is gone (it holds the mailbox locked until then).
        Abandon(connection);
        TranslateClientSegment(connection, frame);
        return;
    }
    switch (connection.phase()) {
        case Pop3Phase::Collecting:
            ClientWhileCollecting(connection, frame, newData);
            return;
        case Pop3Phase::AwaitingAnswer:
            frame.dropMark = true;
            return;
        case Pop3Phase::DeliveringErrorReply:
        case Pop3Phase::ErrorReplyDelivered:
            ClientAfterErrorReply(connection, frame, newData);
            return;
        case Pop3Phase::Replaying:
        case Pop3Phase::Passing:
            if (wasReplaying && ClientAfterReplay(connection, frame, newData)) {
                return;
            }
            ClientWhilePassing(connection, frame, newData);
            return;
    }
}

void Pop3Interceptor::ClientWhilePassing(Pop3Connection& connection, FrameContext& frame, bool newData) {
    TranslateClientSegment(connection, frame);
    MaybeStartCollecting(connection, TcpFrame(frame.buffer.Bytes(), frame.layout), newData);
}

void Pop3Interceptor::ClientWhileCollecting(Pop3Connection& connection, FrameContext& frame, bool newData) {
    TcpFrame tcp(frame.buffer.Bytes(), frame.layout);
    const auto length = static_cast<uint32_t>(tcp.PayloadLength());
    // A resent "RETR" the server has not acknowledged (the first copy was lost beyond us). New commands
    // wait until the reply has been dealt with.
    const bool unacknowledged =
        length > 0 && !newData &&
        SeqAfter(tcp.Sequence() + length + connection.client.toPeerOffset, connection.server.ack);
    // A window that opens again after the engine told the server it was closed.
    const bool windowReopened =
        length == 0 && (tcp.Flags() & kFin) == 0 && connection.lastWindowToServer == 0 && tcp.Window() != 0;
    if (unacknowledged || windowReopened) {
        TranslateClientSegment(connection, frame);
        return;
    }
    frame.dropMark = true;
}

// The error reply is done once the client has acknowledged it or moved on.
void Pop3Interceptor::ClientAfterErrorReply(Pop3Connection& connection, FrameContext& frame, bool newData) {
    if (connection.phase() == Pop3Phase::DeliveringErrorReply && !newData) {
        frame.dropMark = true;
        return;
    }
    replay_.Stop(connection);
    connection.EnterPhase(Pop3Phase::Passing);
    ClientWhilePassing(connection, frame, newData);
}

bool Pop3Interceptor::ClientAfterReplay(Pop3Connection& connection, FrameContext& frame, bool newData) {
    TcpFrame tcp(frame.buffer.Bytes(), frame.layout);
    const bool replaying = connection.phase() == Pop3Phase::Replaying;
    if (tcp.PayloadLength() == 0) {
        // Acknowledgements of replayed data are the engine's business; the server had them already.
        if ((tcp.Flags() & kFin) == 0 &&
            !SeqAfter(ClientAckToServer(connection, tcp.Acknowledgement()), connection.serverAckEdge)) {
            frame.dropMark = true;
            return true;
        }
        TranslateClientSegment(connection, frame);
        return true;
    }
    // The same retrieval again while its reply is still being delivered (or sent again later).
    if (StartsWithRetr(tcp.Payload()) && (replaying || !newData) &&
        RetrArgumentOf(tcp.Payload()) == std::string_view(connection.retrArgument.data())) {
        Log("Duplicate RETR!\n");
        frame.dropMark = true;
        return true;
    }
    if (replaying) {
        // Another command while the reply is still on its way: it passes, and cannot start a retrieval
        // of its own until the replay is over.
        TranslateClientSegment(connection, frame);
        return true;
    }
    return false;
}

void Pop3Interceptor::MaybeStartCollecting(Pop3Connection& connection, const TcpFrame& tcp, bool newData) {
    std::string_view argument;
    if (!newData || connection.phase() != Pop3Phase::Passing || settings_.filterEnabled == 0 ||
        !ParseRetrLine(tcp.Payload(), argument) || keys_.IsPauseKeyHeld()) {
        return;
    }
    connection.EnterPhase(Pop3Phase::Collecting);
    connection.expectedSeq = connection.server.highestSeq;
    connection.replyStartSeq = connection.expectedSeq;
    connection.retrArgument.fill('\0');
    std::memcpy(connection.retrArgument.data(), argument.data(), argument.size());
    connection.held.Clear();
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
    Pop3Connection* found = table_.Find(tcp.DestinationAddress(), tcp.DestinationPort(), tcp.SourceAddress());
    if (found == nullptr) {
        return;
    }
    Pop3Connection& connection = *found;
    connection.server.seenSinceCheck = true;
    const SegmentNumbers numbers = ReadNumbers(connection, tcp);
    connection.server.Note(numbers);
    if (connection.injected.pending && (flags & kAck) != 0 &&
        !SeqBefore(numbers.ack, connection.injected.endSeq)) {
        connection.injected.pending = false;
    }
    if (connection.server.ApplyClosing(connection.client, numbers, true)) {
        StampClosed(connection);
    }
    if ((flags & kRst) != 0) {
        Abandon(connection);
        TranslateServerSegment(connection, frame);
        return;
    }
    switch (connection.phase()) {
        case Pop3Phase::Passing:
        case Pop3Phase::Replaying:
            ServerWhilePassing(connection, frame);
            return;
        case Pop3Phase::Collecting:
            CollectReplySegment(connection, frame);
            return;
        case Pop3Phase::AwaitingAnswer:
            OnInjectedCommandAnswer(connection, frame);
            return;
        case Pop3Phase::DeliveringErrorReply:
        case Pop3Phase::ErrorReplyDelivered:
            OnServerSegmentAfterErrorReply(connection, frame);
            return;
    }
}

void Pop3Interceptor::ServerWhilePassing(Pop3Connection& connection, FrameContext& frame) {
    TcpFrame tcp(frame.buffer.Bytes(), frame.layout);
    const uint32_t end = tcp.Sequence() + static_cast<uint32_t>(tcp.PayloadLength());
    // Data the engine acknowledged, sent again because that acknowledgement was lost.
    if (connection.engineAcknowledged && tcp.PayloadLength() > 0 &&
        !SeqAfter(end, connection.serverAckEdge) && !SeqAfter(end, connection.engineAckEdge)) {
        AcknowledgeToServer(connection, frame, connection.serverAckEdge);
        return;
    }
    TranslateServerSegment(connection, frame);
}

}  // namespace bramvell
