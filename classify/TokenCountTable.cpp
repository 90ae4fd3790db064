#include "classify/TokenCountTable.h"

#include <algorithm>

namespace bramvell {
namespace {

constexpr std::size_t kFirstSlots = std::size_t{1} << 16;
constexpr std::size_t kAhead = 8;  // slots fetched ahead: about as many misses as a core keeps under way

}  // namespace

TokenCountTable::TokenCountTable() : slots_(kFirstSlots) {}

uint32_t TokenCountTable::HashOf(std::string_view token) {
    // FNV-1a: tokens are short, and every byte counts.
    uint32_t hash = 2166136261u;
    for (char c : token) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return hash;
}

std::size_t TokenCountTable::SlotOf(std::string_view token, uint32_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    while (slots_[i].offset != kEmpty && !(slots_[i].hash == hash && KeyOf(slots_[i]) == token)) {
        i = (i + 1) & mask;
    }
    return i;
}

TokenCounts* TokenCountTable::Find(std::string_view token, uint32_t hash) {
    Slot& slot = slots_[SlotOf(token, hash)];
    return slot.offset != kEmpty ? &slot.counts : nullptr;
}

const TokenCounts* TokenCountTable::Find(std::string_view token, uint32_t hash) const {
    const Slot& slot = slots_[SlotOf(token, hash)];
    return slot.offset != kEmpty ? &slot.counts : nullptr;
}

void TokenCountTable::AssignAll(std::span<const Assignment> assignments) {
    // Most assignments are to tokens held already: the table grows as new ones come, not ahead for all
    // of them (fresh memory is dear to fault in). A prefetch made before a growth is merely wasted.
    uint32_t ahead[kAhead];
    for (std::size_t i = 0; i < assignments.size() && i < kAhead; ++i) {
        ahead[i] = HashOf(assignments[i].token);
        __builtin_prefetch(&slots_[ahead[i] & (slots_.size() - 1)]);
    }
    for (std::size_t i = 0; i < assignments.size(); ++i) {
        const uint32_t hash = ahead[i % kAhead];
        if (i + kAhead < assignments.size()) {
            ahead[i % kAhead] = HashOf(assignments[i + kAhead].token);
            __builtin_prefetch(&slots_[ahead[i % kAhead] & (slots_.size() - 1)]);
        }
        Assign(assignments[i].token, hash, assignments[i].counts);
    }
}

void TokenCountTable::FindAll(std::span<const std::string_view> tokens, std::span<const uint32_t> hashes,
                              std::span<TokenCounts*> found) {
    const std::size_t mask = slots_.size() - 1;
    const std::size_t count = std::min({tokens.size(), hashes.size(), found.size()});
    for (std::size_t i = 0; i < count && i < kAhead; ++i) {
        __builtin_prefetch(&slots_[hashes[i] & mask]);
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kAhead < count) {
            __builtin_prefetch(&slots_[hashes[i + kAhead] & mask]);
        }
        found[i] = Find(tokens[i], hashes[i]);
    }
}

void TokenCountTable::Insert(std::string_view token, uint32_t hash, TokenCounts counts) {
    Slot& slot = slots_[SlotOf(token, hash)];
    if (slot.offset != kEmpty || !HasRoomFor(token)) {
        return;
    }
    slot = {static_cast<uint32_t>(bytes_.size()), hash, counts};
    bytes_.push_back(static_cast<char>(token.size() & 0xff));
    bytes_.push_back(static_cast<char>(token.size() >> 8));
    bytes_.insert(bytes_.end(), token.begin(), token.end());
    if (8 * ++used_ > 5 * slots_.size()) {
        Grow(slots_.size() * 2);  // at most five eighths full, so that probes stay short
    }
}

void TokenCountTable::Assign(std::string_view token, uint32_t hash, TokenCounts counts) {
    if (TokenCounts* held = Find(token, hash)) {
        *held = counts;
    } else {
        Insert(token, hash, counts);
    }
}

void TokenCountTable::Grow(std::size_t slots) {
    if (slots <= slots_.size()) {
        return;
    }
    std::vector<Slot, LargeBufferAllocator<Slot>> old(slots);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.offset == kEmpty) {
            continue;
        }
        std::size_t i = slot.hash & mask;
        while (slots_[i].offset != kEmpty) {
            i = (i + 1) & mask;
        }
        slots_[i] = slot;
    }
}

}  // namespace bramvell
