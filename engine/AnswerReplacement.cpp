// The server's answer to the command sent in the client's name never reaches the client: its first
// line is replaced by the error reply, which the engine then delivers like a replay.
#include <algorithm>
#include <cstring>
#include <string>

#include "config/PrintableText.h"
#include "engine/FrameEditor.h"
#include "engine/Pop3Interceptor.h"
#include "engine/StreamTranslation.h"

namespace bramvell {

using namespace tcp_flags;

void Pop3Interceptor::OnInjectedCommandAnswer(Pop3Connection& connection, FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    TcpFrame tcp(bytes, frame.layout);
    const uint32_t seq = tcp.Sequence();
    const auto length = static_cast<uint32_t>(tcp.PayloadLength());
    if (length == 0) {
        frame.dropMark = true;
        return;
    }
    if (!SeqAfter(seq + length, connection.answer.answerSeq)) {
        AcknowledgeToServer(connection, frame, connection.answer.answerSeq);  // message data sent again
        return;
    }
    if (SeqAfter(seq, connection.answer.answerSeq) || !ChecksumsValid(bytes, frame.layout)) {
        frame.dropMark = true;  // the answer's start is missing; the server sends it again
        return;
    }
    if (SeqBefore(seq, connection.answer.answerSeq)) {
        FrameEditor(frame.buffer, frame.layout).TrimPayloadFront(connection.answer.answerSeq - seq);
    }
    ReplaceAnswerWithErrorReply(connection, frame);
}

// The answer's first line is replaced by the error reply; whatever followed that line in the segment
// stays behind it. When both do not fit one frame the rest is left unacknowledged and the server sends
// it again.
void Pop3Interceptor::ReplaceAnswerWithErrorReply(Pop3Connection& connection, FrameContext& frame) {
    const TcpFrame answer(frame.buffer.Bytes(), frame.layout);
    const std::span<const uint8_t> payload = answer.Payload();
    const void* lf = std::memchr(payload.data(), '\n', payload.size());
    const std::size_t answerLength =
        lf ? static_cast<std::size_t>(static_cast<const uint8_t*>(lf) - payload.data()) + 1 : payload.size();
    connection.answer.lineOpen = lf == nullptr;
    connection.answer.cursor = connection.answer.answerSeq + static_cast<uint32_t>(answerLength);
    if (!connection.answer.lineOpen) {
        connection.replies.SetCursor(connection.answer.cursor);
    }
    if (!payload.empty() && payload[0] == '-' && connection.deletedForClient) {
        Log("The server did not delete the message: " +
            PrintableText({reinterpret_cast<const char*>(payload.data()), std::min<std::size_t>(answerLength, 200)}) +
            "\n");
    }

    const std::string& reply = connection.spamAnswer;
    std::size_t rest = payload.size() - answerLength;
    uint8_t flags = kPsh | kAck | (answer.Flags() & kFin);
    if (reply.size() + rest > OwnFrames::PayloadCapacity(frame.layout)) {
        rest = 0;
        flags &= static_cast<uint8_t>(~kFin);  // the server sends its FIN again after the rest
    }
    connection.server.toPeerOffset =
        connection.answer.errorClientSeq + static_cast<uint32_t>(reply.size()) - connection.answer.cursor;
    ToClientFields fields;
    fields.seq = connection.answer.errorClientSeq;
    fields.ack = ServerAckToClient(connection, answer.Acknowledgement());
    fields.flags = flags;
    const PacketBuffer& out = ownFrames_.ToClient(
        frame.buffer.Bytes(), frame.layout, fields,
        {reinterpret_cast<const uint8_t*>(reply.data()), reply.size()}, payload.subspan(answerLength, rest));

    // Keep a copy: if it is lost on the way, the client gets it again.
    connection.held.Clear();
    connection.held.HoldCopy(out.Bytes(), ownFrames_.layout(), connection.answer.errorClientSeq);
    replay_.Begin(connection, Pop3Phase::DeliveringErrorReply, 1, 0);
    frame.source.SendPacketToMstcp(frame.adapter, out);
    frame.dropMark = true;
}

void Pop3Interceptor::OnServerSegmentAfterErrorReply(Pop3Connection& connection, FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    TcpFrame tcp(bytes, frame.layout);
    const uint32_t seq = tcp.Sequence();
    const auto length = static_cast<uint32_t>(tcp.PayloadLength());
    if (length == 0) {
        if ((tcp.Flags() & kFin) != 0) {
            TranslateServerSegment(connection, frame);
        } else {
            frame.dropMark = true;
        }
        return;
    }
    const uint32_t end = seq + length;
    if (!SeqAfter(end, connection.answer.cursor)) {
        // Sent again: the client may have missed the error reply (its acknowledgement would have
        // reached the server).
        if (!SeqBefore(seq, connection.answer.answerSeq) &&
            connection.phase() == Pop3Phase::DeliveringErrorReply && !connection.held.Empty()) {
            replay_.SendHeld(connection, connection.held.Segments().front(), frame.source, frame.adapter);
            connection.replay.lastSendTick = ticks_.NowMilliseconds();
        }
        if (!SeqAfter(end, connection.answer.answerSeq)) {
            AcknowledgeToServer(connection, frame, connection.answer.answerSeq);
        } else {
            frame.dropMark = true;
        }
        return;
    }
    if (SeqAfter(seq, connection.answer.cursor)) {
        // Beyond a gap: past the answer it keeps its place in the client's stream; inside it, wait.
        if (connection.answer.lineOpen) {
            frame.dropMark = true;
        } else {
            TranslateServerSegment(connection, frame);
        }
        return;
    }
    if (!ChecksumsValid(bytes, frame.layout)) {
        frame.dropMark = true;
        return;
    }
    if (SeqBefore(seq, connection.answer.cursor)) {
        FrameEditor(frame.buffer, frame.layout).TrimPayloadFront(connection.answer.cursor - seq);
    }
    if (connection.answer.lineOpen) {
        // The rest of the answer's line, which the error reply replaced as a whole.
        const uint8_t* payload = frame.buffer.frame.data() + frame.layout.payloadOffset;
        const std::size_t available = frame.layout.payloadLength;
        const void* lf = std::memchr(payload, '\n', available);
        const std::size_t consumed =
            lf ? static_cast<std::size_t>(static_cast<const uint8_t*>(lf) - payload) + 1 : available;
        connection.answer.cursor += static_cast<uint32_t>(consumed);
        connection.server.toPeerOffset -= static_cast<uint32_t>(consumed);
        connection.answer.lineOpen = lf == nullptr;
        if (!connection.answer.lineOpen) {
            connection.replies.SetCursor(connection.answer.cursor);
            if (connection.phase() == Pop3Phase::ErrorReplyDelivered) {
                connection.EnterPhase(Pop3Phase::Passing);
            }
        }
        if (consumed == available) {
            AcknowledgeToServer(connection, frame, connection.answer.cursor);
            return;
        }
        FrameEditor(frame.buffer, frame.layout).TrimPayloadFront(consumed);
    }
    TranslateServerSegment(connection, frame);
}

}  // namespace bramvell
