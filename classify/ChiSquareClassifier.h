#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "classify/ChiSquareCountCache.h"
#include "classify/ChiSquareMath.h"
#include "classify/ChiSquareStore.h"
#include "classify/MimeTokenizer.h"

namespace bramvell {

struct TellingToken {
    std::string token;
    double probability = 0;  // f(w)
};

// The chi-square scorer's verdict on one message.
struct ChiSquareResult {
    ChiSquareVerdict verdict = ChiSquareVerdict::Unsure;
    int32_t score = 5000;             // 0..10000
    std::size_t tokensUsed = 0;       // tokens far enough from 0.5 to count
    std::vector<TellingToken> telling;  // the most telling, furthest from 0.5 first
};

inline constexpr std::size_t kTellingTokenCount = 10;

// Scores tokens whose counts are known (counts[i] belongs to tokens[i]): the pure arithmetic of the
// scorer, shared by the classifier and the tuning tool.
ChiSquareResult ScoreTokenCounts(std::span<const std::string> tokens, std::span<const TokenCounts> counts,
                                 const MessageTotals& totals, const ChiSquareParameters& parameters,
                                 const ChiSquareCutoffs& cutoffs, std::size_t tellingCount = kTellingTokenCount);
ChiSquareResult ScoreTokenCounts(std::span<const std::string_view> tokens, std::span<const TokenCounts> counts,
                                 const MessageTotals& totals, const ChiSquareParameters& parameters,
                                 const ChiSquareCutoffs& cutoffs, std::size_t tellingCount = kTellingTokenCount);

// What the filter path calls: raw message bytes (or the message's lines) in, verdict, score and
// telling tokens out, scored against the store as it stands (one read transaction per call, so a
// `bramvell learn` running beside it is seen message by message). Const and free of shared state
// besides the store: one object may serve several threads.
class ChiSquareClassifier {
  public:
    ChiSquareClassifier(const ChiSquareStore& store, ChiSquareParameters parameters, ChiSquareCutoffs cutoffs,
                        MimeTokenizer::Options tokenizerOptions = {});

    ChiSquareResult Classify(std::span<const char> message) const;
    // Against a snapshot the caller holds, for many messages in a row.
    ChiSquareResult Classify(std::span<const char> message, const ChiSquareStore::Snapshot& snapshot) const;
    // Against a snapshot through a cache of its counts, for many messages in a row (the same scores,
    // found faster).
    ChiSquareResult Classify(std::span<const char> message, ChiSquareCountCache& cache) const;
    // The message as lines without their line ends, as the filter holds a retrieved message.
    ChiSquareResult ClassifyLines(std::span<const std::string_view> lines) const;

  private:
    const ChiSquareStore& store_;
    ChiSquareParameters parameters_;
    ChiSquareCutoffs cutoffs_;
    MimeTokenizer tokenizer_;
};

}  // namespace bramvell
