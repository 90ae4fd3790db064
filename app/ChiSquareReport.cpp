#include "app/ChiSquareReport.h"

#include <cstdio>

#include "app/ChiSquareSetup.h"

namespace bramvell {
namespace {

void AppendProbabilityText(std::string& out, const ChiSquareResult& result) {
    if (result.verdict != ChiSquareVerdict::Spam) {
        out += "--";
        return;
    }
    out += std::to_string(std::min(99, result.score / 100));
}

void AppendTokens(std::string& out, const ChiSquareResult& result) {
    char number[16];
    for (std::size_t i = 0; i < result.telling.size(); ++i) {
        if (i != 0) {
            out += ',';
        }
        for (char c : result.telling[i].token) {
            switch (c) {
                case ',':
                    out += "%2C";
                    break;
                case '=':
                    out += "%3D";
                    break;
                case '%':
                    out += "%25";
                    break;
                default:
                    out += c;
            }
        }
        std::snprintf(number, sizeof number, "=%.4f", result.telling[i].probability);
        out += number;
    }
}

}  // namespace

void AppendChiSquareTsv(std::string& out, const std::string& path, const ChiSquareResult& result) {
    out += path;
    out += '\t';
    out += VerdictWord(result.verdict);
    out += '\t';
    out += std::to_string(result.score);
    out += '\t';
    AppendProbabilityText(out, result);
    out += "\t-\t";
    AppendTokens(out, result);
    out += '\n';
}

void AppendChiSquareReport(std::string& out, const std::string& path, const ChiSquareResult& result) {
    out += path;
    out += "\n  verdict: ";
    out += result.verdict == ChiSquareVerdict::Good ? "not spam" : VerdictWord(result.verdict);
    out += "\n  score: " + std::to_string(result.score);
    out += "\n  tokens used: " + std::to_string(result.tokensUsed);
    out += "\n  most telling: ";
    AppendTokens(out, result);
    out += '\n';
}

}  // namespace bramvell
