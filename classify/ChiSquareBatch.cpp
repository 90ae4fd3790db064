#include "classify/ChiSquareBatch.h"

#include <algorithm>
#include <memory>

#include "classify/ChiSquareCountCache.h"
#include "classify/ChiSquareTrainer.h"

namespace bramvell {
namespace {

// Each worker's snapshot takes one of the store's reader slots (126 in all, shared with the filter and
// every other process reading it); more workers than this would not be faster anyway.
constexpr int kMaxWorkers = 16;

// One worker's reading state; the cache refers to the snapshot, so it is declared after it.
struct WorkerState {
    explicit WorkerState(const ChiSquareStore& store) : snapshot(store), counts(snapshot) {}
    ChiSquareStore::Snapshot snapshot;
    ChiSquareCountCache counts;
    std::string bytes;
};

}  // namespace

std::size_t ChiSquareBatch::Run(const std::vector<std::string>& files, int jobs, const Format& format,
                                const OrderedChunks::Write& write) const {
    return OrderedChunks::Run(
        files.size(), std::min(jobs, kMaxWorkers),
        [&]() -> OrderedChunks::Worker {
            auto state = std::make_shared<WorkerState>(store_);
            return [this, &files, &format, state](std::size_t first, std::size_t count, ChunkText& text) {
                for (std::size_t i = first; i < first + count; ++i) {
                    if (!ReadMessageFile(files[i], state->bytes)) {
                        ++text.failed;
                        format(text.out, text.err, files[i], nullptr);
                        continue;
                    }
                    const ChiSquareResult result = classifier_.Classify(state->bytes, state->counts);
                    format(text.out, text.err, files[i], &result);
                }
            };
        },
        write);
}

}  // namespace bramvell
