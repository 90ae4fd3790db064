#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/HeldSegment.h"
#include "engine/TcpOptions.h"

namespace bramvell {

// Server segments of a reply being collected that arrived beyond a gap (one before them was lost):
// kept, so that once the server has resent the missing one the whole run is taken at once rather than
// resent segment by segment. Copies are verified on the way in; the store is bounded in bytes and count.
class OutOfOrderSegments {
  public:
    static constexpr std::size_t kMaxSegments = 2048;

    struct Kept {
        uint8_t* frame = nullptr;
        uint32_t length = 0;
        FrameLayout layout;
        uint32_t seq = 0;
        uint32_t payloadLength = 0;

        std::span<const uint8_t> Bytes() const { return {frame, length}; }
        uint32_t End() const { return seq + payloadLength; }
    };

    void SetPool(SegmentBlockPool* pool) { store_.SetPool(pool); }
    // Keeps a copy of a parsed TCP frame with sequence number `seq`, unless one starting there is kept
    // already, it would pass `maxBytes` of payload, or its checksums fail. True when kept.
    bool Keep(std::span<const uint8_t> frame, const FrameLayout& layout, uint32_t seq, std::size_t maxBytes);
    // What is kept beyond `ack`, as SACK blocks of contiguous runs: the run the newest segment joined
    // first (the receiver's duty, and what tells the sender most), then the rest in sequence order, as
    // many as fit in `out`. A run that starts at or below `ack` is left out: it would read as a
    // duplicate report. Returns how many were written.
    std::size_t SackBlocks(std::span<SackBlock> out, uint32_t ack) const;
    // The kept segment with the lowest sequence number, or null.
    const Kept* Front() const { return kept_.empty() ? nullptr : &kept_.front(); }
    void PopFront();
    void Clear();
    std::size_t Count() const { return kept_.size(); }
    std::size_t PayloadBytes() const { return payloadBytes_; }

  private:
    // Calls visit(run) for each contiguous run of kept bytes, lowest first, until it returns false.
    template <typename Visit>
    void ForEachRun(Visit visit) const;

    std::vector<Kept> kept_;  // in sequence order
    SegmentStore store_;
    std::size_t payloadBytes_ = 0;
    uint32_t newestSeq_ = 0;  // start of the segment kept last
};

}  // namespace bramvell
