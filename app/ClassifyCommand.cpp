// bramvell classify [--tsv] [--jobs N] [--scorer classic|chi-square] FILE...: the verdict on each message
// file, with its score and slots (classic) or its most telling tokens (chi-square).
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "app/ChiSquareReport.h"
#include "app/ChiSquareSetup.h"
#include "app/ClassifySetup.h"
#include "app/Command.h"
#include "app/HeapTuning.h"
#include "classify/BatchClassifier.h"
#include "classify/ChiSquareBatch.h"
#include "classify/ChiSquareTrainer.h"

namespace bramvell {
namespace {

const char* RuleName(DecidingRule rule) {
    switch (rule) {
        case DecidingRule::FromTo:
            return "from-to";
        case DecidingRule::Passphrase:
            return "passphrase";
        case DecidingRule::None:
            break;
    }
    return "-";
}

void AppendNumber(std::string& out, int32_t value) {
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

const char* ProbabilityText(const ClassificationResult& result) {
    return result.probabilityText.empty() ? "--" : result.probabilityText.c_str();
}

// The score, or "-" when a rule decided and no score was worked out.
void AppendScore(std::string& out, const ClassificationResult& result) {
    if (result.decidedByRule) {
        out += '-';
    } else {
        AppendNumber(out, result.score);
    }
}

void AppendReport(std::string& out, const std::string& path, const ClassificationResult& result,
                  const TopTokenSlots& slots) {
    out += path;
    out += result.isSpam ? "\n  verdict: spam\n  score: " : "\n  verdict: not spam\n  score: ";
    AppendScore(out, result);
    out += "\n  probability: ";
    out += ProbabilityText(result);
    out += "\n  rule: ";
    out += RuleName(result.rule);
    out += "\n  slots:";
    for (const TokenSlot& slot : slots) {
        out += ' ';
        AppendNumber(out, slot.probability);
    }
    out += '\n';
}

void AppendTsv(std::string& out, const std::string& path, const ClassificationResult& result,
               const TopTokenSlots& slots) {
    out += path;
    out += result.isSpam ? "\tspam\t" : "\tham\t";
    AppendScore(out, result);
    out += '\t';
    out += ProbabilityText(result);
    out += '\t';
    out += RuleName(result.rule);
    out += '\t';
    for (std::size_t i = 0; i < slots.size(); ++i) {
        if (i != 0) {
            out += ',';
        }
        AppendNumber(out, slots[i].probability);
    }
    out += '\n';
}

int Usage() {
    std::fprintf(stderr, "usage: bramvell classify [--tsv] [--jobs N] [--scorer classic|chi-square] FILE...\n");
    return 2;
}

// Complaints go out before the results of the same chunk; both streams keep the file order.
void WriteChunk(std::string_view out, std::string_view err) {
    if (!err.empty()) {
        std::fflush(stdout);
        std::fwrite(err.data(), 1, err.size(), stderr);
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// The chi-square scorer over the files on `jobs` threads, each reading the store through its own
// snapshot; the output is in the order given.
int ClassifyChiSquare(const std::string& programFolder, const std::vector<std::string>& files, bool tsv,
                      int jobs) {
    const ClassifySetup setup(programFolder);  // the threshold level; no lists or word tables needed
    ChiSquareStore store;
    std::string problem;
    // A store not learned yet scores every message unsure; classify creates nothing.
    if (!store.Open(ChiSquareStoreFolder(programFolder), false, problem)) {
        std::fprintf(stderr, "bramvell: no chi-square store (%s); learn first\n", problem.c_str());
    }
    const ChiSquareClassifier classifier(store, ChiSquareParameters{}, ChiSquareCutoffsOf(setup.settings));
    const ChiSquareBatch::Format format = [tsv](std::string& out, std::string& err, const std::string& path,
                                                const ChiSquareResult* result) {
        if (result == nullptr) {
            err += "bramvell: cannot read " + path + "\n";
        } else {
            (tsv ? AppendChiSquareTsv : AppendChiSquareReport)(out, path, *result);
        }
    };
    const std::size_t unreadable = ChiSquareBatch(store, classifier).Run(files, jobs, format, WriteChunk);
    return unreadable == 0 ? 0 : 1;
}

int RunClassify(CommandContext& context) {
    bool tsv = false;
    Scorer scorer = StoredScorer();
    // Worker threads; by default one per core. The output is the same whatever the number.
    int jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::string> files;
    const std::vector<std::string>& arguments = context.arguments;
    files.reserve(arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        bool badScorer = false;
        if (TakeScorerOption(arguments, i, scorer, badScorer)) {
            if (badScorer) {
                return Usage();
            }
        } else if (argument == "--tsv") {
            tsv = true;
        } else if (argument == "--jobs" || argument.rfind("--jobs=", 0) == 0) {
            std::string value;
            if (argument == "--jobs") {
                if (i + 1 >= arguments.size()) {
                    return Usage();
                }
                value = arguments[++i];
            } else {
                value = argument.substr(7);
            }
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), jobs);
            if (error != std::errc() || end != value.data() + value.size() || jobs < 1 || jobs > 1024) {
                return Usage();
            }
        } else {
            files.push_back(argument);
        }
    }
    if (files.empty()) {
        return Usage();
    }
    if (scorer == Scorer::ChiSquare) {
        return ClassifyChiSquare(context.programFolder, files, tsv, jobs);
    }
    PrepareHeapForLargeBuffers();
    std::unique_ptr<ClassifySetup> setup = PrepareClassification(context.programFolder);
    // An inspection on demand is not filtering: it leaves the activity log alone.
    setup->settings.activityLogEnabled = 0;
    BatchClassifier batch(setup->settings, &setup->lists);
    const std::size_t unreadable = batch.Run(
        files, jobs,
        [tsv](std::string& out, std::string& err, const std::string& path, const ClassificationResult* result,
              const TopTokenSlots& slots) {
            if (result == nullptr) {
                err += "bramvell: cannot read " + path + "\n";
            } else if (tsv) {
                AppendTsv(out, path, *result, slots);
            } else {
                AppendReport(out, path, *result, slots);
            }
        },
        WriteChunk);
    return unreadable == 0 ? 0 : 1;
}

const CommandRegistration registration({"classify", "classify [--tsv] [--jobs N] [--scorer S] FILE...",
                                        "print the verdict, score and slots of each message file; --jobs: "
                                        "worker threads (default: one per core); --scorer: classic or "
                                        "chi-square (default: the option 'scorer')",
                                        RunClassify});

}  // namespace
}  // namespace bramvell
