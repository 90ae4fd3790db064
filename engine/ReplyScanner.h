#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/Pop3Commands.h"

namespace bramvell {

// Follows the server's stream, in order, to tell where each awaited reply ends: the replies the engine
// passes without holding them, so that it knows when the server is done with a command.
class ReplyScanner {
  public:
    static constexpr std::size_t kMaxAwaited = 4;

    // Starts over at server sequence number `seq`, awaiting nothing.
    void Reset(uint32_t seq);
    // A reply of this shape is awaited after those already awaited; false when too many are.
    bool Await(ReplyShape shape);
    // A reply awaited before all others (one already under way, whose bytes are then fed from its start).
    void AwaitFirst(ReplyShape shape);

    // Reads the next bytes of the stream (starting at cursor()); returns how many belonged to awaited
    // replies. Bytes after the last awaited reply are skipped over.
    std::size_t Feed(std::span<const uint8_t> bytes);

    bool Awaiting() const { return count_ > 0; }
    uint32_t cursor() const { return cursor_; }
    void SetCursor(uint32_t seq) { cursor_ = seq; }

  private:
    enum class At : uint8_t { StatusFirst, StatusRest, LineStart, Dot, DotCr, InLine };
    // Reads bytes of the reply at the front; returns how many it took, which ends it when `ended`.
    std::size_t FeedFront(std::span<const uint8_t> bytes, bool& ended);
    void PopFront();

    std::array<ReplyShape, kMaxAwaited> awaited_{};
    std::size_t first_ = 0;
    std::size_t count_ = 0;
    At at_ = At::StatusFirst;
    bool multiLine_ = false;
    uint32_t cursor_ = 0;
};

}  // namespace bramvell
