// Collecting the server's reply to a "RETR": every data segment is copied and acknowledged to the
// server in the client's name until the reply is complete.
#include <algorithm>
#include <array>
#include <cstring>

#include "config/FilterSettings.h"
#include "engine/AttachmentRenamer.h"
#include "engine/EarlyVerdict.h"
#include "engine/FrameEditor.h"
#include "engine/HoldingWindow.h"
#include "engine/Pop3Interceptor.h"
#include "engine/StreamTranslation.h"
#include "engine/VerdictEffects.h"

namespace bramvell {

using namespace tcp_flags;

void Pop3Interceptor::CollectReplySegment(Pop3Connection& connection, FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    TcpFrame tcp(bytes, frame.layout);
    const uint32_t seq = tcp.Sequence();
    const auto length = static_cast<uint32_t>(tcp.PayloadLength());

    if ((tcp.Flags() & kFin) != 0) {
        // The server ends the connection before the reply is complete: the client gets everything as sent.
        if (connection.phase() == Pop3Phase::Streaming) {
            HandHeldReplyToScanner(connection);
            connection.EnterPhase(Pop3Phase::Replaying);  // what is held still goes to the client
        } else {
            ReleaseHeld(connection, frame.source, frame.adapter);
        }
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
    if (SeqAfter(seq, connection.expectedSeq)) {
        // Beyond a gap: kept, and the acknowledgement of what is held repeated, so that the server
        // resends the missing segment at once (fast retransmit) and the run after it need not come again.
        connection.outOfOrder.Keep(bytes, frame.layout, seq, HoldingBudget());
        AcknowledgeToServer(connection, frame, connection.expectedSeq);
        return;
    }
    if (!SeqAfter(seq + length, connection.expectedSeq)) {
        AcknowledgeToServer(connection, frame, connection.expectedSeq);  // held already: our ACK was lost
        return;
    }
    if (!HoldInOrder(connection, frame)) {
        return;
    }
    // Segments kept from beyond the gap that now follow on, through the same buffer one at a time.
    while (connection.Holding() && !connection.held.Complete()) {
        const OutOfOrderSegments::Kept* next = connection.outOfOrder.Front();
        if (next == nullptr || SeqAfter(next->seq, connection.expectedSeq)) {
            break;
        }
        if (!SeqAfter(next->End(), connection.expectedSeq)) {
            connection.outOfOrder.PopFront();
            continue;
        }
        CopyIntoBuffer(frame.buffer, next->Bytes(), PacketDirection::Inbound);
        frame.layout = next->layout;
        connection.outOfOrder.PopFront();
        if (!HoldInOrder(connection, frame)) {
            return;
        }
    }
    AcknowledgeToServer(connection, frame, connection.expectedSeq);
    AfterHolding(connection, frame);
}

bool Pop3Interceptor::HoldInOrder(Pop3Connection& connection, FrameContext& frame) {
    std::span<uint8_t> bytes = frame.buffer.Bytes();
    const uint32_t seq = TcpFrame(bytes, frame.layout).Sequence();
    // Once acknowledged in the client's name a damaged segment could never be repaired, so it is checked
    // (while it is copied, in the common case).
    bool verified = false;
    if (SeqBefore(seq, connection.expectedSeq)) {
        if (!ChecksumsValid(bytes, frame.layout)) {
            frame.dropMark = true;
            return false;
        }
        FrameEditor(frame.buffer, frame.layout).TrimPayloadFront(connection.expectedSeq - seq);
        verified = true;
    }
    const std::size_t newBytes = frame.layout.payloadLength;
    if (connection.held.PayloadBytes() + newBytes > limits_.maxHeldBytes ||
        connection.held.Count() + 1 > limits_.maxHeldSegments) {
        if (connection.phase() == Pop3Phase::Streaming) {
            frame.dropMark = true;  // beyond what was offered: sent again once the client has caught up
            return false;
        }
        if (connection.judgedEarly) {
            TakeWithoutKeeping(connection, frame, verified);
            return false;
        }
        Log("Message too large to check: passed to the mail client unfiltered\n");
        ReleaseHeld(connection, frame.source, frame.adapter);
        FollowPassingReply(connection, TcpFrame(frame.buffer.Bytes(), frame.layout));
        TranslateServerSegment(connection, frame);
        return false;
    }
    std::span<const uint8_t> current = frame.buffer.Bytes();
    uint8_t* copy = connection.held.Reserve(current.size());
    if (verified) {
        std::memcpy(copy, current.data(), current.size());
    } else if (!CopyVerifiedTcpFrame(copy, current, frame.layout)) {
        frame.dropMark = true;
        return false;
    }
    lastHoldTick_ = ticks_.NowMilliseconds();
    const uint32_t heldSeq = TcpFrame(frame.buffer.Bytes(), frame.layout).Sequence();
    connection.held.Hold(copy, current.size(), frame.layout, heldSeq);
    connection.expectedSeq += static_cast<uint32_t>(newBytes);
    connection.engineAcknowledged = true;
    if (connection.phase() == Pop3Phase::Streaming) {
        connection.held.Segments().back().clientSeq = heldSeq + connection.server.toPeerOffset;
    }
    return true;
}

void Pop3Interceptor::AfterHolding(Pop3Connection& connection, FrameContext& frame) {
    if (connection.phase() == Pop3Phase::Streaming) {
        const bool complete = connection.held.Complete();
        RenameStreamedLines(connection, complete);
        if (complete) {
            connection.outOfOrder.Clear();
            connection.replies.SetCursor(connection.expectedSeq);
            connection.EnterPhase(Pop3Phase::Replaying);  // the whole reply is in; its replay goes on
        }
        replay_.SendMore(connection, frame.source, frame.adapter);
        return;
    }
    if (connection.held.Complete()) {
        FinishCollecting(connection, frame);
    } else if (!connection.judgedEarly && connection.held.IsMultiLine() &&
               DueForEarlyVerdict(connection.held.PayloadBytes(), settings_.earlyVerdictBytes)) {
        JudgeOnStart(connection, frame);
    }
}

void Pop3Interceptor::TakeWithoutKeeping(Pop3Connection& connection, FrameContext& frame, bool verified) {
    // Spam past the cap: its end is still awaited, but the copy will be incomplete (and is not kept).
    if (!verified && !ChecksumsValid(frame.buffer.Bytes(), frame.layout)) {
        frame.dropMark = true;
        return;
    }
    connection.replyCut = true;
    connection.held.NoteDiscarded(TcpFrame(frame.buffer.Bytes(), frame.layout).Payload());
    connection.expectedSeq += static_cast<uint32_t>(frame.layout.payloadLength);
    AcknowledgeToServer(connection, frame, connection.expectedSeq);
    if (connection.held.Complete()) {
        FinishCollecting(connection, frame);
    }
}

void Pop3Interceptor::JudgeOnStart(Pop3Connection& connection, FrameContext& frame) {
    LogEarlyVerdict(settings_, clock_, connection.held.PayloadBytes());
    MessageLineReader reader(connection.held.Segments());
    AttachmentRenamer renamer(reader, settings_, clock_);
    connection.verdict = analyzer_.Analyze(reader, renamer);
    connection.judgedEarly = true;
    if (connection.verdict.isSpam) {
        return;  // collected to its end for the quarantine copy, then acted on as any spam
    }
    ApplyVerdictEffects(settings_, target_, clock_, connection.verdict, connection.held.Segments(),
                        connection.retrArgument.data());
    RenameStreamedLines(connection, false);  // what may go at once: the lines the analysis read whole
    replay_.Start(connection, frame.source, frame.adapter, Pop3Phase::Streaming);
}

void Pop3Interceptor::RenameStreamedLines(Pop3Connection& connection, bool replyComplete) {
    std::vector<HeldSegment>& segments = connection.held.Segments();
    std::size_t& from = connection.streamRenameFrom;
    if (settings_.renameAttachments == 0) {
        connection.streamSendable = static_cast<std::size_t>(-1);
        from = segments.size();
        return;
    }
    // Complete lines end at the last LF held; a segment after it (or the one holding it, when bytes
    // follow the LF) waits for the rest of its line.
    std::size_t end = segments.size();
    std::size_t release = end;
    std::size_t lineEnds = 0;
    if (!replyComplete) {
        while (end > from && std::memchr(segments[end - 1].Payload().data(), '\n',
                                         segments[end - 1].payloadLength) == nullptr) {
            --end;
        }
        if (end == from) {
            return;  // no line has ended yet
        }
        const std::span<const uint8_t> last = segments[end - 1].Payload();
        release = !last.empty() && last.back() == '\n' ? end : end - 1;
        for (std::size_t i = from; i < end; ++i) {
            const std::span<const uint8_t> payload = segments[i].Payload();
            // The reader ends a line at its CR.
            lineEnds += static_cast<std::size_t>(std::count(payload.begin(), payload.end(), '\r'));
        }
    }
    MessageLineReader reader(std::span<HeldSegment>(segments).subspan(from, end - from));
    AttachmentRenamer renamer(reader, settings_, clock_);
    MessageLine line;
    // Renaming leaves a line as harmless as it found it, so a line read twice (one whose segment waited
    // for the rest of the next line) is not renamed twice.
    for (std::size_t read = 0; (replyComplete || read < lineEnds) && reader.NextLine(line); ++read) {
        renamer.Rename(line);
    }
    connection.streamSendable = replyComplete ? static_cast<std::size_t>(-1) : release;
    from = release;
}

std::size_t Pop3Interceptor::HoldingBudget() const {
    const uint32_t early = settings_.earlyVerdictBytes;
    return early == 0 ? limits_.maxHeldBytes : std::min<std::size_t>(early, limits_.maxHeldBytes);
}

void Pop3Interceptor::OfferWindowToServer(Pop3Connection& connection, PacketSource& source,
                                          AdapterHandle adapter) {
    if (connection.phase() != Pop3Phase::Streaming || connection.held.Empty()) {
        return;
    }
    const uint16_t window = HoldingWindowToServer(connection, HoldingBudget(), limits_.maxHeldBytes);
    const uint64_t offered = uint64_t{window} << connection.clientWindowScale;
    const uint64_t before = uint64_t{connection.lastWindowToServer} << connection.clientWindowScale;
    // As a receiver does: a window update once the window has opened by a good part of the budget.
    if (offered < before + HoldingBudget() / 4) {
        return;
    }
    const HeldSegment& model = connection.held.Segments().back();
    SendAcknowledgement(connection, model.Bytes(), model.layout, source, adapter, connection.expectedSeq);
}

void Pop3Interceptor::AcknowledgeToServer(Pop3Connection& connection, FrameContext& frame, uint32_t ack) {
    SendAcknowledgement(connection, frame.buffer.Bytes(), frame.layout, frame.source, frame.adapter, ack);
    frame.dropMark = true;
}

void Pop3Interceptor::SendAcknowledgement(Pop3Connection& connection, std::span<const uint8_t> serverSegment,
                                          const FrameLayout& layout, PacketSource& source,
                                          AdapterHandle adapter, uint32_t ack) {
    const uint16_t window = connection.Holding()
                                ? HoldingWindowToServer(connection, HoldingBudget(), limits_.maxHeldBytes)
                                : static_cast<uint16_t>(connection.client.window);
    // What is kept beyond a gap is told to the server, so it resends only what is missing.
    std::array<SackBlock, kMaxSackBlocks> blocks;
    std::size_t count = 0;
    if (connection.sack && connection.Holding() && ack == connection.expectedSeq) {
        count = connection.outOfOrder.SackBlocks(blocks, ack);
    }
    source.SendPacketToAdapter(adapter, ownFrames_.ToServer(serverSegment, layout, connection, ack, kAck,
                                                            window, {}, {blocks.data(), count}));
    connection.engineAckEdge = SeqMax(connection.engineAckEdge, ack);
    connection.serverAckEdge = SeqMax(connection.serverAckEdge, ack);
    connection.lastWindowToServer = window;
}

void Pop3Interceptor::FinishCollecting(Pop3Connection& connection, FrameContext& frame) {
    connection.outOfOrder.Clear();
    // The server has heard already that everything arrived; the analysis may take a while.
    if (!connection.held.IsMultiLine()) {
        ReleaseHeld(connection, frame.source, frame.adapter);
        return;
    }
    connection.replies.SetCursor(connection.expectedSeq);
    if (connection.judgedEarly) {
        OnMessageClassified(connection, connection.verdict, frame);  // spam judged on its start
        return;
    }
    MessageLineReader reader(connection.held.Segments());
    AttachmentRenamer renamer(reader, settings_, clock_);
    const MessageVerdict verdict = analyzer_.Analyze(reader, renamer);
    OnMessageClassified(connection, verdict, frame);
}

void Pop3Interceptor::ReleaseHeld(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter) {
    connection.outOfOrder.Clear();       // not acknowledged: the server sends them again
    HandHeldReplyToScanner(connection);  // the rest of the reply passes, and its end must be found
    connection.EnterPhase(Pop3Phase::Passing);
    replay_.Start(connection, source, adapter);
}

}  // namespace bramvell
