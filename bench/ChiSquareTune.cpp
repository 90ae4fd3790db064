// Chooses the chi-square scorer's parameters on a validation split: ChiSquareTune CORPUS [test].
// CORPUS holds spam/ and ham/; the files of each class, in byte-wise name order, are dealt out by
// index: i % 5 in {0, 1, 2} train, 3 validates, 4 is the held-out test. Without "test" it trains on
// 0-2 and prints, for a grid of parameters, the highest good score on the validation part and the
// share of its spam above it; with "test" it trains on 0-3 with the defaults and reports the test part.
// TUNE_QUICK=1 scores the validation part once, with the defaults or TUNE_S, TUNE_X and TUNE_DEV;
// TUNE_FOLD=K validates on part K (0-3) instead, learning from the other three of 0-3; TUNE_DROP
// leaves out the tokens with the given prefixes.
// Training includes training on errors (TUNE_TOE=0 leaves it out); TUNE_MISSES=1 lists the misjudged
// messages, TUNE_EXPLAIN=NAME the telling tokens of the messages whose path holds NAME.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "classify/ChiSquareClassifier.h"
#include "classify/ChiSquareStore.h"
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

// TUNE_DROP=PREFIX,PREFIX...: leaves out the tokens that begin with any of them (an experiment).
void DropTokens(std::vector<std::string>& tokens) {
    static const std::vector<std::string> prefixes = [] {
        std::vector<std::string> list;
        if (const char* drop = std::getenv("TUNE_DROP")) {
            std::string all = drop;
            for (std::size_t at = 0; at <= all.size();) {
                const std::size_t comma = std::min(all.find(',', at), all.size());
                if (comma > at)
                    list.push_back(all.substr(at, comma - at));
                at = comma + 1;
            }
        }
        return list;
    }();
    if (prefixes.empty())
        return;
    std::erase_if(tokens, [](const std::string& token) {
        return std::any_of(prefixes.begin(), prefixes.end(),
                           [&token](const std::string& prefix) { return token.starts_with(prefix); });
    });
}

std::vector<Sample> Load(const std::string& corpus, const MimeTokenizer& tokenizer) {
    std::vector<Sample> samples;
    for (const bool spam : {true, false}) {
        const std::vector<SampleEntry> entries = ListSampleFolder(corpus + (spam ? "/spam" : "/ham"));
        std::string bytes;
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (ReadMessageFile(entries[i].path, bytes)) {
                samples.push_back({spam, static_cast<int>(i % 5), entries[i].path, tokenizer.Tokenize(bytes)});
                DropTokens(samples.back().tokens);
            }
        }
    }
    return samples;
}

struct Model {
    std::unordered_map<std::string, TokenCounts> counts;
    MessageTotals totals;
};

// The parts a model learns from when scored is the part it is scored on: all but that one and the
// held-out test part 4.
bool Learns(int part, int scored) {
    return part != scored && part != 4;
}

Model Train(const std::vector<Sample>& samples, int scored) {
    Model model;
    for (const Sample& sample : samples) {
        if (!Learns(sample.part, scored)) {
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

int32_t ScoreSample(const Sample& sample, const Model& model, const ChiSquareParameters& parameters,
                    std::vector<TokenCounts>& counts) {
    counts.clear();
    for (const std::string& token : sample.tokens) {
        const auto it = model.counts.find(token);
        counts.push_back(it == model.counts.end() ? TokenCounts{} : it->second);
    }
    return ScoreTokenCounts(sample.tokens, counts, model.totals, parameters, {}, 0).score;
}

// Training on errors as `bramvell learn` does it with both classes: each training message that the model
// scores on the wrong side of the relearning margins, its own counts left out, is learned once more at
// once (the messages after it are scored with it), in
// up to kRelearnRounds rounds, each after the first looking only at the messages the one before
// relearned. TUNE_TOE=0 leaves it out.
void TrainOnErrors(const std::vector<Sample>& samples, int scored, Model& model,
                   const ChiSquareParameters& parameters) {
    if (const char* off = std::getenv("TUNE_TOE"); off != nullptr && std::atoi(off) == 0) {
        return;
    }
    std::vector<TokenCounts> counts;
    std::vector<uint32_t> weight(samples.size(), 1);
    auto shift = [&](const Sample& sample, int64_t by) {
        (sample.spam ? model.totals.spam : model.totals.ham) += by;
        for (const std::string& token : sample.tokens) {
            TokenCounts& c = model.counts[token];
            (sample.spam ? c.spam : c.ham) += by;
        }
    };
    std::vector<std::size_t> candidates;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (Learns(samples[i].part, scored))
            candidates.push_back(i);
    }
    for (int round = 0; round < ChiSquareTrainer::kRelearnRounds && !candidates.empty(); ++round) {
        std::vector<std::size_t> misjudged;
        // The first round runs in two halves side by side, as learn does: the second half is scored
        // without the first half's relearning, which is put back after it.
        std::size_t firstOfSecondHalf = 0;
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            const std::size_t i = candidates[k];
            if (round == 0 && k == candidates.size() / 2 &&
                candidates.size() >= 2 * ChiSquareTrainer::kSplitFrom) {
                firstOfSecondHalf = misjudged.size();
                for (std::size_t m = 0; m < firstOfSecondHalf; ++m) shift(samples[misjudged[m]], -1);
            }
            const Sample& sample = samples[i];
            if (weight[i] >= ChiSquareStore::kMaxWeight)
                continue;
            shift(sample, -static_cast<int64_t>(weight[i]));
            const int32_t score = ScoreSample(sample, model, parameters, counts);
            shift(sample, weight[i]);
            if (sample.spam ? score < ChiSquareTrainer::kRelearnSpamBelow
                            : score > ChiSquareTrainer::kRelearnHamAbove) {
                misjudged.push_back(i);
                shift(sample, 1);  // at once: the next message is scored with it
                ++weight[i];
            }
        }
        for (std::size_t m = 0; m < firstOfSecondHalf; ++m) shift(samples[misjudged[m]], 1);
        std::printf("round %d: %zu relearned\n", round, misjudged.size());
        candidates.swap(misjudged);
    }
}

Scored ScorePart(const std::vector<Sample>& samples, int part, const Model& model,
                 const ChiSquareParameters& parameters) {
    Scored scored;
    std::vector<TokenCounts> counts;
    for (const Sample& sample : samples) {
        if (sample.part != part) {
            continue;
        }
        const int32_t score = ScoreSample(sample, model, parameters, counts);
        if (const char* explain = std::getenv("TUNE_EXPLAIN");
            explain != nullptr && sample.path.find(explain) != std::string::npos) {
            std::vector<std::pair<double, std::string>> rows;
            for (std::size_t i = 0; i < sample.tokens.size(); ++i) {
                const double f = RobinsonProbability(counts[i].spam, counts[i].ham, model.totals.spam,
                                                     model.totals.ham, parameters);
                if (std::abs(f - 0.5) >= parameters.minDeviation)
                    rows.push_back({f, sample.tokens[i] + " " + std::to_string(counts[i].spam) + "/" +
                                           std::to_string(counts[i].ham)});
            }
            std::sort(rows.begin(), rows.end());
            for (const auto& [f, t] : rows) std::printf("  %.3f %s\n", f, t.c_str());
        }
        // The messages left on the wrong side of the level-1 cutoffs.
        if (std::getenv("TUNE_MISSES") != nullptr &&
            (sample.spam ? score < ChiSquareCutoffs{}.spam : score > ChiSquareCutoffs{}.good)) {
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

ChiSquareParameters ParametersFromEnvironment() {
    ChiSquareParameters parameters;
    if (const char* v = std::getenv("TUNE_S"))
        parameters.strength = std::atof(v);
    if (const char* v = std::getenv("TUNE_X"))
        parameters.prior = std::atof(v);
    if (const char* v = std::getenv("TUNE_DEV"))
        parameters.minDeviation = std::atof(v);
    return parameters;
}

// The highest good scores, and what each spam cutoff would catch and how many good messages it would take.
void PrintCutoffs(const Scored& scored) {
    std::vector<int32_t> ham = scored.ham;
    std::sort(ham.rbegin(), ham.rend());
    std::printf("highest good:");
    for (std::size_t i = 0; i < 8 && i < ham.size(); ++i) std::printf(" %d", ham[i]);
    std::printf("\n");
    for (const int32_t cut : {5000, 5500, 6000, 6500, 7000, 7500, 8000, 8500, 9000}) {
        std::printf(
            "cutoff %d: good %zu spam caught %.2f%%\n", cut, AtLeast(scored.ham, cut),
            100.0 * static_cast<double>(AtLeast(scored.spam, cut)) / static_cast<double>(scored.spam.size()));
    }
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
        MimeTokenizer::Options options{pairs};
        if (const char* parts = std::getenv("TUNE_PARTS"))
            options.partTypes = std::atoi(parts) != 0;
        const MimeTokenizer tokenizer(options);
        const std::vector<Sample> samples = Load(argv[1], tokenizer);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("== word pairs %s: %zu messages read and tokenized in %.2f s (%.0f us each)\n",
                    pairs ? "on" : "off", samples.size(), seconds, 1e6 * seconds / static_cast<double>(samples.size()));
        if (test) {
            const ChiSquareParameters parameters = ParametersFromEnvironment();
            Model model = Train(samples, 4);
            TrainOnErrors(samples, 4, model, parameters);
            const Scored scored = ScorePart(samples, 4, model, parameters);
            PrintCutoffs(scored);
            for (int level = 1; level <= 9; ++level) {
                char label[32];
                std::snprintf(label, sizeof label, "test, level %d", level);
                Report(label, scored, CutoffsOfLevel(true, level));
            }
            continue;
        }
        // TUNE_FOLD=0..3 validates on that part instead of 3, learning from the other three.
        const char* fold = std::getenv("TUNE_FOLD");
        const int validated = fold != nullptr ? std::clamp(std::atoi(fold), 0, 3) : 3;
        Model model = Train(samples, validated);
        if (std::getenv("TUNE_QUICK") != nullptr) {
            // One run with the built-in parameters: the validation part at level 1, and its best cutoff.
            const ChiSquareParameters quick = ParametersFromEnvironment();
            TrainOnErrors(samples, validated, model, quick);
            const Scored scored = ScorePart(samples, validated, model, quick);
            Report("validation, level 1", scored, CutoffsOfLevel(true, 1));
            const int32_t highestGood = *std::max_element(scored.ham.begin(), scored.ham.end());
            std::printf("highest good %d, spam above it %.2f%%\n", highestGood,
                        100.0 * static_cast<double>(AtLeast(scored.spam, highestGood + 1)) /
                            static_cast<double>(scored.spam.size()));
            PrintCutoffs(scored);
            break;
        }
        // Each point of the grid trains on errors with its own parameters, from the same first pass.
        const int32_t cutoff = ChiSquareCutoffs{}.spam;
        for (const double strength : {0.3, 1.0, 2.0, 4.0}) {
            for (const double prior : {0.4, 0.5}) {
                for (const double deviation : {0.25, 0.3, 0.35, 0.4}) {
                    const ChiSquareParameters parameters{strength, prior, deviation};
                    Model trained = model;
                    TrainOnErrors(samples, validated, trained, parameters);
                    const Scored scored = ScorePart(samples, validated, trained, parameters);
                    const int32_t highestGood = *std::max_element(scored.ham.begin(), scored.ham.end());
                    std::printf(
                        "s=%.2f x=%.2f dev=%.2f: good max %d, spam above it %.2f%%, good>=%d %zu, "
                        "spam>=%d %.2f%%\n",
                        strength, prior, deviation, highestGood,
                        100.0 * static_cast<double>(AtLeast(scored.spam, highestGood + 1)) /
                            static_cast<double>(scored.spam.size()),
                        cutoff, AtLeast(scored.ham, cutoff), cutoff,
                        100.0 * static_cast<double>(AtLeast(scored.spam, cutoff)) /
                            static_cast<double>(scored.spam.size()));
                }
            }
        }
    }
    return 0;
}
