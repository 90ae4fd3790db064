#include "classify/ChiSquareMath.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "config/FilterSettings.h"

namespace bramvell {
namespace {

constexpr double kClamp = 1e-6;

// ln i, from a table worked out once for the i a message's series meets (it has at most 8000 tokens).
double LogOf(uint64_t i) {
    constexpr std::size_t kTableSize = 8192;
    static const std::vector<double> table = [] {
        std::vector<double> logs(kTableSize);
        for (std::size_t j = 1; j < kTableSize; ++j) {
            logs[j] = std::log(static_cast<double>(j));
        }
        return logs;
    }();
    return i < table.size() ? table[i] : std::log(static_cast<double>(i));
}

double AtLeastOne(uint64_t count) {
    return count == 0 ? 1.0 : static_cast<double>(count);
}

}  // namespace

double RobinsonProbability(uint64_t spamCount, uint64_t hamCount, uint64_t spamMessages, uint64_t hamMessages,
                           const ChiSquareParameters& parameters) {
    const double n = static_cast<double>(spamCount) + static_cast<double>(hamCount);
    if (n == 0) {
        return parameters.prior;
    }
    const double b = static_cast<double>(spamCount) / AtLeastOne(spamMessages);
    const double g = static_cast<double>(hamCount) / AtLeastOne(hamMessages);
    const double p = b / (b + g);
    const double s = parameters.strength;
    return (s * parameters.prior + n * p) / (s + n);
}

double InverseChiSquare(double chi, uint64_t halfDegrees) {
    if (halfDegrees == 0) {
        return 0.0;
    }
    const double m = chi / 2.0;
    if (m <= 0) {
        return 1.0;
    }
    // log of term i: -m + i ln m - ln i!; the terms rise to i ≈ m and fall after it.
    const double logM = std::log(m);
    double logTerm = -m;
    double largest = logTerm;
    for (uint64_t i = 1; i < halfDegrees; ++i) {
        logTerm += logM - LogOf(i);
        largest = std::max(largest, logTerm);
    }
    double sum = 0;
    logTerm = -m;
    sum += std::exp(logTerm - largest);
    for (uint64_t i = 1; i < halfDegrees; ++i) {
        logTerm += logM - LogOf(i);
        sum += std::exp(logTerm - largest);
    }
    return std::min(1.0, std::exp(largest + std::log(sum)));
}

int32_t FisherScore(std::span<const double> probabilities) {
    if (probabilities.empty()) {
        return 5000;
    }
    double logGood = 0;  // Σ ln f
    double logSpam = 0;  // Σ ln (1 − f)
    for (double f : probabilities) {
        f = std::clamp(f, kClamp, 1.0 - kClamp);
        logGood += std::log(f);
        logSpam += std::log(1.0 - f);
    }
    const uint64_t n = probabilities.size();
    const double h = InverseChiSquare(-2.0 * logGood, n);
    const double s = InverseChiSquare(-2.0 * logSpam, n);
    const double indicator = (1.0 + h - s) / 2.0;
    return static_cast<int32_t>(std::lround(std::clamp(indicator, 0.0, 1.0) * 10000.0));
}

ChiSquareVerdict VerdictOfScore(int32_t score, const ChiSquareCutoffs& cutoffs) {
    if (score >= cutoffs.spam) {
        return ChiSquareVerdict::Spam;
    }
    if (score <= cutoffs.good) {
        return ChiSquareVerdict::Good;
    }
    return ChiSquareVerdict::Unsure;
}

ChiSquareCutoffs CutoffsOfLevel(bool thresholdEnabled, int thresholdLevel) {
    // Level 1 is the cutoff chosen on the validation split; each level above it asks for more
    // certainty before calling a message spam, as a higher classic threshold does.
    static constexpr std::array<int32_t, kMaxThresholdLevel> kSpamCutoffs = {6000, 7000, 8000, 9000, 9500,
                                                                             9800, 9900, 9950, 9990};
    constexpr int32_t kGoodCutoff = 2000;
    int level = thresholdLevel;
    if (!thresholdEnabled || level < kMinThresholdLevel || level > kMaxThresholdLevel) {
        level = kMinThresholdLevel;
    }
    return {kSpamCutoffs[static_cast<std::size_t>(level - 1)], kGoodCutoff};
}

}  // namespace bramvell
