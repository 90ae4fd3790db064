#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/Frame.h"
#include "engine/PacketBuffer.h"
#include "engine/TcpOptions.h"

namespace bramvell {

// The one way the engine changes a parsed TCP frame. Number fields (sequence, acknowledgement, window,
// flags, timestamps) are folded into the TCP checksum incrementally, so a full-sized segment is not
// summed again; a change of shape (payload length or bytes, ends swapped, options blanked) makes
// Commit() recompute what it touched in full: the TCP checksum, and the IPv4 one when the IP header
// changed (IPv6 has none; its payload length follows a change of length). Commit() runs at the latest
// in the destructor.
class FrameEditor {
  public:
    // A frame in a packet buffer: it may change length (the layout follows).
    FrameEditor(PacketBuffer& buffer, FrameLayout& layout);
    // A frame at a fixed place (a held copy): its length stays.
    FrameEditor(std::span<uint8_t> frame, const FrameLayout& layout);
    ~FrameEditor() { Commit(); }
    FrameEditor(const FrameEditor&) = delete;
    FrameEditor& operator=(const FrameEditor&) = delete;

    void SetSequence(uint32_t value);
    void SetAcknowledgement(uint32_t value);
    void SetWindow(uint16_t value);
    void SetFlags(uint8_t value);
    void SetPorts(uint16_t source, uint16_t destination);
    // Sets TSval and TSecr when the frame carries a timestamp option.
    void SetTimestamps(uint32_t tsVal, uint32_t tsEcr);

    // Reverses the frame's direction: MAC addresses, IP addresses and ports swapped.
    void SwapEnds();
    // Replaces every option except the timestamp with NOPs.
    void KeepOnlyTimestamp();
    // Replaces SACK blocks with NOPs (a copy sent again later, when its blocks are stale).
    void StripSackBlocks();
    // Moves the frame's SACK blocks through `translation`, or blanks them when they do not fit.
    void TranslateSackBlocks(const SackTranslation& translation);
    // Appends a SACK option with as many of `blocks` as the header has room for (buffer frames without
    // payload only: the acknowledgements the engine sends); returns how many went in.
    std::size_t AddSackBlocks(std::span<const SackBlock> blocks);
    // Sets the payload length (buffer frames only); the bytes are the caller's, through Payload().
    void ResizePayload(std::size_t payloadLength);
    // Drops the first `count` payload bytes: the rest moves up, the sequence number grows by count.
    void TrimPayloadFront(std::size_t count);
    // The payload, for writing; writing through it counts as a change of shape.
    std::span<uint8_t> Payload();

    const FrameLayout& layout() const { return *layout_; }
    void Commit();

  private:
    TcpHeader Tcp() const { return tcp_; }
    // A 32-bit field at an even offset from the TCP header's start.
    void Replace32At(uint8_t* field, uint32_t value);
    std::span<uint8_t> Bytes() const { return {frame_, layout().ipOffset + layout().ipTotalLength}; }

    uint8_t* frame_;
    const FrameLayout* layout_;
    TcpHeader tcp_;  // headers keep their place when the payload changes
    PacketBuffer* buffer_ = nullptr;
    FrameLayout* bufferLayout_ = nullptr;  // the layout of a frame that may change length
    ChecksumDelta delta_;
    bool tcpReshaped_ = false;
    bool ipChanged_ = false;
};

// Copies a frame into a packet buffer (one the engine sends on its own).
void CopyIntoBuffer(PacketBuffer& buffer, std::span<const uint8_t> frame, PacketDirection direction);

}  // namespace bramvell
