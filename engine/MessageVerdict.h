#pragma once

#include <array>

#include "classify/ClassificationResult.h"

namespace bramvell {

// The verdict on one collected message, from the analysis to the engine's actions; the connection keeps
// it for the error reply.
struct MessageVerdict {
    bool isSpam = false;
    std::array<char, 2> probabilityText{'?', '?'};  // "??" when the analysis leaves it unset
    SenderText sender;                              // the From value, cut by the analysis
};

}  // namespace bramvell
