#include "engine/StreamTranslation.h"

#include <algorithm>

#include "engine/FrameEditor.h"

namespace bramvell {

using namespace tcp_flags;

namespace {

constexpr uint64_t kMaxWindowBytes = 1u << 30;

}  // namespace

uint32_t ClientAckToServer(const Pop3Connection& connection, uint32_t ack) {
    uint32_t mapped = ack - connection.server.toPeerOffset;
    if (SeqAfter(mapped, connection.server.highestSeq)) {
        mapped = connection.server.highestSeq;
    }
    return mapped;
}

uint32_t ServerAckToClient(const Pop3Connection& connection, uint32_t ack) {
    uint32_t mapped = ack - connection.client.toPeerOffset;
    if (SeqAfter(mapped, connection.client.highestSeq)) {
        mapped = connection.client.highestSeq;
    }
    return mapped;
}

uint32_t ClientWindowBytes(const Pop3Connection& connection) {
    const uint64_t bytes = uint64_t{connection.client.window} << connection.clientWindowScale;
    return static_cast<uint32_t>(std::min(bytes, kMaxWindowBytes));
}

void TranslateClientSegment(Pop3Connection& connection, FrameContext& frame) {
    TcpFrame tcp(frame.buffer.Bytes(), frame.layout);
    FrameEditor edit(frame.buffer, frame.layout);
    if (tcp.PayloadLength() > 0) {
        connection.clientForwardedSeq = SeqMax(connection.clientForwardedSeq,
                                               tcp.Sequence() + static_cast<uint32_t>(tcp.PayloadLength()));
    }
    edit.SetSequence(tcp.Sequence() + connection.client.toPeerOffset);
    if ((tcp.Flags() & kAck) != 0) {
        uint32_t ack = ClientAckToServer(connection, tcp.Acknowledgement());
        // A bare acknowledgement below what the server already holds acknowledged would be ignored
        // whole, window update included.
        if (tcp.PayloadLength() == 0 && SeqBefore(ack, connection.serverAckEdge)) {
            ack = connection.serverAckEdge;
        }
        edit.SetAcknowledgement(ack);
        connection.serverAckEdge = SeqMax(connection.serverAckEdge, ack);
        if (connection.sack) {
            edit.TranslateSackBlocks({connection.server.toPeerOffset, ack, connection.server.highestSeq});
        }
    }
    connection.lastWindowToServer = tcp.Window();
}

void TranslateServerSegment(const Pop3Connection& connection, FrameContext& frame) {
    TcpFrame tcp(frame.buffer.Bytes(), frame.layout);
    FrameEditor edit(frame.buffer, frame.layout);
    edit.SetSequence(tcp.Sequence() + connection.server.toPeerOffset);
    if ((tcp.Flags() & kAck) != 0) {
        const uint32_t ack = ServerAckToClient(connection, tcp.Acknowledgement());
        edit.SetAcknowledgement(ack);
        if (connection.sack) {
            edit.TranslateSackBlocks({connection.client.toPeerOffset, ack, connection.client.highestSeq});
        }
    }
}

}  // namespace bramvell
