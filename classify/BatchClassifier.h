#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "classify/ClassificationResult.h"
#include "classify/TokenProbabilities.h"
#include "classify/TokenScorer.h"

namespace bramvell {

class FilterSettings;
class SubjectMatcher;

// Classifies many message files in one go: the probabilities of the loaded tables are worked out once
// and shared, and the files are spread over `jobs` worker threads (1: all on the calling thread), each
// with its own classifier. The verdicts are those of MessageClassifier file by file.
class BatchClassifier {
  public:
    // Writes what one file gives: its text for standard output to `out`, any complaint to `err`.
    // result is null when the file could not be read. Runs on the worker threads.
    using Format = std::function<void(std::string& out, std::string& err, const std::string& path,
                                      const ClassificationResult* result, const TopTokenSlots& slots)>;
    // Receives the formatted text of consecutive files, in the order of the input, on the calling thread.
    using Write = std::function<void(std::string_view out, std::string_view err)>;

    // Nothing may learn into settings.tokenTables while the object lives.
    BatchClassifier(const FilterSettings& settings, const SubjectMatcher* passphrases);

    // Returns how many files could not be read.
    std::size_t Run(const std::vector<std::string>& files, int jobs, const Format& format,
                    const Write& write);

  private:
    const FilterSettings& settings_;
    const SubjectMatcher* passphrases_;
    TokenProbabilities probabilities_;
};

}  // namespace bramvell
