// Chooses the chi-square scorer's parameters on a validation split: ChiSquareTune CORPUS [test].
// CORPUS holds spam/ and ham/; the files of each class, in byte-wise name order, are dealt out by
// index: i % 5 in {0, 1, 2} train, 3 validates, 4 is the held-out test. Without "test" it trains on
// 0-2 and prints, for a grid of parameters, the highest good score on the validation part and the
// share of its spam above it; with "test" it trains on 0-3 with the defaults and reports the test part.
// TUNE_QUICK=1 scores the validation part once, with the defaults or TUNE_S, TUNE_X and TUNE_DEV.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "classify/ChiSquareClassifier.h"
#include "classify/ChiSquareTrainer.h"
#include "classify/SampleFolder.h"

using namespace bramvell;

namespace {

struct Sample {
    bool spam = false;
    int part = 0;
    std::string path;
    std::vector<std::string> tokens;
};

std::vector<Sample> Load(const std::string& corpus, const MimeTokenizer& tokenizer) {
    std::vector<Sample> samples;
    for (const bool spam : {true, false}) {
        const std::vector<SampleEntry> entries = ListSampleFolder(corpus + (spam ? "/spam" : "/ham"));
        std::string bytes;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (ReadMessageFile(entries[i].path, bytes)) {
                samples.push_back({spam, static_cast<int>(i % 5), entries[i].path, tokenizer.Tokenize(bytes)});
            }
        }
    }
    return samples;
}

struct Model {
    std::unordered_map<std::string, TokenCounts> counts;
    MessageTotals totals;
};

Model Train(const std::vector<Sample>& samples, int lastPart) {
    Model model;
    for (const Sample& sample : samples) {
        if (sample.part > lastPart) {
            continue;
        }
        (sample.spam ? model.totals.spam : model.totals.ham) += 1;
        for (const std::string& token : sample.tokens) {
            TokenCounts& counts = model.counts[token];
            (sample.spam ? counts.spam : counts.ham) += 1;
        }
    }
    return model;
}

struct Scored {
    std::vector<int32_t> ham;
    std::vector<int32_t> spam;
};

Scored ScorePart(const std::vector<Sample>& samples, int part, const Model& model,
                 const ChiSquareParameters& parameters) {
    Scored scored;
    std::vector<TokenCounts> counts;
    for (const Sample& sample : samples) {
        if (sample.part != part) {
            continue;
        }
        counts.clear();
        for (const std::string& token : sample.tokens) {
            const auto it = model.counts.find(token);
            counts.push_back(it == model.counts.end() ? TokenCounts{} : it->second);
        }
        const int32_t score = ScoreTokenCounts(sample.tokens, counts, model.totals, parameters, {}, 0).score;
        // TUNE_MISSES lists the messages each scoring leaves on the wrong side of the level-1 cutoffs.
        if (std::getenv("TUNE_MISSES") != nullptr && (sample.spam ? score < 9000 : score > 2000)) {
            std::printf("miss %s %d %s\n", sample.spam ? "spam" : "good", score, sample.path.c_str());
        }
        (sample.spam ? scored.spam : scored.ham).push_back(score);
    }
    return scored;
}

std::size_t AtLeast(const std::vector<int32_t>& scores, int32_t cutoff) {
    return static_cast<std::size_t>(
        std::count_if(scores.begin(), scores.end(), [cutoff](int32_t s) { return s >= cutoff; }));
}

void Report(const char* label, const Scored& scored, const ChiSquareCutoffs& cutoffs) {
    const std::size_t goodAsSpam = AtLeast(scored.ham, cutoffs.spam);
    const std::size_t spamCaught = AtLeast(scored.spam, cutoffs.spam);
    const std::size_t hamUnsure = AtLeast(scored.ham, cutoffs.good + 1) - goodAsSpam;
    const std::size_t spamUnsure = AtLeast(scored.spam, cutoffs.good + 1) - spamCaught;
    std::printf("%s: %zu good, %zu spam; good judged spam %zu, spam let through %zu (unsure %zu), good unsure %zu; "
                "caught %.1f%%\n",
                label, scored.ham.size(), scored.spam.size(), goodAsSpam, scored.spam.size() - spamCaught,
                spamUnsure, hamUnsure, 100.0 * static_cast<double>(spamCaught) / static_cast<double>(scored.spam.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ChiSquareTune CORPUS [test]\n");
        return 2;
    }
    const bool test = argc > 2 && std::strcmp(argv[2], "test") == 0;
    for (const bool pairs : {true, false}) {
        const auto start = std::chrono::steady_clock::now();
        const MimeTokenizer tokenizer(MimeTokenizer::Options{pairs});
        const std::vector<Sample> samples = Load(argv[1], tokenizer);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("== word pairs %s: %zu messages read and tokenized in %.2f s (%.0f us each)\n",
                    pairs ? "on" : "off", samples.size(), seconds, 1e6 * seconds / static_cast<double>(samples.size()));
        if (test) {
            const Model model = Train(samples, 3);
            const Scored scored = ScorePart(samples, 4, model, ChiSquareParameters{});
            for (int level = 1; level <= 9; ++level) {
                char label[32];
                std::snprintf(label, sizeof label, "test, level %d", level);
                Report(label, scored, CutoffsOfLevel(true, level));
            }
            continue;
        }
        const Model model = Train(samples, 2);
        if (std::getenv("TUNE_QUICK") != nullptr) {
            // One run with the built-in parameters: the validation part at level 1, and its best cutoff.
            ChiSquareParameters quick;
            if (const char* v = std::getenv("TUNE_S")) quick.strength = std::atof(v);
            if (const char* v = std::getenv("TUNE_X")) quick.prior = std::atof(v);
            if (const char* v = std::getenv("TUNE_DEV")) quick.minDeviation = std::atof(v);
            const Scored scored = ScorePart(samples, 3, model, quick);
            Report("validation, level 1", scored, CutoffsOfLevel(true, 1));
            const int32_t highestGood = *std::max_element(scored.ham.begin(), scored.ham.end());
            std::printf("highest good %d, spam above it %.2f%%\n", highestGood,
                        100.0 * static_cast<double>(AtLeast(scored.spam, highestGood + 1)) /
                            static_cast<double>(scored.spam.size()));
            break;
        }
        for (const double strength : {0.1, 0.3, 0.5, 1.0}) {
            for (const double prior : {0.4, 0.45, 0.5, 0.55}) {
                for (const double deviation : {0.0, 0.1, 0.2, 0.3, 0.4}) {
                    const ChiSquareParameters parameters{strength, prior, deviation};
                    const Scored scored = ScorePart(samples, 3, model, parameters);
                    const int32_t highestGood = *std::max_element(scored.ham.begin(), scored.ham.end());
                    std::vector<int32_t> ham = scored.ham;
                    std::sort(ham.rbegin(), ham.rend());
                    const std::size_t above = AtLeast(scored.spam, highestGood + 1);
                    const std::size_t at9000 = AtLeast(scored.spam, 9000);
                    std::printf("s=%.2f x=%.2f dev=%.2f: good max %d (next %d %d), spam above it %.2f%%, "
                                "good>=9000 %zu spam>=9000 %.2f%%, good<=2000 %zu/%zu spam<=2000 %zu\n",
                                strength, prior, deviation, highestGood, ham[1], ham[2],
                                100.0 * static_cast<double>(above) / static_cast<double>(scored.spam.size()),
                                AtLeast(scored.ham, 9000),
                                100.0 * static_cast<double>(at9000) / static_cast<double>(scored.spam.size()),
                                scored.ham.size() - AtLeast(scored.ham, 2001), scored.ham.size(),
                                scored.spam.size() - AtLeast(scored.spam, 2001));
                }
            }
        }
    }
    return 0;
}
