#include "classify/ChiSquareClassifier.h"

#include <algorithm>
#include <cmath>

namespace bramvell {

namespace {

template <typename Text>
ChiSquareResult ScoreCounts(std::span<const Text> tokens, std::span<const TokenCounts> counts,
                            const MessageTotals& totals, const ChiSquareParameters& parameters,
                            const ChiSquareCutoffs& cutoffs, std::size_t tellingCount) {
    std::vector<double> used;
    std::vector<std::size_t> usedIndex;
    used.reserve(tokens.size());
    usedIndex.reserve(tokens.size());
    const std::size_t count = std::min(tokens.size(), counts.size());
    for (std::size_t i = 0; i < count; ++i) {
        const double f =
            RobinsonProbability(counts[i].spam, counts[i].ham, totals.spam, totals.ham, parameters);
        if (std::fabs(f - 0.5) >= parameters.minDeviation) {
            used.push_back(f);
            usedIndex.push_back(i);
        }
    }
    ChiSquareResult result;
    result.score = FisherScore(used);
    result.verdict = VerdictOfScore(result.score, cutoffs);
    result.tokensUsed = used.size();

    std::vector<std::size_t> order(used.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    const std::size_t shown = std::min(tellingCount, order.size());
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(shown), order.end(),
                      [&used](std::size_t a, std::size_t b) {
                          const double da = std::fabs(used[a] - 0.5);
                          const double db = std::fabs(used[b] - 0.5);
                          return da != db ? da > db : a < b;
                      });
    for (std::size_t i = 0; i < shown; ++i) {
        result.telling.push_back({std::string(tokens[usedIndex[order[i]]]), used[order[i]]});
    }
    return result;
}

}  // namespace

ChiSquareResult ScoreTokenCounts(std::span<const std::string> tokens, std::span<const TokenCounts> counts,
                                 const MessageTotals& totals, const ChiSquareParameters& parameters,
                                 const ChiSquareCutoffs& cutoffs, std::size_t tellingCount) {
    return ScoreCounts(tokens, counts, totals, parameters, cutoffs, tellingCount);
}

ChiSquareResult ScoreTokenCounts(std::span<const std::string_view> tokens, std::span<const TokenCounts> counts,
                                 const MessageTotals& totals, const ChiSquareParameters& parameters,
                                 const ChiSquareCutoffs& cutoffs, std::size_t tellingCount) {
    return ScoreCounts(tokens, counts, totals, parameters, cutoffs, tellingCount);
}

ChiSquareClassifier::ChiSquareClassifier(const ChiSquareStore& store, ChiSquareParameters parameters,
                                         ChiSquareCutoffs cutoffs, MimeTokenizer::Options tokenizerOptions)
    : store_(store), parameters_(parameters), cutoffs_(cutoffs), tokenizer_(tokenizerOptions) {}

ChiSquareResult ChiSquareClassifier::Classify(std::span<const char> message) const {
    const ChiSquareStore::Snapshot snapshot(store_);
    return Classify(message, snapshot);
}

ChiSquareResult ChiSquareClassifier::Classify(std::span<const char> message,
                                              const ChiSquareStore::Snapshot& snapshot) const {
    const std::vector<std::string> tokens = tokenizer_.Tokenize(message);
    std::vector<TokenCounts> counts;
    counts.reserve(tokens.size());
    for (const std::string& token : tokens) {
        counts.push_back(snapshot.Counts(token));
    }
    return ScoreTokenCounts(tokens, counts, snapshot.Totals(), parameters_, cutoffs_);
}

ChiSquareResult ChiSquareClassifier::Classify(std::span<const char> message, ChiSquareCountCache& cache) const {
    const std::vector<std::string_view> tokens = tokenizer_.TokenizeInPlace(message);
    std::vector<TokenCounts> counts;
    cache.CountsOf(tokens, counts);
    return ScoreTokenCounts(tokens, counts, cache.Totals(), parameters_, cutoffs_);
}

ChiSquareResult ChiSquareClassifier::ClassifyLines(std::span<const std::string_view> lines) const {
    std::string message;
    for (std::string_view line : lines) {
        if (message.size() + line.size() + 1 > MimeTokenizer::kMaxMessageBytes) {
            break;  // the tokenizer reads no further than this anyway
        }
        message += line;
        message += '\n';
    }
    return Classify(message);
}

}  // namespace bramvell
