#include "classify/ChiSquareCountCache.h"

#include <limits>
#include <utility>

namespace bramvell {

ChiSquareCountCache::ChiSquareCountCache(const ChiSquareStore::Snapshot& snapshot)
    : snapshot_(snapshot), totals_(snapshot.Totals()) {}

ChiSquareCountCache::ChiSquareCountCache(const ChiSquareStore::Snapshot& snapshot, TokenCountTable known)
    : snapshot_(snapshot), totals_(snapshot.Totals()), table_(std::move(known)) {}

TokenCounts ChiSquareCountCache::Counts(std::string_view token) {
    if (token.empty() || !table_.HasRoomFor(token)) {
        return snapshot_.Counts(token);
    }
    const uint32_t hash = TokenCountTable::HashOf(token);
    if (const TokenCounts* held = table_.Find(token, hash)) {
        return *held;
    }
    const TokenCounts counts = snapshot_.Counts(token);
    table_.Insert(token, hash, counts);
    return counts;
}

void ChiSquareCountCache::CountsOf(std::span<const std::string_view> tokens,
                                   std::vector<TokenCounts>& counts) {
    counts.assign(tokens.size(), TokenCounts{});
    hashes_.resize(tokens.size());
    found_.resize(tokens.size());
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        hashes_[i] = TokenCountTable::HashOf(tokens[i]);
    }
    table_.FindAll(tokens, hashes_, found_);
    missed_.clear();
    missedAt_.clear();
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (found_[i] != nullptr) {
            counts[i] = *found_[i];
        } else if (!tokens[i].empty()) {
            missed_.push_back(tokens[i]);
            missedAt_.push_back(i);
        }
    }
    missedCounts_.resize(missed_.size());
    snapshot_.CountsInOrder(missed_, missedCounts_);
    for (std::size_t j = 0; j < missed_.size(); ++j) {
        counts[missedAt_[j]] = missedCounts_[j];
        table_.Insert(missed_[j], hashes_[missedAt_[j]], missedCounts_[j]);
    }
}

void ChiSquareCountCache::Raise(std::span<const std::string_view> tokens, bool spam, uint32_t by) {
    for (const std::string_view token : tokens) {
        if (token.empty()) {
            continue;
        }
        if (TokenCounts* held = table_.Find(token, TokenCountTable::HashOf(token))) {
            uint32_t& count = spam ? held->spam : held->ham;
            count = count > std::numeric_limits<uint32_t>::max() - by ? std::numeric_limits<uint32_t>::max()
                                                                      : count + by;
        }
    }
    (spam ? totals_.spam : totals_.ham) += by;
}

}  // namespace bramvell
