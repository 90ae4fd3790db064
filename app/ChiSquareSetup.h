#pragma once

#include <memory>
#include <string>
#include <vector>

#include "classify/ChiSquareClassifier.h"
#include "classify/ChiSquareStore.h"
#include "classify/ScorerChoice.h"

namespace bramvell {

// Takes "--scorer NAME" or "--scorer=NAME" at arguments[i] (moving i past a separate value). Returns
// false when arguments[i] is not the option; sets bad when its value is missing or unknown.
inline bool TakeScorerOption(const std::vector<std::string>& arguments, std::size_t& i, Scorer& scorer,
                             bool& bad) {
    const std::string& argument = arguments[i];
    std::string value;
    if (argument == "--scorer") {
        if (i + 1 >= arguments.size()) {
            bad = true;
            return true;
        }
        value = arguments[++i];
    } else if (argument.rfind("--scorer=", 0) == 0) {
        value = argument.substr(9);
    } else {
        return false;
    }
    bad = !ScorerOfName(value, scorer);
    return true;
}

inline const char* VerdictWord(ChiSquareVerdict verdict) {
    switch (verdict) {
        case ChiSquareVerdict::Spam:
            return "spam";
        case ChiSquareVerdict::Unsure:
            return "unsure";
        case ChiSquareVerdict::Good:
            break;
    }
    return "ham";
}

}  // namespace bramvell
