#include "classify/ScorerChoice.h"

#include "classify/ChiSquareStore.h"
#include "classify/TokenDataFolder.h"
#include "config/FilterSettings.h"
#include "config/OptionsFile.h"

namespace bramvell {

bool ScorerOfName(std::string_view name, Scorer& scorer) {
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

std::string_view ScorerName(Scorer scorer) {
    return scorer == Scorer::ChiSquare ? "chi-square" : "classic";
}

Scorer ScorerOfOptions(const OptionsFile& options) {
    Scorer scorer = Scorer::Classic;
    ScorerOfName(options.Get("scorer"), scorer);
    return scorer;
}

Scorer StoredScorer() {
    OptionsFile options;
    return options.Load() ? ScorerOfOptions(options) : Scorer::Classic;
}

std::string ChiSquareStoreFolder(const std::string& programFolder) {
    return DataFolder(programFolder) + "/" + std::string(ChiSquareStore::kFolderName);
}

ChiSquareCutoffs ChiSquareCutoffsOf(const FilterSettings& settings) {
    return CutoffsOfLevel(settings.thresholdEnabled != 0, settings.thresholdLevel);
}

}  // namespace bramvell
