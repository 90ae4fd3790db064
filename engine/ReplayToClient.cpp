// Delivery to the client of what only the engine can send: the server has long had its
// acknowledgements, so the engine paces these frames by the client's window and sends again what the
// client does not acknowledge.
#include <algorithm>
#include <cstring>

#include "engine/FrameEditor.h"
#include "engine/Pop3Interceptor.h"
#include "engine/StreamTranslation.h"

namespace bramvell {

using namespace tcp_flags;

namespace {

constexpr int kDuplicateAcksForResend = 3;

uint32_t EndOf(const HeldSegment& held) {
    return held.clientSeq + held.payloadLength;
}

}  // namespace

void Pop3Interceptor::BeginReplay(Pop3Connection& connection, Pop3Phase phase, std::size_t alreadySent,
                                  uint16_t windowSeen) {
    ReplayState& replay = connection.replay;
    replay = ReplayState{};
    replay.nextToSend = alreadySent;
    replay.lastAck = connection.client.ack;
    replay.lastWindow = windowSeen;
    replay.lastSendTick = ticks_.NowMilliseconds();
    replay.timeoutMs = limits_.initialTimeoutMs;
    connection.EnterPhase(phase);
}

void Pop3Interceptor::StartReplay(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter) {
    auto& held = connection.held.Segments();
    if (held.empty()) {
        return;
    }
    for (HeldSegment& segment : held) {
        segment.clientSeq = segment.serverSeq + connection.server.toPeerOffset;
    }
    BeginReplay(connection, Pop3Phase::Replaying, 0, static_cast<uint16_t>(connection.client.window));
    connection.replayedPending = static_cast<int32_t>(held.size());
    SendReplayWindow(connection, source, adapter);
}

void Pop3Interceptor::SendHeldToClient(Pop3Connection& connection, const HeldSegment& held,
                                       PacketSource& source, AdapterHandle adapter) {
    // The held copy is edited in place and sent from where it lies: a resend edits the same fields
    // again, and the incremental checksum follows whatever the frame holds.
    {
        FrameEditor edit(held.Bytes(), held.layout);
        edit.SetSequence(held.clientSeq);
        edit.SetAcknowledgement(ServerAckToClient(connection, connection.server.ack));
        edit.SetWindow(static_cast<uint16_t>(connection.server.window));
        if (connection.timestamps) {
            edit.SetTimestamps(connection.server.tsVal, connection.client.tsVal);
        }
    }
    source.SendFrameToMstcp(adapter, held.Bytes());
}

void Pop3Interceptor::SendReplayWindow(Pop3Connection& connection, PacketSource& source,
                                       AdapterHandle adapter) {
    ReplayState& replay = connection.replay;
    const auto& held = connection.held.Segments();
    const uint32_t window = ClientWindowBytes(connection);
    const uint32_t windowEnd = replay.lastAck + window;
    bool sent = false;
    while (replay.nextToSend < held.size()) {
        const uint32_t end = EndOf(held[replay.nextToSend]);
        const bool nothingInFlight = replay.nextToSend == replay.firstUnacked;
        if (SeqAfter(end, windowEnd)) {
            break;
        }
        if (!nothingInFlight && end - replay.lastAck > limits_.maxReplayInFlight) {
            break;
        }
        SendHeldToClient(connection, held[replay.nextToSend], source, adapter);
        ++replay.nextToSend;
        sent = true;
    }
    if (sent) {
        replay.lastSendTick = ticks_.NowMilliseconds();
    }
}

void Pop3Interceptor::OnReplayAck(Pop3Connection& connection, const TcpFrame& tcp, PacketSource& source,
                                  AdapterHandle adapter) {
    ReplayState& replay = connection.replay;
    const auto& held = connection.held.Segments();
    const uint32_t ack = tcp.Acknowledgement();
    const uint16_t window = tcp.Window();
    if (SeqAfter(ack, replay.lastAck)) {
        replay.lastAck = ack;
        bool progress = false;
        while (replay.firstUnacked < held.size() && !SeqAfter(EndOf(held[replay.firstUnacked]), ack)) {
            ++replay.firstUnacked;
            progress = true;
        }
        if (progress) {
            replay.timeouts = 0;
            replay.timeoutMs = limits_.initialTimeoutMs;
            replay.lastSendTick = ticks_.NowMilliseconds();
        }
        replay.duplicateAcks = 0;
        replay.nextToSend = std::max(replay.nextToSend, replay.firstUnacked);
    } else if (ack == replay.lastAck && tcp.PayloadLength() == 0 && window == replay.lastWindow &&
               replay.nextToSend > replay.firstUnacked) {
        // The client saw later segments but not this one: send it again without waiting for the timer.
        if (++replay.duplicateAcks == kDuplicateAcksForResend) {
            SendHeldToClient(connection, held[replay.firstUnacked], source, adapter);
            replay.lastSendTick = ticks_.NowMilliseconds();
        }
    }
    replay.lastWindow = window;
    connection.replayedPending = static_cast<int32_t>(held.size() - replay.firstUnacked);
    if (replay.firstUnacked >= held.size()) {
        StopReplay(connection);
        return;
    }
    SendReplayWindow(connection, source, adapter);
}

void Pop3Interceptor::OnReplayTimer(Pop3Connection& connection, uint64_t now, PacketSource& source,
                                    AdapterHandle adapter) {
    ReplayState& replay = connection.replay;
    if (!connection.Replaying() || now - replay.lastSendTick < replay.timeoutMs ||
        replay.firstUnacked >= connection.held.Segments().size()) {
        return;
    }
    if (++replay.timeouts > limits_.maxTimeouts) {
        // The client is gone; its connection will not recover.
        StopReplay(connection);
        StampClosed(connection);
        return;
    }
    replay.timeoutMs = std::min(replay.timeoutMs * 2, limits_.maxTimeoutMs);
    replay.duplicateAcks = 0;
    if (replay.nextToSend > replay.firstUnacked) {
        // Start again from the first unacknowledged segment, one at a time until the client answers.
        replay.nextToSend = replay.firstUnacked + 1;
        SendHeldToClient(connection, connection.held.Segments()[replay.firstUnacked], source, adapter);
    } else {
        SendWindowProbe(connection, source, adapter);
    }
    replay.lastSendTick = now;
}

// Nothing in flight and the window too small: an empty segment just below the acknowledged edge makes
// the client repeat its acknowledgement with the window it has now (its window update may have been lost).
void Pop3Interceptor::SendWindowProbe(Pop3Connection& connection, PacketSource& source,
                                      AdapterHandle adapter) {
    const HeldSegment& held = connection.held.Segments()[connection.replay.firstUnacked];
    ToClientFields fields;
    fields.seq = connection.replay.lastAck - 1;
    fields.ack = ServerAckToClient(connection, connection.server.ack);
    fields.flags = kAck;
    fields.window = static_cast<uint16_t>(connection.server.window);
    if (connection.timestamps) {
        fields.timestamps = TcpTimestamps{connection.server.tsVal, connection.client.tsVal};
    }
    source.SendPacketToMstcp(adapter, ownFrames_.ToClient(held.Bytes(), held.layout, fields));
}

void Pop3Interceptor::StopReplay(Pop3Connection& connection) {
    if (!connection.Replaying()) {
        return;
    }
    connection.EnterPhase(connection.phase() == Pop3Phase::Replaying ? Pop3Phase::Passing
                                                                     : Pop3Phase::ErrorReplyDelivered);
    connection.replay = ReplayState{};
    connection.replayedPending = 0;
    connection.held.Clear();
}

}  // namespace bramvell
