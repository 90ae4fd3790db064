#include "classify/ChiSquareDeltas.h"

#include <algorithm>

#include "classify/TokenHead.h"

namespace bramvell {
namespace {

using Entry = ChiSquareDeltas::Entry;

// Below zero, zero or above as a's token orders before, with or after b's. Heads that differ order two
// tokens as their bytes do (the zero padding puts a shorter token first); equal heads compare the
// bytes after them.
int Compare(const Entry& a, const Entry& b) {
    if (a.head[0] != b.head[0]) {
        return a.head[0] < b.head[0] ? -1 : 1;
    }
    if (a.head[1] != b.head[1]) {
        return a.head[1] < b.head[1] ? -1 : 1;
    }
    const std::size_t skip = std::min<std::size_t>({16, a.token.size(), b.token.size()});
    return a.token.substr(skip).compare(b.token.substr(skip));
}

bool Before(const Entry& a, const Entry& b) {
    return Compare(a, b) < 0;
}

// Merges two sorted runs into out, a token in both summed into one entry; returns the end written.
Entry* MergeSumming(const Entry* a, const Entry* aEnd, const Entry* b, const Entry* bEnd, Entry* out) {
    while (a != aEnd && b != bEnd) {
        const int order = Compare(*a, *b);
        if (order < 0) {
            *out++ = *a++;
        } else if (order > 0) {
            *out++ = *b++;
        } else {
            *out = *a++;
            out->spam += b->spam;
            out->ham += b->ham;
            ++out;
            ++b;
        }
    }
    out = std::copy(a, aEnd, out);
    return std::copy(b, bEnd, out);
}

}  // namespace

void ChiSquareDeltas::Add(const TokenList& tokens, int32_t spam, int32_t ham) {
    summed_ = false;
    if (entries_.capacity() == 0) {
        entries_.reserve(kFirstRoom);
    }
    const std::size_t start = entries_.size();
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        Entry entry{{0, 0}, tokens[i], spam, ham};
        TokenHeadOf(entry.token, entry.head);
        entries_.push_back(entry);
    }
    // A message's tokens come sorted from the tokenizer; any other list is sorted here.
    if (!std::is_sorted(entries_.begin() + static_cast<std::ptrdiff_t>(start), entries_.end(), Before)) {
        std::stable_sort(entries_.begin() + static_cast<std::ptrdiff_t>(start), entries_.end(), Before);
    }
    if (entries_.size() > start) {
        runStarts_.push_back(start);
    }
}

void ChiSquareDeltas::AddSummed(std::span<const Entry> summed) {
    summed_ = false;
    if (!summed.empty()) {
        runStarts_.push_back(entries_.size());
        entries_.insert(entries_.end(), summed.begin(), summed.end());
    }
}

std::span<const Entry> ChiSquareDeltas::Summed(Buffer* scratch) {
    if (summed_) {
        return entries_;
    }
    // Sorted runs merged pairwise until one is left, a token common to two runs becoming one entry:
    // about log2(messages) passes over fewer entries each time.
    Buffer& spare = scratch != nullptr ? *scratch : spare_;
    if (runStarts_.size() > 1 && spare.capacity() < entries_.capacity()) {
        spare.reserve(entries_.capacity());
    }
    while (runStarts_.size() > 1) {
        spare.resize(entries_.size());
        std::vector<std::size_t> merged;
        const Entry* base = entries_.data();
        Entry* out = spare.data();
        for (std::size_t r = 0; r < runStarts_.size(); r += 2) {
            const Entry* first = base + runStarts_[r];
            const Entry* middle = r + 1 < runStarts_.size() ? base + runStarts_[r + 1] : base + entries_.size();
            const Entry* last = r + 2 < runStarts_.size() ? base + runStarts_[r + 2] : base + entries_.size();
            merged.push_back(static_cast<std::size_t>(out - spare.data()));
            out = MergeSumming(first, middle, middle, last, out);
        }
        spare.resize(static_cast<std::size_t>(out - spare.data()));
        entries_.swap(spare);
        runStarts_.swap(merged);
    }
    // Equal tokens now lie side by side: one entry each, their changes summed.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (kept > 0 && Compare(entries_[kept - 1], entries_[i]) == 0) {
            entries_[kept - 1].spam += entries_[i].spam;
            entries_[kept - 1].ham += entries_[i].ham;
        } else {
            entries_[kept++] = entries_[i];
        }
    }
    entries_.resize(kept);
    runStarts_.assign(kept > 0 ? 1 : 0, 0);
    summed_ = true;
    return entries_;
}

ChiSquareDeltas::MergedRuns::MergedRuns(std::span<const std::span<const Entry>> runs) {
    for (const std::span<const Entry> run : runs) {
        if (!run.empty()) {
            left_.push_back(run);
            most_ += run.size();
        }
    }
}

bool ChiSquareDeltas::MergedRuns::Next(Entry& entry) {
    // Few runs (one per tokenizing thread): the first token is found by looking at each.
    std::size_t first = left_.size();
    for (std::size_t r = 0; r < left_.size(); ++r) {
        if (!left_[r].empty() && (first == left_.size() || Before(left_[r].front(), left_[first].front()))) {
            first = r;
        }
    }
    if (first == left_.size()) {
        return false;
    }
    entry = left_[first].front();
    left_[first] = left_[first].subspan(1);
    for (std::size_t r = first + 1; r < left_.size(); ++r) {
        if (!left_[r].empty() && Compare(left_[r].front(), entry) == 0) {
            entry.spam += left_[r].front().spam;
            entry.ham += left_[r].front().ham;
            left_[r] = left_[r].subspan(1);
        }
    }
    return true;
}

}  // namespace bramvell
