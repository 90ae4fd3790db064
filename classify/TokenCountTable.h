#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "classify/ChiSquareCounts.h"
#include "classify/LargeBufferAllocator.h"

namespace bramvell {

// Token → counts in an open-addressing hash table, the tokens' bytes back to back: what a chi-square
// store held for each token, as read from a snapshot or as written by a learning run. It holds at most
// kMaxBytes of tokens; past that, new tokens are not taken.
class TokenCountTable {
  public:
    static constexpr std::size_t kMaxBytes = std::size_t{1} << 30;  // offsets are 32-bit

    TokenCountTable();

    static uint32_t HashOf(std::string_view token);
    // The counts held for the token, or nullptr.
    TokenCounts* Find(std::string_view token, uint32_t hash);
    const TokenCounts* Find(std::string_view token, uint32_t hash) const;
    // Takes a token not held yet, when there is room.
    void Insert(std::string_view token, uint32_t hash, TokenCounts counts);
    // Finds many tokens, found[i] for tokens[i] with hashes[i] its hash: the slots are fetched from
    // memory a few tokens ahead, so that their cache misses overlap instead of following one another.
    void FindAll(std::span<const std::string_view> tokens, std::span<const uint32_t> hashes,
                 std::span<TokenCounts*> found);
    struct Assignment {
        std::string_view token;
        TokenCounts counts;
    };
    // Sets the counts of each token in turn, taking one not held yet when there is room; slots are
    // fetched a few ahead as FindAll does.
    void AssignAll(std::span<const Assignment> assignments);
    bool HasRoomFor(std::string_view token) const {
        return token.size() <= kMaxTokenBytes && bytes_.size() + token.size() + 2 <= kMaxBytes;
    }
    std::size_t Size() const { return used_; }

  private:
    // Sixteen bytes, so that more of them share a cache line; a token's length is kept in two bytes
    // before its own.
    static constexpr uint32_t kEmpty = UINT32_MAX;
    static constexpr std::size_t kMaxTokenBytes = UINT16_MAX;
    struct Slot {
        uint32_t offset = kEmpty;  // of the token's length and bytes in bytes_
        uint32_t hash = 0;
        TokenCounts counts;
    };

    std::string_view KeyOf(const Slot& slot) const {
        const auto* at = reinterpret_cast<const unsigned char*>(bytes_.data() + slot.offset);
        return std::string_view(bytes_.data() + slot.offset + 2,
                                static_cast<std::size_t>(at[0] | at[1] << 8));
    }
    // The slot holding the token, or the empty slot where it would go.
    std::size_t SlotOf(std::string_view token, uint32_t hash) const;
    void Assign(std::string_view token, uint32_t hash, TokenCounts counts);
    void Grow(std::size_t slots);  // to that many, a power of two

    // Tens of megabytes for a large run, in huge pages so that growing them costs few faults.
    std::vector<char, LargeBufferAllocator<char>> bytes_;
    std::vector<Slot, LargeBufferAllocator<Slot>> slots_;
    std::size_t used_ = 0;
};

}  // namespace bramvell
