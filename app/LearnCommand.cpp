// bramvell learn spam|ham [DIR]: learns the sample messages of a folder into the token tables and into
// the chi-square store.
#include <cstdio>
#include <string>
#include <thread>

#include "app/ChiSquareSetup.h"
#include "app/ClassifySetup.h"
#include "app/Command.h"
#include "app/HeapTuning.h"
#include "app/ProgressBar.h"
#include "classify/ChiSquareTrainer.h"
#include "classify/CorpusTrainer.h"

namespace bramvell {
namespace {

// The chi-square store learns the same messages: a message it holds as this class already is skipped,
// one it holds as the other class is moved. It runs on a thread of its own beside the word tables'
// learning (the two share no file and no state), and reports when joined.
class ChiSquareLearning {
  public:
    ChiSquareLearning(const std::string& programFolder, bool spam, const std::string& folder)
        : spam_(spam), thread_([this, programFolder, folder] { Run(programFolder, folder); }) {}
    ~ChiSquareLearning() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    ChiSquareLearning(const ChiSquareLearning&) = delete;
    ChiSquareLearning& operator=(const ChiSquareLearning&) = delete;

    bool JoinAndReport() {
        thread_.join();
        if (!opened_) {
            std::fprintf(stderr, "bramvell: %s\n", problem_.c_str());
            return false;
        }
        std::printf("Chi-square store: %zu learned, %zu already learned as %s, %zu moved from the other class\n",
                    summary_.learned, summary_.duplicates, spam_ ? "spam" : "ham", summary_.moved);
        if (!written_) {
            std::fprintf(stderr, "bramvell: the chi-square store could not be written: %s\n", problem_.c_str());
        }
        return written_;
    }

  private:
    void Run(const std::string& programFolder, const std::string& folder) {
        ChiSquareStore store;
        opened_ = store.Open(ChiSquareStoreFolder(programFolder), true, problem_);
        if (!opened_) {
            return;
        }
        ChiSquareTrainer trainer(store);
        written_ = trainer.LearnFolder(spam_ ? MailClass::Spam : MailClass::Ham, folder, summary_, problem_);
    }

    bool spam_;
    bool opened_ = false;
    bool written_ = false;
    std::string problem_;
    ChiSquareTrainingSummary summary_;
    std::thread thread_;  // last: started once every member it uses exists
};

int RunLearn(CommandContext& context) {
    const std::vector<std::string>& arguments = context.arguments;
    if (arguments.empty() || arguments.size() > 2 || (arguments[0] != "spam" && arguments[0] != "ham")) {
        std::fprintf(stderr, "usage: bramvell learn spam|ham [DIR]\n");
        return 2;
    }
    const bool spam = arguments[0] == "spam";
    PrepareHeapForLargeBuffers();
    std::unique_ptr<ClassifySetup> setup = PrepareClassification(context.programFolder);
    FilterSettings& settings = setup->settings;
    const std::string folder = arguments.size() == 2 ? arguments[1] : settings.QuarantineFolder();

    ChiSquareLearning chiSquare(context.programFolder, spam, folder);
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
    const bool chiSquareLearned = chiSquare.JoinAndReport();
    if (status == CorpusRunStatus::Failed) {
        std::fprintf(stderr, "bramvell: learning stopped, learned data could not be written: %s\n",
                     trainer.FailureMessage().c_str());
        return 1;
    }
    std::printf("finished!\n");
    return saved && chiSquareLearned ? 0 : 1;
}

const CommandRegistration registration({"learn", "learn spam|ham [DIR]",
                                        "learn the messages of DIR (default: quarantine) as spam or ham, for both scorers",
                                        RunLearn});

}  // namespace
}  // namespace bramvell
