#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/Frame.h"
#include "engine/PacketBuffer.h"
#include "engine/TcpOptions.h"

namespace bramvell {

// Changes the numbers of a parsed TCP frame in place and keeps its TCP checksum right by incremental
// update, so that a full-sized segment is not summed again. Commit() (or the destructor) writes the
// checksum.
class SegmentEditor {
  public:
    SegmentEditor(std::span<uint8_t> frame, const FrameLayout& layout);
    ~SegmentEditor() { Commit(); }
    SegmentEditor(const SegmentEditor&) = delete;
    SegmentEditor& operator=(const SegmentEditor&) = delete;

    void SetSequence(uint32_t value) { Set32(4, value); }
    void SetAcknowledgement(uint32_t value) { Set32(8, value); }
    void SetWindow(uint16_t value);
    // Sets TSval and TSecr when the frame carries a timestamp option.
    void SetTimestamps(uint32_t tsVal, uint32_t tsEcr);
    void Commit();

  private:
    void Set32(std::size_t offset, uint32_t value);

    uint8_t* tcp_;
    std::size_t headerLength_;
    ChecksumDelta delta_;
};

// Timestamp values of a frame, when it carries the option.
bool ReadTimestamps(std::span<const uint8_t> frame, const FrameLayout& layout, uint32_t& tsVal,
                    uint32_t& tsEcr);

inline uint32_t SourceAddress(std::span<const uint8_t> frame, const FrameLayout& layout) {
    return Load32(frame.data() + layout.ipOffset + 12);
}
inline uint32_t DestinationAddress(std::span<const uint8_t> frame, const FrameLayout& layout) {
    return Load32(frame.data() + layout.ipOffset + 16);
}

// Sets the payload length of the frame in the buffer (the bytes themselves are the caller's), and fixes
// the IP total length, the buffer length and the layout. Both checksums are left for the caller.
void ResizePayload(PacketBuffer& buffer, FrameLayout& layout, std::size_t payloadLength);

// Largest payload a frame with these headers can carry in the buffer.
inline std::size_t PayloadCapacity(const FrameLayout& layout) {
    return kMaxFrameLength - layout.payloadOffset;
}

// Reverses the frame's direction: MAC addresses, IP addresses and ports swapped.
void SwapEnds(PacketBuffer& buffer, const FrameLayout& layout);

// Drops the first `count` payload bytes: the rest moves up, the sequence number grows by count.
// Recomputes both checksums.
void TrimPayloadFront(PacketBuffer& buffer, FrameLayout& layout, std::size_t count);

// Recomputes both checksums in full.
void UpdateChecksums(PacketBuffer& buffer, const FrameLayout& layout);

}  // namespace bramvell
