#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "classify/ChiSquareClassifier.h"
#include "classify/OrderedChunks.h"

namespace bramvell {

// Scores many message files with the chi-square scorer, spread over `jobs` worker threads (at most 16;
// 1: all on the calling thread). Each thread reads the store through a snapshot of its own, all taken
// before any file is read, and keeps its own cache of counts; the scores are those of one file at a time.
class ChiSquareBatch {
  public:
    // Writes what one file gives; result is null when the file could not be read. Runs on the workers.
    using Format = std::function<void(std::string& out, std::string& err, const std::string& path,
                                      const ChiSquareResult* result)>;

    ChiSquareBatch(const ChiSquareStore& store, const ChiSquareClassifier& classifier)
        : store_(store), classifier_(classifier) {}

    // Returns how many files could not be read. `write` gets the text in file order.
    std::size_t Run(const std::vector<std::string>& files, int jobs, const Format& format,
                    const OrderedChunks::Write& write) const;

  private:
    const ChiSquareStore& store_;
    const ChiSquareClassifier& classifier_;
};

}  // namespace bramvell
