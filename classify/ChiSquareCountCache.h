#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "classify/ChiSquareStore.h"
#include "classify/LargeBufferAllocator.h"

namespace bramvell {

// The counts of the tokens looked up in a chi-square store snapshot, kept in an open-addressing hash
// table, for scoring many messages in a row: a token seen before (most words recur from message to
// message) costs one probe instead of a walk down the store's B-tree. Counts are the snapshot's own,
// so scores are the same with or without it. The snapshot must outlive the cache.
class ChiSquareCountCache {
  public:
    explicit ChiSquareCountCache(const ChiSquareStore::Snapshot& snapshot);

    TokenCounts Counts(std::string_view token);
    // counts[i] for tokens[i]; the tokens not cached yet are looked up together, in the order given
    // (byte-wise order finds neighbours faster).
    void CountsOf(std::span<const std::string_view> tokens, std::vector<TokenCounts>& counts);
    const MessageTotals& Totals() const { return totals_; }
    // Counts a message's tokens (looked up before) and the totals by more in its class, as if it had
    // been learned that much more: training on errors scores the next message with it before anything
    // is written. A token the cache does not hold is left as it is.
    void Raise(std::span<const std::string_view> tokens, bool spam, uint32_t by);

  private:
    struct Slot {
        uint32_t offset = 0;  // of the token's bytes in bytes_
        uint32_t length = 0;
        uint32_t hash = 0;
        bool used = false;
        TokenCounts counts;
    };

    static uint32_t HashOf(std::string_view token);
    std::string_view KeyOf(const Slot& slot) const {
        return std::string_view(bytes_.data() + slot.offset, slot.length);
    }
    // The slot holding the token, or the empty slot where it would go.
    Slot& SlotOf(std::string_view token, uint32_t hash);
    void Insert(std::string_view token, uint32_t hash, TokenCounts counts);
    void Grow();

    const ChiSquareStore::Snapshot& snapshot_;
    MessageTotals totals_;
    // The tokens cached, back to back, and their slots: tens of megabytes for a large batch, in huge
    // pages so that growing them costs few faults.
    std::vector<char, LargeBufferAllocator<char>> bytes_;
    std::vector<Slot, LargeBufferAllocator<Slot>> slots_;
    std::size_t used_ = 0;
    std::vector<std::string_view> missed_;
    std::vector<std::size_t> missedAt_;
    std::vector<TokenCounts> missedCounts_;
};

}  // namespace bramvell
