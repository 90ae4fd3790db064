#include <algorithm>
#include <cstring>

#include "engine/FrameEditor.h"
#include "engine/ReplayToClient.h"
#include "engine/StreamTranslation.h"

namespace bramvell {

using namespace tcp_flags;

namespace {

constexpr int kDuplicateAcksForResend = 3;
// Segments of a streamed reply the client has acknowledged before their memory is given back.
constexpr std::size_t kDeliveredBeforeRelease = 64;

uint32_t EndOf(const HeldSegment& held) {
    return held.clientSeq + held.payloadLength;
}

}  // namespace

void ReplayToClient::Begin(Pop3Connection& connection, Pop3Phase phase, std::size_t alreadySent,
                           uint16_t windowSeen) {
    ReplayState& replay = connection.replay;
    replay = ReplayState{};
    replay.nextToSend = alreadySent;
    replay.lastAck = connection.client.ack;
    replay.lastWindow = windowSeen;
    replay.lastSendTick = ticks_.NowMilliseconds();
    replay.timeoutMs = connection.clientRoundTrip.TimeoutMs(limits_.initialTimeoutMs);
    connection.EnterPhase(phase);
}

void ReplayToClient::Start(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter,
                           Pop3Phase phase) {
    auto& held = connection.held.Segments();
    if (held.empty()) {
        return;
    }
    for (HeldSegment& segment : held) {
        segment.clientSeq = segment.serverSeq + connection.server.toPeerOffset;
    }
    Begin(connection, phase, 0, static_cast<uint16_t>(connection.client.window));
    connection.replayedPending = static_cast<int32_t>(held.size());
    SendWindow(connection, source, adapter);
}

void ReplayToClient::SendHeld(const Pop3Connection& connection, const HeldSegment& held, PacketSource& source,
                              AdapterHandle adapter) {
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

void ReplayToClient::SendWindow(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter) {
    ReplayState& replay = connection.replay;
    const auto& held = connection.held.Segments();
    const uint32_t window = ClientWindowBytes(connection);
    const uint32_t windowEnd = replay.lastAck + window;
    bool sent = false;
    const std::size_t sendable = std::min(held.size(), connection.streamSendable);
    while (replay.nextToSend < sendable) {
        const uint32_t end = EndOf(held[replay.nextToSend]);
        const bool nothingInFlight = replay.nextToSend == replay.firstUnacked;
        if (SeqAfter(end, windowEnd)) {
            break;
        }
        if (!nothingInFlight && end - replay.lastAck > limits_.maxReplayInFlight) {
            break;
        }
        SendHeld(connection, held[replay.nextToSend], source, adapter);
        connection.clientRoundTrip.OnSend(end, ticks_.NowMilliseconds());
        ++replay.nextToSend;
        sent = true;
    }
    if (sent) {
        replay.lastSendTick = ticks_.NowMilliseconds();
    }
}

void ReplayToClient::OnAck(Pop3Connection& connection, const TcpFrame& tcp, PacketSource& source,
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
        connection.clientRoundTrip.OnAck(ack, ticks_.NowMilliseconds());
        if (progress) {
            replay.timeouts = 0;
            replay.timeoutMs = connection.clientRoundTrip.TimeoutMs(limits_.initialTimeoutMs);
            replay.lastSendTick = ticks_.NowMilliseconds();
        }
        replay.duplicateAcks = 0;
        replay.nextToSend = std::max(replay.nextToSend, replay.firstUnacked);
    } else if (ack == replay.lastAck && tcp.PayloadLength() == 0 && window == replay.lastWindow &&
               replay.nextToSend > replay.firstUnacked) {
        // The client saw later segments but not this one: send it again without waiting for the timer.
        if (++replay.duplicateAcks == kDuplicateAcksForResend) {
            connection.clientRoundTrip.OnResend();
            SendHeld(connection, held[replay.firstUnacked], source, adapter);
            replay.lastSendTick = ticks_.NowMilliseconds();
        }
    }
    replay.lastWindow = window;
    if (connection.phase() == Pop3Phase::Streaming && replay.firstUnacked >= kDeliveredBeforeRelease) {
        // Memory of a streamed reply is bounded by what the client has not acknowledged yet. The last
        // segment stays: its headers make the window updates to the server.
        const std::size_t release = std::min(replay.firstUnacked, held.size() - 1);
        connection.held.DropFront(release);
        replay.firstUnacked -= release;
        replay.nextToSend -= release;
        connection.streamSendable -= std::min(connection.streamSendable, release);
        connection.streamRenameFrom -= std::min(connection.streamRenameFrom, release);
    }
    connection.replayedPending = static_cast<int32_t>(held.size() - replay.firstUnacked);
    if (replay.firstUnacked >= held.size()) {
        if (connection.phase() != Pop3Phase::Streaming) {
            Stop(connection);
        }
        return;
    }
    SendWindow(connection, source, adapter);
}

bool ReplayToClient::OnTimer(Pop3Connection& connection, uint64_t now, PacketSource& source,
                             AdapterHandle adapter) {
    ReplayState& replay = connection.replay;
    if (!connection.Replaying() || now - replay.lastSendTick < replay.timeoutMs ||
        replay.firstUnacked >= connection.held.Segments().size()) {
        return false;
    }
    if (++replay.timeouts > limits_.maxTimeouts) {
        // The client is gone; its connection will not recover.
        Stop(connection);
        return true;
    }
    replay.timeoutMs = std::min(replay.timeoutMs * 2, limits_.maxTimeoutMs);
    replay.duplicateAcks = 0;
    connection.clientRoundTrip.OnResend();
    if (replay.nextToSend > replay.firstUnacked) {
        // Start again from the first unacknowledged segment, one at a time until the client answers.
        replay.nextToSend = replay.firstUnacked + 1;
        SendHeld(connection, connection.held.Segments()[replay.firstUnacked], source, adapter);
    } else {
        SendProbe(connection, source, adapter);
    }
    replay.lastSendTick = now;
    return false;
}

// Nothing in flight and the window too small: an empty segment just below the acknowledged edge makes
// the client repeat its acknowledgement with the window it has now (its window update may have been lost).
void ReplayToClient::SendProbe(const Pop3Connection& connection, PacketSource& source,
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
    source.SendPacketToMstcp(adapter, frames_.ToClient(held.Bytes(), held.layout, fields));
}

void ReplayToClient::Stop(Pop3Connection& connection) {
    if (!connection.Replaying()) {
        return;
    }
    connection.EnterPhase(connection.phase() == Pop3Phase::DeliveringErrorReply
                              ? Pop3Phase::ErrorReplyDelivered
                              : Pop3Phase::Passing);
    connection.replay = ReplayState{};
    connection.replayedPending = 0;
    connection.held.Clear();
}

}  // namespace bramvell
