#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/Frame.h"

namespace bramvell {

// A copy of one server data segment of a reply being collected (or of a frame the engine must be able
// to send again). The bytes live in the connection's SegmentStore.
struct HeldSegment {
    uint8_t* frame = nullptr;  // the whole Ethernet frame
    uint32_t length = 0;       // frame length, as in PacketBuffer.length
    uint32_t payloadLength = 0;
    FrameLayout layout;
    uint32_t serverSeq = 0;  // sequence number as the server sent it
    uint32_t clientSeq = 0;  // sequence number in the client's view, set when replay starts

    std::span<uint8_t> Bytes() const { return {frame, length}; }
    std::span<uint8_t> Payload() const { return {frame + layout.payloadOffset, payloadLength}; }
};

// Append-only storage for held frames: large blocks instead of one allocation per segment. Clear()
// gives all memory back.
class SegmentStore {
  public:
    static constexpr std::size_t kBlockSize = 256 * 1024;

    uint8_t* Copy(std::span<const uint8_t> bytes);
    void Clear();
    std::size_t BytesUsed() const { return bytesUsed_; }

  private:
    std::vector<std::unique_ptr<uint8_t[]>> blocks_;
    std::size_t usedInLast_ = kBlockSize;
    std::size_t bytesUsed_ = 0;
};

}  // namespace bramvell
