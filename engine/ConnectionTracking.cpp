// Which connections the engine tracks, from their handshake to their end, and what it gives back when
// a connection ends or goes quiet.
#include <algorithm>

#include "config/ActivityLog.h"
#include "config/FilterSettings.h"
#include "engine/Pop3Interceptor.h"
#include "engine/StreamTranslation.h"

namespace bramvell {

using namespace tcp_flags;

namespace {

constexpr std::size_t kPortCount = 65536;

}  // namespace

Pop3Interceptor::Pop3Interceptor(FilterSettings& settings, MessageAnalyzer& analyzer, KeyState& keys,
                                 MessageTarget& target, const Clock& clock, const TickClock& ticks)
    : settings_(settings),
      analyzer_(analyzer),
      keys_(keys),
      target_(target),
      clock_(clock),
      ticks_(ticks),
      pool_(limits_.keptBlocks),
      synOptions_(kPortCount, 0) {}

Pop3Connection* Pop3Interceptor::Track(Pop3Connection* connection) {
    if (connection != nullptr) {
        connection->held.SetPool(&pool_);
        connection->outOfOrder.SetPool(&pool_);
    }
    return connection;
}

void Pop3Interceptor::Log(std::string_view text) const {
    LogActivity(settings_, text, clock_);
}

void Pop3Interceptor::OnClientSyn(FrameContext& frame) {
    TcpFrame tcp(frame.buffer.Bytes(), frame.layout);
    const int scale = FindWindowScale(tcp.TcpHeaderBytes());
    const bool sack = HasSackPermitted(tcp.TcpHeaderBytes());
    // SACK stays on offer: the engine writes the blocks of what it keeps while it takes a reply, and
    // moves the ends' own blocks across its numbering (or blanks them where they would lie).
    const auto shiftPlusOne = static_cast<uint8_t>(scale < 0 ? 0 : scale + 1);
    synOptions_[tcp.SourcePort()] = static_cast<uint8_t>(shiftPlusOne | (sack ? kSynOfferedSack : 0));
}

void Pop3Interceptor::OnServerSynAck(FrameContext& frame) {
    TcpFrame tcp(frame.buffer.Bytes(), frame.layout);
    const IpAddress clientAddress = tcp.DestinationAddress();
    const IpAddress serverAddress = tcp.SourceAddress();
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
    connection->serverIsn = isn;
    connection->serverModel.assign(frame.buffer.frame.data(),
                                   frame.buffer.frame.data() + frame.layout.payloadOffset);
    connection->serverModelLayout = frame.layout;
    connection->serverModelLayout.payloadLength = 0;
    // The greeting is not awaited: a client waits for it before its first command anyway.
    connection->replies.Reset(isn + 1);
    connection->server.highestSeq = isn + 1;
    connection->serverAckEdge = isn + 1;
    connection->engineAckEdge = isn + 1;
    connection->client.highestSeq = tcp.Acknowledgement();
    connection->clientForwardedSeq = tcp.Acknowledgement();
    connection->server.ack = tcp.Acknowledgement();
    connection->client.ack = isn + 1;
    TcpTimestamps timestamps;
    connection->timestamps = ReadTimestamps(tcp.TcpHeaderBytes(), timestamps);
    connection->server.tsVal = timestamps.tsVal;
    connection->client.tsVal = timestamps.tsEcr;
    const uint8_t synOffer = synOptions_[clientPort];
    const uint8_t synScale = synOffer & kSynWindowScaleMask;
    connection->clientWindowScale =
        FindWindowScale(tcp.TcpHeaderBytes()) >= 0 && synScale > 0 ? synScale - 1 : 0;
    connection->sack = (synOffer & kSynOfferedSack) != 0 && HasSackPermitted(tcp.TcpHeaderBytes());
}

void Pop3Interceptor::StampClosed(Pop3Connection& connection) {
    if (connection.closedAtMinute == 0) {
        connection.closedAtMinute = clock_.Now().minute + 1;
    }
}

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
        if (replay_.OnTimer(*connection, now, source, adapter)) {
            StampClosed(*connection);
        }
        OnInjectedTimer(*connection, now, source, adapter);
        OnCommandTimers(*connection, now, source, adapter);
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
            use.heldBlocks += connection->held.BlockCount();
            use.heldBytes += connection->held.PayloadBytes();
        }
    }
    return use;
}

void Pop3Interceptor::FreeAll() {
    table_.FreeAll();
}

bool Pop3Interceptor::IsStale(Pop3Connection& connection, uint64_t now) const {
    for (TcpSide* side : {&connection.client, &connection.server}) {
        if (side->seenSinceCheck) {
            side->seenSinceCheck = false;
            side->seenTick = now;
        }
    }
    const uint64_t quietSince = std::min(connection.client.seenTick, connection.server.seenTick);
    return connection.closedAtMinute == 0 && now - quietSince > limits_.staleAfterMs;
}

void Pop3Interceptor::Abandon(Pop3Connection& connection) {
    if (connection.Holding()) {
        HandHeldReplyToScanner(connection);  // the rest of the reply is still to come
    }
    connection.commands.Clear();
    replay_.Stop(connection);
    connection.held.Clear();
    connection.outOfOrder.Clear();
    connection.EnterPhase(Pop3Phase::Passing);
    connection.injected.pending = false;
}

}  // namespace bramvell

namespace bramvell {

void Pop3Interceptor::BeginStopping() {
    stopping_ = true;
    stopDeadline_ = ticks_.NowMilliseconds() + limits_.stopGraceMs;
}

bool Pop3Interceptor::Unfinished(const Pop3Connection& connection) {
    if (connection.closedAtMinute != 0) {
        return false;
    }
    switch (connection.phase()) {
        case Pop3Phase::Passing:
            return false;
        case Pop3Phase::Collecting:
            // Nothing acknowledged in the client's name yet: the server still has it all to send.
            return connection.expectedSeq != connection.replyStartSeq;
        case Pop3Phase::ErrorReplyDelivered:
            return connection.answer.lineOpen;
        default:
            return true;
    }
}

bool Pop3Interceptor::Finishing() {
    if (ticks_.NowMilliseconds() >= stopDeadline_) {
        return false;
    }
    for (std::size_t i = 0; i < ConnectionTable::kSlots; ++i) {
        const Pop3Connection* connection = table_.Slot(i);
        if (connection != nullptr && Unfinished(*connection)) {
            return true;
        }
    }
    return false;
}

void Pop3Interceptor::ResetUnfinished(PacketSource& source, AdapterHandle adapter) {
    for (std::size_t i = 0; i < ConnectionTable::kSlots; ++i) {
        Pop3Connection* connection = table_.Slot(i);
        if (connection == nullptr || connection->closedAtMinute != 0 || connection->serverModel.empty()) {
            continue;
        }
        // Without the engine, numbers that were moved no longer fit either side's view.
        const bool moved = connection->client.toPeerOffset != 0 || connection->server.toPeerOffset != 0;
        if (Unfinished(*connection) || moved || connection->phase() != Pop3Phase::Passing) {
            Log("Filtering stops in the middle of a retrieval: its connection is reset so that the mail "
                "client "
                "can fetch the message again\n");
            ResetBothEnds(*connection, source, adapter);
        }
    }
}

void Pop3Interceptor::ResetBothEnds(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter) {
    const std::span<const uint8_t> model = connection.serverModel;
    const FrameLayout& layout = connection.serverModelLayout;
    // The client takes a reset only at the byte it expects next: what it acknowledged, or past what the
    // replay has sent it.
    std::vector<uint32_t> clientExpects = {connection.client.ack};
    if (connection.Replaying() && connection.replay.nextToSend > 0 &&
        connection.replay.nextToSend <= connection.held.Count()) {
        const HeldSegment& last = connection.held.Segments()[connection.replay.nextToSend - 1];
        clientExpects.push_back(last.clientSeq + last.payloadLength);
    }
    for (const uint32_t seq : clientExpects) {
        ToClientFields fields;
        fields.seq = seq;
        fields.ack = connection.client.highestSeq;
        fields.flags = kRst | kAck;
        fields.window = 0;
        if (connection.timestamps) {
            fields.timestamps = TcpTimestamps{connection.server.tsVal, connection.client.tsVal};
        }
        source.SendPacketToMstcp(adapter, ownFrames_.ToClient(model, layout, fields));
    }
    const uint32_t seq = connection.clientForwardedSeq + connection.client.toPeerOffset;
    source.SendPacketToAdapter(
        adapter, ownFrames_.CommandToServer(model, layout, true, connection, seq, connection.serverAckEdge,
                                            kRst | kAck, {}));
    Abandon(connection);
    StampClosed(connection);
}

}  // namespace bramvell
