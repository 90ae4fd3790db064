#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "classify/LargeBufferAllocator.h"
#include "classify/TokenList.h"

namespace bramvell {

// The changes to the token counts of one batch of messages, summed per token and in byte-wise token
// order, as the store writes them. Each message adds its tokens with the same change to the two
// counts; a token listed twice counts twice. Views into the messages' tokens, which must outlive this.
class ChiSquareDeltas {
  public:
    struct Entry {
        uint64_t head[2];  // the first sixteen bytes as big-endian words, zero past the end
        std::string_view token;
        // One store write sums the changes of at most a few hundred thousand messages, each counted at
        // most kMaxWeight times: far inside 32 bits.
        int32_t spam;
        int32_t ham;
    };
    using Buffer = std::vector<Entry, LargeBufferAllocator<Entry>>;

    // Room for this many entries is mapped at the first change: address space only (its pages come as
    // they are filled), so that a batch never copies its entries to grow.
    static constexpr std::size_t kFirstRoom = std::size_t{1} << 20;

    // Forgets what was added, keeping the buffers for the next batch.
    void Clear() {
        entries_.clear();
        spare_.clear();
        runStarts_.clear();
        summed_ = false;
    }
    void Reserve(std::size_t tokens) { entries_.reserve(tokens); }
    void Add(const TokenList& tokens, int32_t spam, int32_t ham);
    // Adds entries summed already, as Summed gives them (its views must outlive this too).
    void AddSummed(std::span<const Entry> summed);
    bool Empty() const { return entries_.empty(); }
    // Merges what was added into one entry per token, in token order. Given scratch, merges through it
    // instead of a buffer of its own, and leaves one of its own buffers there: deltas that are never
    // summed at the same time may share one.
    std::span<const Entry> Summed(Buffer* scratch = nullptr);

    // Walks summed runs (each as Summed gives it) as one: each token once, in token order, its changes
    // summed across the runs. So a batch summed in parts is written without merging it into one first.
    class MergedRuns {
      public:
        explicit MergedRuns(std::span<const std::span<const Entry>> runs);
        std::size_t MostEntries() const { return most_; }  // the entries of all runs
        // The next token's entry; false once every run is walked.
        bool Next(Entry& entry);

      private:
        std::vector<std::span<const Entry>> left_;  // what each run has left
        std::size_t most_ = 0;
    };

  private:
    Buffer entries_;
    Buffer spare_;
    std::vector<std::size_t> runStarts_;  // where each sorted run of entries_ begins
    bool summed_ = false;                 // nothing added since Summed
};

}  // namespace bramvell
