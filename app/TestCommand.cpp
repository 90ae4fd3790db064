// bramvell test [--scorer classic|chi-square] [DIR]: scores the sample messages of a folder; the classic
// scorer logs a line per message, the chi-square scorer counts its three verdicts.
#include <cstdio>
#include <string>

#include "app/ChiSquareSetup.h"
#include "app/ClassifySetup.h"
#include "app/Command.h"
#include "app/ProgressBar.h"
#include "classify/ChiSquareTrainer.h"
#include "classify/CorpusEvaluator.h"
#include "classify/SampleFolder.h"

namespace bramvell {
namespace {

int Usage() {
    std::fprintf(stderr, "usage: bramvell test [--scorer classic|chi-square] [DIR]\n");
    return 2;
}

int TestChiSquare(const std::string& programFolder, const FilterSettings& settings, const std::string& folder) {
    ChiSquareStore store;
    std::string problem;
    if (!store.Open(ChiSquareStoreFolder(programFolder), false, problem)) {
        std::fprintf(stderr, "bramvell: no chi-square store (%s); learn first\n", problem.c_str());
    }
    const ChiSquareClassifier classifier(store, ChiSquareParameters{}, ChiSquareCutoffsOf(settings));
    const ChiSquareStore::Snapshot snapshot(store);
    const std::vector<SampleEntry> entries = ListSampleFolder(folder);
    ProgressBar bar;
    int count = 0;
    int verdicts[3] = {0, 0, 0};  // good, unsure, spam
    std::string bytes;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].isDirectory && ReadMessageFile(entries[i].path, bytes)) {
            ++count;
            ++verdicts[static_cast<int>(classifier.Classify(bytes, snapshot).verdict)];
        }
        bar.Show(i + 1, entries.size());
    }
    std::printf("Cnt: %d  Ham: %d  Spam: %d  Unsure: %d  (%s)\n", count, verdicts[0], verdicts[2], verdicts[1],
                folder.c_str());
    std::printf("finished!\n");
    return 0;
}

int RunTest(CommandContext& context) {
    Scorer scorer = StoredScorer();
    std::vector<std::string> arguments;
    for (std::size_t i = 0; i < context.arguments.size(); ++i) {
        bool bad = false;
        if (TakeScorerOption(context.arguments, i, scorer, bad)) {
            if (bad) {
                return Usage();
            }
        } else {
            arguments.push_back(context.arguments[i]);
        }
    }
    if (arguments.size() > 1) {
        return Usage();
    }
    std::unique_ptr<ClassifySetup> setup = PrepareClassification(context.programFolder);
    const FilterSettings& settings = setup->settings;
    const std::string folder = arguments.size() == 1 ? arguments[0] : settings.QuarantineFolder();
    if (scorer == Scorer::ChiSquare) {
        return TestChiSquare(context.programFolder, settings, folder);
    }

    ProgressBar bar;
    CorpusEvaluator evaluator(settings,
                              {{}, [&bar](std::size_t done, std::size_t total) { bar.Show(done, total); }});
    evaluator.Evaluate(folder);
    const EvaluationTotals& totals = evaluator.Totals();
    std::printf("Cnt: %d  Ham: %d  Spam: %d  (%s)\n", totals.count, totals.ham, totals.spam, folder.c_str());
    std::printf("finished!\n");
    return 0;
}

const CommandRegistration registration(
    {"test", "test [--scorer S] [DIR]",
     "score the messages of DIR (default: quarantine): classic into the activity log, chi-square as totals",
     RunTest});

}  // namespace
}  // namespace bramvell
