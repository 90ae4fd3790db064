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
    uint32_t serverSeq = 0;   // sequence number as the server sent it
    uint32_t clientSeq = 0;   // sequence number in the client's view, set when replay starts
    bool plainBytes = false;  // no frame around the payload (a stream's bytes): no checksum to keep

    std::span<uint8_t> Bytes() const { return {frame, length}; }
    std::span<uint8_t> Payload() const { return {frame + layout.payloadOffset, payloadLength}; }
};

// A payload read from a stream rather than from frames, seen as one held segment without headers.
HeldSegment PlainBytesSegment(std::span<uint8_t> bytes);

// Blocks that held segments are copied into, kept for the next message instead of going back to the
// system at once (fresh memory costs a page fault per page). Holds at most maxBlocks free blocks.
class SegmentBlockPool {
  public:
    static constexpr std::size_t kBlockSize = 256 * 1024;

    explicit SegmentBlockPool(std::size_t maxBlocks = 0) : maxBlocks_(maxBlocks) {}
    std::unique_ptr<uint8_t[]> Take();
    void Give(std::unique_ptr<uint8_t[]> block);
    void Release() { free_.clear(); }
    std::size_t FreeBlocks() const { return free_.size(); }
    void SetMaxBlocks(std::size_t maxBlocks);

  private:
    std::vector<std::unique_ptr<uint8_t[]>> free_;
    std::size_t maxBlocks_;
};

// Append-only storage for held frames: large blocks instead of one allocation per segment. Clear()
// gives all blocks back (to the pool when there is one).
class SegmentStore {
  public:
    static constexpr std::size_t kBlockSize = SegmentBlockPool::kBlockSize;

    SegmentStore() = default;
    ~SegmentStore() { Clear(); }
    SegmentStore(SegmentStore&&) = default;
    SegmentStore& operator=(SegmentStore&& other) noexcept;
    SegmentStore(const SegmentStore&) = delete;
    SegmentStore& operator=(const SegmentStore&) = delete;

    void SetPool(SegmentBlockPool* pool) { pool_ = pool; }
    uint8_t* Copy(std::span<const uint8_t> bytes);
    // Room for `size` bytes (at most a block); Commit makes them part of the store, or the next
    // Reserve reuses them.
    uint8_t* Reserve(std::size_t size);
    void Commit(std::size_t size);
    void Clear();
    // Gives back the blocks before the one holding `firstKept` (all but the last when it is null).
    void ReleaseBefore(const uint8_t* firstKept);
    std::size_t BytesUsed() const { return bytesUsed_; }
    std::size_t BlockCount() const { return blocks_.size(); }

  private:
    std::vector<std::unique_ptr<uint8_t[]>> blocks_;
    std::size_t usedInLast_ = kBlockSize;
    std::size_t bytesUsed_ = 0;
    SegmentBlockPool* pool_ = nullptr;
};

// Copies a parsed TCP frame to `target` and checks its TCP checksum on the way (one pass over the
// bytes). The IP header checksum is checked too. True when both verify.
bool CopyVerifiedTcpFrame(uint8_t* target, std::span<const uint8_t> frame, const FrameLayout& layout);

}  // namespace bramvell
