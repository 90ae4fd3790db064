// bramvell test [DIR]: scores the sample messages of a folder and logs a line per message.
#include <cstdio>
#include <string>

#include "app/ClassifySetup.h"
#include "app/Command.h"
#include "app/ProgressBar.h"
#include "classify/CorpusEvaluator.h"

namespace bramvell {
namespace {

int RunTest(CommandContext& context) {
    const std::vector<std::string>& arguments = context.arguments;
    if (arguments.size() > 1) {
        std::fprintf(stderr, "usage: bramvell test [DIR]\n");
        return 2;
    }
    std::unique_ptr<ClassifySetup> setup = PrepareClassification(context.programFolder);
    const FilterSettings& settings = setup->settings;
    const std::string folder = arguments.size() == 1 ? arguments[0] : settings.QuarantineFolder();

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
    {"test", "test [DIR]", "score the messages of DIR (default: quarantine) into the activity log", RunTest});

}  // namespace
}  // namespace bramvell
