// bramvell learn spam|ham [DIR]: learns the sample messages of a folder into the token tables and into
// the chi-square store.
#include <cstdio>
#include <string>

#include "app/ChiSquareSetup.h"
#include "app/ClassifySetup.h"
#include "app/Command.h"
#include "app/ProgressBar.h"
#include "classify/ChiSquareTrainer.h"
#include "classify/CorpusTrainer.h"

namespace bramvell {
namespace {

// The chi-square store learns the same messages: a message it holds as this class already is skipped,
// one it holds as the other class is moved.
bool LearnChiSquare(const std::string& programFolder, bool spam, const std::string& folder) {
    ChiSquareStore store;
    std::string problem;
    if (!store.Open(ChiSquareStoreFolder(programFolder), true, problem)) {
        std::fprintf(stderr, "bramvell: %s\n", problem.c_str());
        return false;
    }
    ProgressBar bar;
    ChiSquareTrainer trainer(store);
    ChiSquareTrainingSummary summary;
    const bool written = trainer.LearnFolder(spam ? MailClass::Spam : MailClass::Ham, folder, summary, problem,
                                             [&bar](std::size_t done, std::size_t total) { bar.Show(done, total); });
    std::printf("Chi-square store: %zu learned, %zu already learned as %s, %zu moved from the other class\n",
                summary.learned, summary.duplicates, spam ? "spam" : "ham", summary.moved);
    if (!written) {
        std::fprintf(stderr, "bramvell: the chi-square store could not be written: %s\n", problem.c_str());
    }
    return written;
}

int RunLearn(CommandContext& context) {
    const std::vector<std::string>& arguments = context.arguments;
    if (arguments.empty() || arguments.size() > 2 || (arguments[0] != "spam" && arguments[0] != "ham")) {
        std::fprintf(stderr, "usage: bramvell learn spam|ham [DIR]\n");
        return 2;
    }
    const bool spam = arguments[0] == "spam";
    std::unique_ptr<ClassifySetup> setup = PrepareClassification(context.programFolder);
    FilterSettings& settings = setup->settings;
    const std::string folder = arguments.size() == 2 ? arguments[1] : settings.QuarantineFolder();

    ProgressBar bar;
    CorpusTrainer trainer(settings,
                          {{}, [&bar](std::size_t done, std::size_t total) { bar.Show(done, total); }});
    SharedInt& messageCount = spam ? settings.spamMessageCount : settings.hamMessageCount;
    const int before = messageCount;
    const CorpusRunStatus status = trainer.Learn(spam ? SampleClass::Spam : SampleClass::Ham, folder);
    const int learned = messageCount - before;
    std::printf("Learned %d %s message%s from %s; new tokens: %d lower, %d capitalised, %d upper\n", learned,
                arguments[0].c_str(), learned == 1 ? "" : "s", folder.c_str(),
                settings.newLowerTokenCount.load(), settings.newCapitalTokenCount.load(),
                settings.newUpperTokenCount.load());
    // Saved after a failure too: the messages learned before it are in the data files and count.
    const bool saved = setup->Save();
    if (!saved) {
        std::fprintf(stderr, "bramvell: the learned statistics could not be saved\n");
    }
    if (status == CorpusRunStatus::Failed) {
        std::fprintf(stderr, "bramvell: learning stopped, learned data could not be written: %s\n",
                     trainer.FailureMessage().c_str());
        return 1;
    }
    const bool chiSquareLearned = LearnChiSquare(context.programFolder, spam, folder);
    std::printf("finished!\n");
    return saved && chiSquareLearned ? 0 : 1;
}

const CommandRegistration registration({"learn", "learn spam|ham [DIR]",
                                        "learn the messages of DIR (default: quarantine) as spam or ham, for both scorers",
                                        RunLearn});

}  // namespace
}  // namespace bramvell
