#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/HeldSegment.h"

namespace bramvell {

// The server's reply being held back from the client: its segments in order, the store their bytes
// live in, and what the end-of-reply test needs. Later the same object holds what the engine alone
// must deliver (the replay, or the error reply that replaces the injected command's answer).
class HeldReply {
  public:
    void SetPool(SegmentBlockPool* pool) { store_.SetPool(pool); }

    // Room for a frame of `size` bytes; Hold() then makes the bytes part of the reply.
    uint8_t* Reserve(std::size_t size) { return store_.Reserve(size); }
    // Takes in the frame just written where Reserve() pointed: its layout and server sequence number.
    void Hold(uint8_t* frame, std::size_t length, const FrameLayout& layout, uint32_t serverSeq);
    // Holds a copy of a frame the engine made, numbered in the client's view.
    void HoldCopy(std::span<const uint8_t> frame, const FrameLayout& layout, uint32_t clientSeq);

    // Bytes of the reply taken but not kept (spam past the cap): only the end-of-reply test sees them.
    void NoteDiscarded(std::span<const uint8_t> payload);
    // Gives back the first `count` segments (delivered already) and the blocks only they used.
    void DropFront(std::size_t count);
    // The last bytes of the reply, up to five.
    std::span<const uint8_t> Tail() const { return {tail_.data(), tailLength_}; }

    // A multi-line reply ends with CR LF "." CR LF; one whose status line is not positive is that line.
    bool Complete() const;
    bool IsMultiLine() const { return multiLine_; }

    std::vector<HeldSegment>& Segments() { return segments_; }
    const std::vector<HeldSegment>& Segments() const { return segments_; }
    bool Empty() const { return segments_.empty(); }
    std::size_t Count() const { return segments_.size(); }
    std::size_t PayloadBytes() const { return payloadBytes_; }
    std::size_t BlockCount() const { return store_.BlockCount(); }

    // Gives back every segment and block.
    void Clear();

  private:
    void NoteTail(std::span<const uint8_t> payload);

    std::vector<HeldSegment> segments_;
    SegmentStore store_;
    std::size_t payloadBytes_ = 0;
    std::array<uint8_t, 5> tail_{};  // last bytes of the reply, newest last
    std::size_t tailLength_ = 0;
    bool multiLine_ = false;  // the status line starts with '+': the reply ends with a "." line
    bool statusLineEnded_ = false;
};

}  // namespace bramvell
