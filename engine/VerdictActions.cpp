// What happens to a collected message once it has been analysed: replay for good mail; for spam a
// deletion on the server in the client's name, an optional quarantine copy, and an error line for the
// client in place of the server's answer.
#include <algorithm>
#include <cstring>
#include <string>

#include "config/FilterSettings.h"
#include "engine/ErrorReply.h"
#include "engine/MessageTarget.h"
#include "engine/Pop3Interceptor.h"
#include "engine/QuarantineFile.h"
#include "engine/SegmentEditor.h"

namespace bramvell {

using namespace tcp_flags;

void Pop3Interceptor::OnMessageClassified(Pop3Connection& connection, const AnalysisVerdict& verdict,
                                          FrameContext& frame) {
    const std::size_t senderLength = std::min(verdict.sender.size(), kSenderCapacity - 1);
    connection.sender.fill('\0');
    std::memcpy(connection.sender.data(), verdict.sender.data(), senderLength);
    connection.probabilityText = verdict.probabilityText;
    if (settings_.mainWindow != nullptr) {
        settings_.mainWindow->Post(WM_MAIL_CLASSIFIED, verdict.isSpam ? 1 : 0);
    }

    if (!verdict.isSpam) {
        connection.collecting = 0;
        StartReplay(connection, frame.source, frame.adapter);
        frame.dropMark = true;  // the acknowledgement has gone already
        return;
    }

    bool deleteOnServer = true;
    if (settings_.quarantineEnabled != 0) {
        QuarantineFile file;
        const bool created = file.Create(settings_.QuarantineFolder(), clock_.Now());
        Log("Saving message to Quarantine folder: " + file.path() + "\n");
        if (!created || !file.Write(connection.heldSegments)) {
            // No copy, no deletion: the user asked to keep what is filtered.
            Log("The quarantine copy could not be written; the message was left on the server\n");
            deleteOnServer = false;
        }
    }
    connection.answerSeq = connection.expectedSeq;
    connection.answerCursor = connection.answerSeq;
    connection.errorClientSeq = connection.replyStartSeq + connection.serverToClientOffset;
    FreeHeld(connection);
    std::string command = "NOOP\r\n";
    if (deleteOnServer) {
        command = "DELE ";
        command += connection.retrArgument.data();
        command += "\r\n";
    }
    SendInjectedCommand(connection, frame, command);
}

// The buffer holds the acknowledgement just sent to the server; it becomes the command, with the same
// numbers, and leaves through the packet loop's forward step.
void Pop3Interceptor::SendInjectedCommand(Pop3Connection& connection, FrameContext& frame,
                                          std::string_view command) {
    PacketBuffer& buffer = frame.buffer;
    FrameLayout& layout = frame.layout;
    ResizePayload(buffer, layout, command.size());
    std::memcpy(buffer.frame.data() + layout.payloadOffset, command.data(), command.size());
    TcpFrame tcp(buffer.Bytes(), layout);
    tcp.SetFlags(kPsh | kAck);
    tcp.SetWindow(static_cast<uint16_t>(connection.clientWindow));
    UpdateChecksums(buffer, layout);
    connection.deleteSent = 1;

    InjectedCommand& injected = connection.injected;
    injected.frame.assign(buffer.Bytes().begin(), buffer.Bytes().end());
    injected.endSeq = tcp.Sequence() + static_cast<uint32_t>(command.size());
    injected.lastSendTick = ticks_.NowMilliseconds();
    injected.timeoutMs = limits_.initialTimeoutMs;
    injected.timeouts = 0;
    injected.pending = true;
    // From now on the server's view of the client's stream holds these extra bytes.
    connection.clientToServerOffset += static_cast<uint32_t>(command.size());
}

void Pop3Interceptor::OnInjectedTimer(Pop3Connection& connection, uint64_t now, PacketSource& source,
                                      AdapterHandle adapter) {
    InjectedCommand& injected = connection.injected;
    if (!injected.pending || connection.closedAtMinute != 0 ||
        now - injected.lastSendTick < injected.timeoutMs) {
        return;
    }
    if (++injected.timeouts > limits_.maxTimeouts) {
        injected.pending = false;
        return;
    }
    sendBuffer_.length = static_cast<uint32_t>(injected.frame.size());
    sendBuffer_.deviceFlags = PacketDirection::Outbound;
    std::memcpy(sendBuffer_.frame.data(), injected.frame.data(), injected.frame.size());
    source.SendPacketToAdapter(adapter, sendBuffer_);
    injected.lastSendTick = now;
    injected.timeoutMs = std::min(injected.timeoutMs * 2, limits_.maxTimeoutMs);
}

void Pop3Interceptor::OnInjectedCommandAnswer(Pop3Connection& connection, FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    TcpFrame tcp(bytes, frame.layout);
    const uint32_t seq = tcp.Sequence();
    const auto length = static_cast<uint32_t>(tcp.PayloadLength());
    if (length == 0) {
        frame.dropMark = true;
        return;
    }
    if (!SeqAfter(seq + length, connection.answerSeq)) {
        TurnIntoAckToServer(connection, frame, connection.answerSeq);  // message data sent again
        return;
    }
    if (SeqAfter(seq, connection.answerSeq) || !ChecksumsValid(bytes, frame.layout)) {
        frame.dropMark = true;  // the answer's start is missing; the server sends it again
        return;
    }
    if (SeqBefore(seq, connection.answerSeq)) {
        TrimPayloadFront(frame.buffer, frame.layout, connection.answerSeq - seq);
    }
    ReplaceAnswerWithErrorReply(connection, frame);
}

// The answer's first line is replaced by the error reply; whatever followed that line in the segment
// stays behind it. When both do not fit one frame the rest is left unacknowledged and the server sends
// it again.
void Pop3Interceptor::ReplaceAnswerWithErrorReply(Pop3Connection& connection, FrameContext& frame) {
    PacketBuffer& buffer = frame.buffer;
    FrameLayout& layout = frame.layout;
    uint8_t* payload = buffer.frame.data() + layout.payloadOffset;
    const std::size_t length = layout.payloadLength;
    const void* lf = std::memchr(payload, '\n', length);
    const std::size_t answerLength =
        lf ? static_cast<std::size_t>(static_cast<const uint8_t*>(lf) - payload) + 1 : length;
    connection.answerLineOpen = lf == nullptr;
    connection.answerCursor = connection.answerSeq + static_cast<uint32_t>(answerLength);

    const std::string reply = BuildErrorReply(connection);
    std::size_t rest = length - answerLength;
    TcpFrame original(buffer.Bytes(), layout);
    uint8_t flags = kPsh | kAck | (original.Flags() & kFin);
    if (reply.size() + rest > PayloadCapacity(layout)) {
        rest = 0;
        flags &= static_cast<uint8_t>(~kFin);  // the server sends its FIN again after the rest
    }
    std::memmove(payload + reply.size(), payload + answerLength, rest);
    std::memcpy(payload, reply.data(), reply.size());
    ResizePayload(buffer, layout, reply.size() + rest);
    connection.serverToClientOffset =
        connection.errorClientSeq + static_cast<uint32_t>(reply.size()) - connection.answerCursor;

    TcpFrame tcp(buffer.Bytes(), layout);
    tcp.SetSequence(connection.errorClientSeq);
    tcp.SetAcknowledgement(ServerAckToClient(connection, tcp.Acknowledgement()));
    tcp.SetFlags(flags);
    UpdateChecksums(buffer, layout);
    connection.deleteSent = 0;
    connection.errorSent = 1;

    // Keep a copy: if it is lost on the way, the client gets it again.
    FreeHeld(connection);
    HeldSegment held;
    held.frame = connection.store.Copy(buffer.Bytes());
    held.length = buffer.length;
    held.payloadLength = static_cast<uint32_t>(layout.payloadLength);
    held.layout = layout;
    held.clientSeq = connection.errorClientSeq;
    connection.heldSegments.push_back(held);
    ReplayState& replay = connection.replay;
    replay = ReplayState{};
    replay.active = true;
    replay.nextToSend = 1;
    replay.endSeq = held.clientSeq + held.payloadLength;
    replay.lastAck = connection.clientAck;
    replay.lastSendTick = ticks_.NowMilliseconds();
    replay.timeoutMs = limits_.initialTimeoutMs;
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
    if (!SeqAfter(end, connection.answerCursor)) {
        // Sent again: the client may have missed the error reply (its acknowledgement would have
        // reached the server).
        if (!SeqBefore(seq, connection.answerSeq) && connection.replay.active &&
            !connection.heldSegments.empty()) {
            SendHeldToClient(connection, connection.heldSegments.front(), frame.source, frame.adapter);
            connection.replay.lastSendTick = ticks_.NowMilliseconds();
        }
        if (!SeqAfter(end, connection.answerSeq)) {
            TurnIntoAckToServer(connection, frame, connection.answerSeq);
        } else {
            frame.dropMark = true;
        }
        return;
    }
    if (SeqAfter(seq, connection.answerCursor)) {
        // Beyond a gap: past the answer it keeps its place in the client's stream; inside it, wait.
        if (connection.answerLineOpen) {
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
    if (SeqBefore(seq, connection.answerCursor)) {
        TrimPayloadFront(frame.buffer, frame.layout, connection.answerCursor - seq);
    }
    if (connection.answerLineOpen) {
        // The rest of the answer's line, which the error reply replaced as a whole.
        const uint8_t* payload = frame.buffer.frame.data() + frame.layout.payloadOffset;
        const std::size_t available = frame.layout.payloadLength;
        const void* lf = std::memchr(payload, '\n', available);
        const std::size_t consumed =
            lf ? static_cast<std::size_t>(static_cast<const uint8_t*>(lf) - payload) + 1 : available;
        connection.answerCursor += static_cast<uint32_t>(consumed);
        connection.serverToClientOffset -= static_cast<uint32_t>(consumed);
        connection.answerLineOpen = lf == nullptr;
        if (consumed == available) {
            TurnIntoAckToServer(connection, frame, connection.answerCursor);
            return;
        }
        TrimPayloadFront(frame.buffer, frame.layout, consumed);
    }
    TranslateServerSegment(connection, frame);
}

}  // namespace bramvell
