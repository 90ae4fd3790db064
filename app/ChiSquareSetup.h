#pragma once

#include <memory>
#include <string>
#include <vector>

#include "classify/ChiSquareClassifier.h"
#include "classify/ChiSquareStore.h"
#include "classify/TokenDataFolder.h"
#include "config/FilterSettings.h"
#include "config/OptionsFile.h"

namespace bramvell {

enum class Scorer { Classic, ChiSquare };

inline bool ScorerOfName(const std::string& name, Scorer& scorer) {
    if (name == "classic") {
        scorer = Scorer::Classic;
        return true;
    }
    if (name == "chi-square") {
        scorer = Scorer::ChiSquare;
        return true;
    }
    return false;
}

// The scorer of the options file; classic when the file or the key is missing.
inline Scorer StoredScorer() {
    OptionsFile options;
    Scorer scorer = Scorer::Classic;
    if (options.Load()) {
        ScorerOfName(options.Get("scorer"), scorer);
    }
    return scorer;
}

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

// The chi-square store of a program folder: Data/chisquare.lmdb/.
inline std::string ChiSquareStoreFolder(const std::string& programFolder) {
    return DataFolder(programFolder) + "/" + std::string(ChiSquareStore::kFolderName);
}

// The cutoffs of the Spam Filter Options' threshold level.
inline ChiSquareCutoffs ChiSquareCutoffsOf(const FilterSettings& settings) {
    return CutoffsOfLevel(settings.thresholdEnabled != 0, settings.thresholdLevel);
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
