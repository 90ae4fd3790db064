#include "engine/OwnFrames.h"

#include <cstring>

#include "engine/FrameEditor.h"
#include "engine/Pop3Connection.h"

namespace bramvell {

using namespace tcp_flags;

void OwnFrames::TakeHeaders(std::span<const uint8_t> model, const FrameLayout& layout) {
    layout_ = layout;
    if (layout.ipVersion != Ipv6Header::kVersion || layout.ipHeaderLength == Ipv6Header::kLength) {
        std::memcpy(buffer_.frame.data(), model.data(), layout.payloadOffset);
        buffer_.length = static_cast<uint32_t>(layout.payloadOffset);
        return;
    }
    // IPv6 extension headers were meant for the model's own path (options for its receiver, a route it
    // took): a frame of the engine's own carries the fixed header and TCP alone.
    uint8_t* frame = buffer_.frame.data();
    const std::size_t ipEnd = layout.ipOffset + Ipv6Header::kLength;
    std::memcpy(frame, model.data(), ipEnd);
    std::memcpy(frame + ipEnd, model.data() + layout.transportOffset, layout.transportHeaderLength);
    Ipv6Header(frame + layout.ipOffset).SetNextHeader(layout.protocol);
    layout_.ipHeaderLength = Ipv6Header::kLength;
    layout_.transportOffset = ipEnd;
    layout_.payloadOffset = ipEnd + layout.transportHeaderLength;
    layout_.ipTotalLength = layout_.payloadOffset - layout.ipOffset;
    layout_.payloadLength = 0;
    buffer_.length = static_cast<uint32_t>(layout_.payloadOffset);
}

const PacketBuffer& OwnFrames::ToServer(std::span<const uint8_t> serverSegment, const FrameLayout& layout,
                                        const Pop3Connection& connection, uint32_t ack, uint8_t flags,
                                        uint16_t window, std::string_view payload,
                                        std::span<const SackBlock> sack) {
    TakeHeaders(serverSegment, layout);
    {
        FrameEditor edit(buffer_, layout_);
        edit.SwapEnds();
        edit.ResizePayload(payload.size());
        if (!payload.empty()) {  // a bare acknowledgement has no bytes, and maybe no pointer
            std::memcpy(edit.Payload().data(), payload.data(), payload.size());
        }
        edit.SetPorts(connection.clientPort, kPop3Port);
        edit.SetFlags(flags);
        edit.SetSequence(connection.server.ack);
        edit.SetAcknowledgement(ack);
        edit.SetWindow(window);
        edit.KeepOnlyTimestamp();
        edit.SetTimestamps(connection.client.tsVal, connection.server.tsVal);
        edit.AddSackBlocks(sack);  // takes none when a payload follows the header
    }
    buffer_.deviceFlags = PacketDirection::Outbound;
    return buffer_;
}

const PacketBuffer& OwnFrames::CommandToServer(std::span<const uint8_t> model, const FrameLayout& layout,
                                               bool modelFromServer, const Pop3Connection& connection,
                                               uint32_t seq, uint32_t ack, uint8_t flags,
                                               std::span<const uint8_t> payload) {
    TakeHeaders(model, layout);
    {
        FrameEditor edit(buffer_, layout_);
        if (modelFromServer) {
            edit.SwapEnds();
            edit.SetPorts(connection.clientPort, kPop3Port);
        }
        edit.ResizePayload(payload.size());
        if (!payload.empty()) {
            std::memcpy(edit.Payload().data(), payload.data(), payload.size());
        }
        edit.SetFlags(flags);
        edit.SetSequence(seq);
        edit.SetAcknowledgement(ack);
        edit.SetWindow(static_cast<uint16_t>(connection.client.window));
        edit.KeepOnlyTimestamp();
        edit.SetTimestamps(connection.client.tsVal, connection.server.tsVal);
    }
    buffer_.deviceFlags = PacketDirection::Outbound;
    return buffer_;
}

const PacketBuffer& OwnFrames::AnswerToClient(std::span<const uint8_t> model, const FrameLayout& layout,
                                              bool modelFromServer, const Pop3Connection& connection,
                                              uint32_t seq, uint32_t ack, std::span<const uint8_t> payload) {
    TakeHeaders(model, layout);
    {
        FrameEditor edit(buffer_, layout_);
        if (!modelFromServer) {
            edit.SwapEnds();
            edit.SetPorts(kPop3Port, connection.clientPort);
        }
        edit.ResizePayload(payload.size());
        if (!payload.empty()) {
            std::memcpy(edit.Payload().data(), payload.data(), payload.size());
        }
        edit.SetFlags(kPsh | kAck);
        edit.SetSequence(seq);
        edit.SetAcknowledgement(ack);
        edit.SetWindow(static_cast<uint16_t>(connection.server.window));
        edit.KeepOnlyTimestamp();
        edit.SetTimestamps(connection.server.tsVal, connection.client.tsVal);
    }
    buffer_.deviceFlags = PacketDirection::Inbound;
    return buffer_;
}

const PacketBuffer& OwnFrames::EndAfter(std::span<const uint8_t> commandFrame, const FrameLayout& layout,
                                        uint32_t seq, uint32_t ack, uint8_t flags) {
    TakeHeaders(commandFrame, layout);
    {
        FrameEditor edit(buffer_, layout_);
        edit.ResizePayload(0);
        edit.SetFlags(flags);
        edit.SetSequence(seq);
        edit.SetAcknowledgement(ack);
    }
    buffer_.deviceFlags = PacketDirection::Outbound;
    return buffer_;
}

const PacketBuffer& OwnFrames::ToClient(std::span<const uint8_t> model, const FrameLayout& layout,
                                        const ToClientFields& fields, std::span<const uint8_t> first,
                                        std::span<const uint8_t> second) {
    TakeHeaders(model, layout);
    {
        FrameEditor edit(buffer_, layout_);
        edit.ResizePayload(first.size() + second.size());
        std::span<uint8_t> payload = edit.Payload();
        if (!first.empty()) {
            std::memcpy(payload.data(), first.data(), first.size());
        }
        if (!second.empty()) {
            std::memcpy(payload.data() + first.size(), second.data(), second.size());
        }
        edit.SetSequence(fields.seq);
        edit.SetAcknowledgement(fields.ack);
        edit.SetFlags(fields.flags);
        edit.StripSackBlocks();  // the model's blocks were for its own moment and numbering
        if (fields.window) {
            edit.SetWindow(*fields.window);
        }
        if (fields.timestamps) {
            edit.SetTimestamps(fields.timestamps->tsVal, fields.timestamps->tsEcr);
        }
    }
    buffer_.deviceFlags = PacketDirection::Inbound;
    return buffer_;
}

const PacketBuffer& OwnFrames::Copy(std::span<const uint8_t> frame, PacketDirection direction) {
    CopyIntoBuffer(buffer_, frame, direction);
    return buffer_;
}

}  // namespace bramvell
