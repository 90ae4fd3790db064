#pragma once

#include <string>
#include <string_view>

#include "classify/ChiSquareMath.h"

namespace bramvell {

class FilterSettings;
class OptionsFile;

// Which scorer judges mail that no rule decides: the option `scorer` of the options file.
enum class Scorer { Classic, ChiSquare };

bool ScorerOfName(std::string_view name, Scorer& scorer);
std::string_view ScorerName(Scorer scorer);

// The scorer an options file names; classic when the key is missing or its value unknown.
Scorer ScorerOfOptions(const OptionsFile& options);
// The scorer of the user's options file; classic when the file cannot be read.
Scorer StoredScorer();

// The chi-square store of a program folder: Data/chisquare.lmdb/.
std::string ChiSquareStoreFolder(const std::string& programFolder);

// The cutoffs of the Spam Filter Options' threshold level as the settings hold it now.
ChiSquareCutoffs ChiSquareCutoffsOf(const FilterSettings& settings);

}  // namespace bramvell
