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

TokenCounts ChiSquareCountCache::Counts(std::string_view token) {
    if (token.empty() || bytes_.size() + token.size() > kMaxCachedBytes) {
        return snapshot_.Counts(token);
    }
    const uint32_t hash = HashOf(token);
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    for (; slots_[i].used; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.hash == hash && slot.length == token.size() && KeyOf(slot) == token) {
            return slot.counts;
        }
    }
    const TokenCounts counts = snapshot_.Counts(token);
    slots_[i] = {static_cast<uint32_t>(bytes_.size()), static_cast<uint32_t>(token.size()), hash, true, counts};
    bytes_ += token;
    if (2 * ++used_ > slots_.size()) {
        Grow();  // at most half full, so that probes stay short
    }
    return counts;
}

void ChiSquareCountCache::Grow() {
    std::vector<Slot> old(slots_.size() * 2);
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
