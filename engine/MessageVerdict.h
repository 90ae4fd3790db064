#pragma once

#include <array>
#include <cstdint>

#include "classify/ClassificationResult.h"

namespace bramvell {

// What decided a verdict.
enum class VerdictBasis : uint8_t { FromToRule, PassphraseRule, ClassicScore, ChiSquareScore };

// The verdict on one collected message, from the analysis to the engine's actions; the connection keeps
// it for the error reply.
struct MessageVerdict {
    bool isSpam = false;
    // The chi-square score fell between its cutoffs: not spam, so delivered unchanged like good mail.
    bool isUnsure = false;
    std::array<char, 2> probabilityText{'?', '?'};  // "??" when the analysis leaves it unset
    SenderText sender;                              // the From value, cut by the analysis

    // For reports of the verdict (a verbose run); the engine's actions read neither.
    VerdictBasis basis = VerdictBasis::ClassicScore;
    int32_t score = 0;  // 0..10000 when a score decided
};

}  // namespace bramvell
