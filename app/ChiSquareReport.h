#pragma once

#include <string>

#include "classify/ChiSquareClassifier.h"

namespace bramvell {

// The chi-square scorer's lines of `bramvell classify`. TSV columns: path, spam|ham|unsure, score
// (0..10000), probability text (the score's two leading digits for spam, "--" otherwise), rule ("-":
// no rule decides here) and the most telling tokens as token=f(w) with four decimals, comma-separated;
// a ',', '=' or '%' inside a token is written %2C, %3D, %25.
void AppendChiSquareTsv(std::string& out, const std::string& path, const ChiSquareResult& result);
void AppendChiSquareReport(std::string& out, const std::string& path, const ChiSquareResult& result);

}  // namespace bramvell
