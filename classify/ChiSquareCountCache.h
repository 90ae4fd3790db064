#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "classify/ChiSquareStore.h"
#include "classify/TokenCountTable.h"

namespace bramvell {

// The counts of the tokens looked up in a chi-square store snapshot, kept in an open-addressing hash
// table, for scoring many messages in a row: a token seen before (most words recur from message to
// message) costs one probe instead of a walk down the store's B-tree. Counts are the snapshot's own,
// so scores are the same with or without it. The snapshot must outlive the cache.
class ChiSquareCountCache {
  public:
    explicit ChiSquareCountCache(const ChiSquareStore::Snapshot& snapshot);
    // Starting from counts known to be the snapshot's already (those a learning run just wrote): a
    // token held there is not looked up.
    ChiSquareCountCache(const ChiSquareStore::Snapshot& snapshot, TokenCountTable known);

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
    const ChiSquareStore::Snapshot& snapshot_;
    MessageTotals totals_;
    TokenCountTable table_;
    std::vector<uint32_t> hashes_;
    std::vector<TokenCounts*> found_;
    std::vector<std::string_view> missed_;
    std::vector<std::size_t> missedAt_;
    std::vector<TokenCounts> missedCounts_;
};

}  // namespace bramvell
