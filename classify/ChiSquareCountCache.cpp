#include "classify/ChiSquareCountCache.h"

#include <limits>

namespace bramvell {
namespace {

constexpr std::size_t kFirstSlots = std::size_t{1} << 16;
// The bytes the cache holds at most (its offsets are 32-bit); past that it only looks up.
constexpr std::size_t kMaxCachedBytes = std::size_t{1} << 30;

}  // namespace

ChiSquareCountCache::ChiSquareCountCache(const ChiSquareStore::Snapshot& snapshot)
    : snapshot_(snapshot), totals_(snapshot.Totals()), slots_(kFirstSlots) {}

uint32_t ChiSquareCountCache::HashOf(std::string_view token) {
    // FNV-1a: tokens are short, and every byte counts.
    uint32_t hash = 2166136261u;
    for (char c : token) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return hash;
}

ChiSquareCountCache::Slot& ChiSquareCountCache::SlotOf(std::string_view token, uint32_t hash) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    while (slots_[i].used &&
           !(slots_[i].hash == hash && slots_[i].length == token.size() && KeyOf(slots_[i]) == token)) {
        i = (i + 1) & mask;
    }
    return slots_[i];
}

void ChiSquareCountCache::Insert(std::string_view token, uint32_t hash, TokenCounts counts) {
    Slot& slot = SlotOf(token, hash);
    if (slot.used) {
        return;
    }
    slot = {static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(token.size()), hash, true, counts};
    bytes_.insert(bytes_.end(), token.begin(), token.end());
    if (2 * ++used_ > slots_.size()) {
        Grow();  // at most half full, so that probes stay short
    }
}

TokenCounts ChiSquareCountCache::Counts(std::string_view token) {
    if (token.empty() || bytes_.size() + token.size() > kMaxCachedBytes) {
        return snapshot_.Counts(token);
    }
    const uint32_t hash = HashOf(token);
    if (const Slot& slot = SlotOf(token, hash); slot.used) {
        return slot.counts;
    }
    const TokenCounts counts = snapshot_.Counts(token);
    Insert(token, hash, counts);
    return counts;
}

void ChiSquareCountCache::CountsOf(std::span<const std::string_view> tokens,
                                   std::vector<TokenCounts>& counts) {
    counts.assign(tokens.size(), TokenCounts{});
    missed_.clear();
    missedAt_.clear();
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string_view token = tokens[i];
        if (token.empty()) {
            continue;
        }
        if (const Slot& slot = SlotOf(token, HashOf(token)); slot.used) {
            counts[i] = slot.counts;
        } else {
            missed_.push_back(token);
            missedAt_.push_back(i);
        }
    }
    missedCounts_.resize(missed_.size());
    snapshot_.CountsInOrder(missed_, missedCounts_);
    for (std::size_t j = 0; j < missed_.size(); ++j) {
        counts[missedAt_[j]] = missedCounts_[j];
        if (bytes_.size() + missed_[j].size() <= kMaxCachedBytes) {
            Insert(missed_[j], HashOf(missed_[j]), missedCounts_[j]);
        }
    }
}

void ChiSquareCountCache::Raise(std::span<const std::string_view> tokens, bool spam, uint32_t by) {
    for (const std::string_view token : tokens) {
        if (token.empty()) {
            continue;
        }
        if (Slot& slot = SlotOf(token, HashOf(token)); slot.used) {
            uint32_t& count = spam ? slot.counts.spam : slot.counts.ham;
            count = count > std::numeric_limits<uint32_t>::max() - by ? std::numeric_limits<uint32_t>::max()
                                                                      : count + by;
        }
    }
    (spam ? totals_.spam : totals_.ham) += by;
}

void ChiSquareCountCache::Grow() {
    std::vector<Slot, LargeBufferAllocator<Slot>> old(slots_.size() * 2);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (!slot.used) {
            continue;
        }
        std::size_t i = slot.hash & mask;
        while (slots_[i].used) {
            i = (i + 1) & mask;
        }
        slots_[i] = slot;
    }
}

}  // namespace bramvell
