// Collecting the server's reply to a "RETR": every data segment is copied and acknowledged to the
// server in the client's name until the reply is complete.
#include <algorithm>
#include <cstring>
#include <string>

#include "engine/Pop3Interceptor.h"
#include "engine/SegmentEditor.h"

namespace bramvell {

using namespace tcp_flags;

namespace {

constexpr std::array<uint8_t, 5> kEndOfMessage = {'\r', '\n', '.', '\r', '\n'};

}  // namespace

void Pop3Interceptor::CollectReplySegment(Pop3Connection& connection, FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    TcpFrame tcp(bytes, frame.layout);
    const uint32_t seq = tcp.Sequence();
    const auto length = static_cast<uint32_t>(tcp.PayloadLength());

    if ((tcp.Flags() & kFin) != 0) {
        // The server ends the connection before the reply is complete: the client gets everything as sent.
        ReleaseHeld(connection, frame.source, frame.adapter);
        TranslateServerSegment(connection, frame);
        return;
    }
    if (length == 0) {
        if (connection.lastWindowToServer == 0 && connection.clientWindow != 0) {
            TurnIntoAckToServer(connection, frame, connection.expectedSeq);
            return;
        }
        frame.dropMark = true;
        return;
    }
    // Already held (our acknowledgement was lost) or beyond a gap: tell the server what we have.
    if (!SeqAfter(seq + length, connection.expectedSeq) || SeqAfter(seq, connection.expectedSeq)) {
        TurnIntoAckToServer(connection, frame, connection.expectedSeq);
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
        TrimPayloadFront(frame.buffer, frame.layout, connection.expectedSeq - seq);
        verified = true;
    }
    const std::size_t newBytes = frame.layout.payloadLength;
    if (connection.heldBytes + newBytes > limits_.maxHeldBytes ||
        connection.heldSegments.size() + 1 > limits_.maxHeldSegments) {
        Log("Message too large to check: passed to the mail client unfiltered\n");
        ReleaseHeld(connection, frame.source, frame.adapter);
        TranslateServerSegment(connection, frame);
        return;
    }
    std::span<const uint8_t> current = frame.buffer.Bytes();
    uint8_t* copy = connection.store.Reserve(current.size());
    if (verified) {
        std::memcpy(copy, current.data(), current.size());
    } else if (!CopyVerifiedTcpFrame(copy, current, frame.layout)) {
        frame.dropMark = true;
        return;
    }
    connection.store.Commit(current.size());
    HoldSegment(connection, frame, copy);
    connection.expectedSeq += static_cast<uint32_t>(newBytes);
    connection.translating = 1;
    TurnIntoAckToServer(connection, frame, connection.expectedSeq);
    if (ReplyComplete(connection)) {
        FinishCollecting(connection, frame);
    }
}

void Pop3Interceptor::HoldSegment(Pop3Connection& connection, const FrameContext& frame, uint8_t* copy) {
    std::span<const uint8_t> bytes = frame.buffer.Bytes();
    lastHoldTick_ = ticks_.NowMilliseconds();
    HeldSegment held;
    held.frame = copy;
    held.length = static_cast<uint32_t>(bytes.size());
    held.payloadLength = static_cast<uint32_t>(frame.layout.payloadLength);
    held.layout = frame.layout;
    held.serverSeq = Load32(bytes.data() + frame.layout.transportOffset + 4);
    std::span<const uint8_t> payload = held.Payload();
    if (connection.heldSegments.empty()) {
        connection.replyIsMultiLine = payload[0] == '+';
    }
    if (!connection.statusLineEnded && std::memchr(payload.data(), '\n', payload.size()) != nullptr) {
        connection.statusLineEnded = true;
    }
    connection.heldSegments.push_back(held);
    connection.heldBytes += payload.size();

    // Keep the last five bytes of the reply for the end-of-message test.
    auto& tail = connection.heldTail;
    const std::size_t take = std::min(payload.size(), tail.size());
    const std::size_t keep = std::min(connection.heldTailLength, tail.size() - take);
    std::memmove(tail.data(), tail.data() + connection.heldTailLength - keep, keep);
    std::memcpy(tail.data() + keep, payload.data() + payload.size() - take, take);
    connection.heldTailLength = keep + take;
}

// A multi-line reply ends with CR LF "." CR LF, looked for in the reply as a whole, so that the end
// line may be split across segments and a segment that merely starts with "." or CR LF ends nothing.
// A reply whose status line is not positive is that line alone.
bool Pop3Interceptor::ReplyComplete(const Pop3Connection& connection) const {
    if (!connection.replyIsMultiLine) {
        return connection.statusLineEnded;
    }
    return connection.heldTailLength == kEndOfMessage.size() &&
           std::equal(kEndOfMessage.begin(), kEndOfMessage.end(), connection.heldTail.begin());
}

void Pop3Interceptor::FinishCollecting(Pop3Connection& connection, FrameContext& frame) {
    // The server hears at once that everything arrived; the analysis may take a while.
    frame.source.SendPacketToAdapter(frame.adapter, frame.buffer);
    if (!connection.replyIsMultiLine) {
        ReleaseHeld(connection, frame.source, frame.adapter);
        frame.dropMark = true;
        return;
    }
    MessageLineReader reader(connection.heldSegments);
    const AnalysisVerdict verdict = analyzer_.Analyze(reader);
    OnMessageClassified(connection, verdict, frame);
}

void Pop3Interceptor::ReleaseHeld(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter) {
    connection.collecting = 0;
    StartReplay(connection, source, adapter);
}

}  // namespace bramvell
