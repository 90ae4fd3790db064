// The entry points of POP3 interception: each frame finds its connection, is noted on its side, and is
// handled by the function for the connection's phase.
#include "engine/Pop3Interceptor.h"

#include <cstring>

#include "config/FilterSettings.h"
#include "engine/FrameEditor.h"
#include "engine/StreamTranslation.h"

namespace bramvell {

using namespace tcp_flags;

namespace {

constexpr std::size_t kRetrArgumentOffset = 5;

bool StartsWithRetr(std::span<const uint8_t> payload) {
    return payload.size() >= 4 && std::memcmp(payload.data(), "RETR", 4) == 0;
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
        OfferWindowToServer(connection, frame.source, frame.adapter);
    }
    if (connection.phase() == Pop3Phase::Quitting) {
        frame.dropMark = true;  // the client is leaving; its end goes on once "QUIT" is answered
        return;
    }
    if ((flags & kRst) != 0) {
        OnClientReset(connection, frame);
        return;
    }
    if (connection.phase() == Pop3Phase::ErrorReplyDelivered && !connection.answer.lineOpen) {
        connection.EnterPhase(Pop3Phase::Passing);  // the error reply is done and its answer cut
    }
    const bool oneCommand = newData && TakeClientData(connection, frame);
    if ((flags & kFin) != 0 &&
        (!connection.commands.Empty() || connection.heldEnd != 0 || NeedsQuit(connection))) {
        // The end comes after the queued commands (and the "QUIT" a deletion needs).
        connection.heldEnd = kFin;
        FrameEditor(frame.buffer, frame.layout).SetFlags(static_cast<uint8_t>(flags & ~kFin));
    }
    switch (connection.phase()) {
        case Pop3Phase::Collecting:
            ClientWhileCollecting(connection, frame);
            break;
        case Pop3Phase::Streaming:
            if ((flags & kFin) != 0) {
                // The client gives up on the message: the server hears of it, and nothing more is held.
                Abandon(connection);
                TranslateClientSegment(connection, frame);
                break;
            }
            frame.dropMark = true;  // its acknowledgements are the replay's; the server has had the engine's
            break;
        case Pop3Phase::AwaitingAnswer:
        case Pop3Phase::Quitting:
            frame.dropMark = true;
            break;
        case Pop3Phase::DeliveringErrorReply:
        case Pop3Phase::ErrorReplyDelivered:
            ClientAfterErrorReply(connection, frame);
            break;
        case Pop3Phase::Replaying:
        case Pop3Phase::Passing:
            if (oneCommand) {
                const TcpFrame line(frame.buffer.Bytes(), frame.layout);
                const CommandLine command = ParseCommandLine(line.Payload());
                if (!connection.opaque &&
                    AnswerDeletedAgain(connection, frame.buffer.Bytes(), frame.layout, false, frame.source,
                                       frame.adapter, line.PayloadLength(), command)) {
                    frame.dropMark = true;
                    return;
                }
                TranslateClientSegment(connection, frame);
                OnCommandForwarded(connection, command);
                return;
            }
            if (!wasReplaying || !ClientAfterReplay(connection, frame)) {
                TranslateClientSegment(connection, frame);
            }
            break;
    }
    ReleaseQueuedCommand(connection, frame, false);
}

void Pop3Interceptor::ClientWhileCollecting(Pop3Connection& connection, FrameContext& frame) {
    TcpFrame tcp(frame.buffer.Bytes(), frame.layout);
    const auto length = static_cast<uint32_t>(tcp.PayloadLength());
    // A resent "RETR" the server has not acknowledged (the first copy was lost beyond us). New commands
    // wait until the reply has been dealt with.
    const bool unacknowledged =
        length > 0 &&
        SeqAfter(tcp.Sequence() + length + connection.client.toPeerOffset, connection.server.ack);
    // A window that opens again after the engine told the server it was closed.
    const bool windowReopened =
        length == 0 && (tcp.Flags() & kFin) == 0 && connection.lastWindowToServer == 0 && tcp.Window() != 0;
    if (unacknowledged || windowReopened) {
        TranslateClientSegment(connection, frame);
        return;
    }
    if ((tcp.Flags() & kFin) != 0) {
        // The client gives up waiting: its end goes to the server, which need send no more.
        Abandon(connection);
        TranslateClientSegment(connection, frame);
        return;
    }
    frame.dropMark = true;
}

// The error reply is done once the client has acknowledged it; the connection passes again once the
// answer it replaced has been cut to its end.
void Pop3Interceptor::ClientAfterErrorReply(Pop3Connection& connection, FrameContext& frame) {
    if (connection.phase() == Pop3Phase::DeliveringErrorReply) {
        frame.dropMark = true;
        return;
    }
    if (!connection.answer.lineOpen) {
        connection.EnterPhase(Pop3Phase::Passing);
    }
    TranslateClientSegment(connection, frame);
}

bool Pop3Interceptor::ClientAfterReplay(Pop3Connection& connection, FrameContext& frame) {
    TcpFrame tcp(frame.buffer.Bytes(), frame.layout);
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
    // The retrieval sent again while its reply is still being delivered (or later).
    if (StartsWithRetr(tcp.Payload()) &&
        RetrArgumentOf(tcp.Payload()) == std::string_view(connection.retrArgument.data())) {
        Log("Duplicate RETR!\n");
        frame.dropMark = true;
        return true;
    }
    return false;
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
            break;
        case Pop3Phase::Collecting:
        case Pop3Phase::Streaming:
            CollectReplySegment(connection, frame);
            break;
        case Pop3Phase::AwaitingAnswer:
            OnInjectedCommandAnswer(connection, frame);
            break;
        case Pop3Phase::DeliveringErrorReply:
        case Pop3Phase::ErrorReplyDelivered:
            OnServerSegmentAfterErrorReply(connection, frame);
            break;
        case Pop3Phase::Quitting:
            ServerWhileQuitting(connection, frame);
            return;
    }
    ReleaseQueuedCommand(connection, frame, true);
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
    if (!FollowPassingReply(connection, tcp)) {
        frame.dropMark = true;
        return;
    }
    TranslateServerSegment(connection, frame);
}

}  // namespace bramvell
