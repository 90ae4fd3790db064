#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "classify/MessageLineSource.h"
#include "engine/HeldSegment.h"

namespace bramvell {

// Walks a held reply as lines. A line is the run of bytes up to a CR, without the CR and the LF right
// after it; lines continue across segment boundaries, and a CR LF pair split over two segments ends the
// line the same way. The first line is the server's status line; the final "." line is read like any
// other. Bytes after the last CR form a last line of their own.
class MessageLineReader final : public MessageLineSource {
  public:
    explicit MessageLineReader(std::span<HeldSegment> segments) : segments_(segments) { Enter(0); }
    // A reply read from a stream, in one buffer; patches land in the buffer.
    explicit MessageLineReader(std::span<uint8_t> bytes)
        : ownSegment_(PlainBytesSegment(bytes)), segments_(&ownSegment_, 1) {
        Enter(0);
    }
    MessageLineReader(const MessageLineReader&) = delete;
    MessageLineReader& operator=(const MessageLineReader&) = delete;

    // The next line and where it starts; its text stays valid until the next call. False when the reply
    // is exhausted.
    bool NextLine(MessageLine& line) override;

    // Overwrites bytes of a line in place: `bytes` lands at index `at` of the line that starts at
    // `position`, each byte in the segment that holds it. The TCP checksum of every touched segment is
    // recomputed, so held frames stay valid.
    void Patch(LinePosition position, std::size_t at, std::string_view bytes);

    std::size_t SegmentCount() const { return segments_.size(); }

  private:
    // The first CR in [start, end), end being the end of a segment's payload, or nullptr.
    const uint8_t* FindCr(const uint8_t* start, const uint8_t* end);
    // Makes segment `index` the current one, its first byte next (nothing when past the last).
    void Enter(std::size_t index);
    // Moves past the CR at `cr` and the LF after it (or remembers to skip an LF at the next segment's start).
    void StepOverLineEnd(const uint8_t* cr);

    HeldSegment ownSegment_;  // the one segment of a reader over a buffer
    std::span<HeldSegment> segments_;
    // Where the CRs are in up to 64 bytes from maskStart_ (bit i: byte maskStart_ + i), never reaching
    // past the payload the bytes belong to: each byte is examined once, not once per line.
    uintptr_t maskStart_ = 0;
    std::size_t maskLength_ = 0;
    uint64_t crMask_ = 0;
    // The current segment and the next byte to read in its payload [begin_, end_).
    std::size_t segment_ = 0;
    const uint8_t* begin_ = nullptr;
    const uint8_t* cursor_ = nullptr;
    const uint8_t* end_ = nullptr;
    bool skipLf_ = false;
    std::string assembled_;
};

}  // namespace bramvell
