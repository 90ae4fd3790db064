// Collecting the server's reply to a "RETR": every data segment is copied and acknowledged to the
// server in the client's name until the reply is complete.
#include <cstring>

#include "engine/AttachmentRenamer.h"
#include "engine/FrameEditor.h"
#include "engine/Pop3Interceptor.h"
#include "engine/StreamTranslation.h"

namespace bramvell {

using namespace tcp_flags;

void Pop3Interceptor::CollectReplySegment(Pop3Connection& connection, FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    TcpFrame tcp(bytes, frame.layout);
    const uint32_t seq = tcp.Sequence();
    const auto length = static_cast<uint32_t>(tcp.PayloadLength());

    if ((tcp.Flags() & kFin) != 0) {
        // The server ends the connection before the reply is complete: the client gets everything as sent.
        ReleaseHeld(connection, frame.source, frame.adapter);
        FollowPassingReply(connection, tcp);
        TranslateServerSegment(connection, frame);
        return;
    }
    if (length == 0) {
        if (connection.lastWindowToServer == 0 && connection.client.window != 0) {
            AcknowledgeToServer(connection, frame, connection.expectedSeq);
            return;
        }
        frame.dropMark = true;
        return;
    }
    // Already held (our acknowledgement was lost) or beyond a gap: tell the server what we have.
    if (!SeqAfter(seq + length, connection.expectedSeq) || SeqAfter(seq, connection.expectedSeq)) {
        AcknowledgeToServer(connection, frame, connection.expectedSeq);
        return;
    }
    // Once acknowledged in the client's name a damaged segment could never be repaired, so it is checked
    // (while it is copied, in the common case).
    bool verified = false;
    if (SeqBefore(seq, connection.expectedSeq)) {
        if (!ChecksumsValid(bytes, frame.layout)) {
            frame.dropMark = true;
            return;
        }
        FrameEditor(frame.buffer, frame.layout).TrimPayloadFront(connection.expectedSeq - seq);
        verified = true;
    }
    const std::size_t newBytes = frame.layout.payloadLength;
    if (connection.held.PayloadBytes() + newBytes > limits_.maxHeldBytes ||
        connection.held.Count() + 1 > limits_.maxHeldSegments) {
        Log("Message too large to check: passed to the mail client unfiltered\n");
        ReleaseHeld(connection, frame.source, frame.adapter);
        FollowPassingReply(connection, TcpFrame(frame.buffer.Bytes(), frame.layout));
        TranslateServerSegment(connection, frame);
        return;
    }
    std::span<const uint8_t> current = frame.buffer.Bytes();
    uint8_t* copy = connection.held.Reserve(current.size());
    if (verified) {
        std::memcpy(copy, current.data(), current.size());
    } else if (!CopyVerifiedTcpFrame(copy, current, frame.layout)) {
        frame.dropMark = true;
        return;
    }
    lastHoldTick_ = ticks_.NowMilliseconds();
    connection.held.Hold(copy, current.size(), frame.layout,
                         TcpFrame(frame.buffer.Bytes(), frame.layout).Sequence());
    connection.expectedSeq += static_cast<uint32_t>(newBytes);
    connection.engineAcknowledged = true;
    AcknowledgeToServer(connection, frame, connection.expectedSeq);
    if (connection.held.Complete()) {
        FinishCollecting(connection, frame);
    }
}

void Pop3Interceptor::AcknowledgeToServer(Pop3Connection& connection, FrameContext& frame, uint32_t ack) {
    frame.source.SendPacketToAdapter(
        frame.adapter, ownFrames_.ToServer(frame.buffer.Bytes(), frame.layout, connection, ack, kAck));
    frame.dropMark = true;
    connection.engineAckEdge = SeqMax(connection.engineAckEdge, ack);
    connection.serverAckEdge = SeqMax(connection.serverAckEdge, ack);
    connection.lastWindowToServer = static_cast<uint16_t>(connection.client.window);
}

void Pop3Interceptor::FinishCollecting(Pop3Connection& connection, FrameContext& frame) {
    // The server has heard already that everything arrived; the analysis may take a while.
    if (!connection.held.IsMultiLine()) {
        ReleaseHeld(connection, frame.source, frame.adapter);
        return;
    }
    connection.replies.SetCursor(connection.expectedSeq);
    MessageLineReader reader(connection.held.Segments());
    AttachmentRenamer renamer(reader, settings_, clock_);
    const MessageVerdict verdict = analyzer_.Analyze(reader, renamer);
    OnMessageClassified(connection, verdict, frame);
}

void Pop3Interceptor::ReleaseHeld(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter) {
    HandHeldReplyToScanner(connection);  // the rest of the reply passes, and its end must be found
    connection.EnterPhase(Pop3Phase::Passing);
    replay_.Start(connection, source, adapter);
}

}  // namespace bramvell
