// Checks that the quick reading of one-part messages gives the same tokens as GMime's parse:
// TokenizerParity FOLDER|FILE... tokenizes every message file of each folder (or each file named) both
// ways, names each file whose tokens differ with the tokens only one way gives, and prints the time
// each way took. Exit status 1 when any file differs.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "classify/ChiSquareTrainer.h"
#include "classify/MimeTokenizer.h"
#include "classify/SampleFolder.h"

using namespace bramvell;

int main(int argc, char** argv) {
    const MimeTokenizer quick(MimeTokenizer::Options{true, true});
    const MimeTokenizer parsed(MimeTokenizer::Options{true, false});
    std::size_t files = 0;
    std::size_t differing = 0;
    double quickSeconds = 0;
    double parsedSeconds = 0;
    std::string bytes;
    for (int a = 1; a < argc; ++a) {
        std::vector<SampleEntry> entries = ListSampleFolder(argv[a]);
        if (entries.empty()) {
            entries.push_back(SampleEntry{argv[a]});
        }
        for (const SampleEntry& entry : entries) {
            if (!ReadMessageFile(entry.path, bytes)) {
                continue;
            }
            ++files;
            const auto start = std::chrono::steady_clock::now();
            const std::vector<std::string> viaQuick = quick.Tokenize(bytes);
            const auto middle = std::chrono::steady_clock::now();
            const std::vector<std::string> viaParse = parsed.Tokenize(bytes);
            const auto end = std::chrono::steady_clock::now();
            quickSeconds += std::chrono::duration<double>(middle - start).count();
            parsedSeconds += std::chrono::duration<double>(end - middle).count();
            if (viaQuick != viaParse) {
                ++differing;
                std::printf("differs: %s (%zu tokens quick, %zu parsed)\n", entry.path.c_str(),
                            viaQuick.size(), viaParse.size());
                std::vector<std::string> onlyQuick;
                std::vector<std::string> onlyParse;
                std::set_difference(viaQuick.begin(), viaQuick.end(), viaParse.begin(), viaParse.end(),
                                    std::back_inserter(onlyQuick));
                std::set_difference(viaParse.begin(), viaParse.end(), viaQuick.begin(), viaQuick.end(),
                                    std::back_inserter(onlyParse));
                for (const std::string& token : onlyQuick) {
                    std::printf("  quick only: [%s]\n", token.c_str());
                }
                for (const std::string& token : onlyParse) {
                    std::printf("  parsed only: [%s]\n", token.c_str());
                }
            }
        }
    }
    std::printf("%zu files, %zu differ; quick %.2f s, parsed %.2f s\n", files, differing, quickSeconds,
                parsedSeconds);
    return differing == 0 ? 0 : 1;
}
