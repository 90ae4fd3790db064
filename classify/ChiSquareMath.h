#pragma once

#include <cstdint>
#include <span>

namespace bramvell {

// What the chi-square scorer is tuned by. The defaults were chosen on a validation split of the
// SpamAssassin corpus (bench/README.md, "Chi-square scorer").
struct ChiSquareParameters {
    double strength = 2.0;         // s: how many messages' worth the prior x counts for
    double prior = 0.40;           // x: the assumed spam probability of a token seen in too few messages
    double minDeviation = 0.35;    // tokens with |f(w) - 0.5| below this are left out
};

// Robinson's degree of belief in a token seen in spamCount of spamMessages spam and hamCount of
// hamMessages good messages: f(w) = (s·x + n·p(w)) / (s + n), where n = spamCount + hamCount and
// p(w) = b / (b + g) with b = spamCount / spamMessages, g = hamCount / hamMessages. A message count
// of 0 divides as 1. An unseen token (n = 0) gets x.
double RobinsonProbability(uint64_t spamCount, uint64_t hamCount, uint64_t spamMessages, uint64_t hamMessages,
                           const ChiSquareParameters& parameters);

// The probability that a chi-square variable with 2·halfDegrees degrees of freedom is at least chi:
// e^(-m) · Σ_{i<halfDegrees} m^i / i!, m = chi / 2, summed in logarithms so that no term underflows.
double InverseChiSquare(double chi, uint64_t halfDegrees);

// Fisher's combination of the token probabilities: H = C⁻¹(−2 Σ ln f, 2n), S = C⁻¹(−2 Σ ln(1 − f), 2n),
// and the spam indicator (1 + H − S) / 2, rounded to units of 1/10000 (0..10000). 5000 when there is no
// token. Probabilities are clamped into [1e-6, 1 − 1e-6] so that a logarithm is always finite.
int32_t FisherScore(std::span<const double> probabilities);

// The verdicts of the chi-square scorer: spam at or above the spam cutoff, good at or below the good
// cutoff, unsure between them (delivered unchanged).
enum class ChiSquareVerdict { Good, Unsure, Spam };

struct ChiSquareCutoffs {
    int32_t spam = 6000;
    int32_t good = 2000;
};

ChiSquareVerdict VerdictOfScore(int32_t score, const ChiSquareCutoffs& cutoffs);

// The cutoffs for a threshold level of the Spam Filter Options (1..9, 1 the default); any other level,
// or the threshold switched off, reads as level 1.
ChiSquareCutoffs CutoffsOfLevel(bool thresholdEnabled, int thresholdLevel);

}  // namespace bramvell
