// bramvell learn spam|ham [DIR] [spam|ham DIR]...: learns the sample messages of each folder into the
// token tables and into the chi-square store, which then trains on errors over all of them.
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/ChiSquareSetup.h"
#include "app/ClassifySetup.h"
#include "app/Command.h"
#include "app/HeapTuning.h"
#include "app/ProgressBar.h"
#include "classify/ChiSquareTrainer.h"
#include "classify/CorpusTrainer.h"
#include "classify/ThreadHeap.h"

namespace bramvell {
namespace {

struct LearnFolder {
    bool spam = false;
    std::string folder;
};

// The chi-square store learns the same messages: a message it holds as this class already is skipped,
// one it holds as the other class is moved; then the messages it still misjudges are learned again.
// It runs on a thread of its own beside the word tables' learning (the two share no file and no
// state), and reports when joined.
class ChiSquareLearning {
  public:
    ChiSquareLearning(const std::string& programFolder, const std::vector<LearnFolder>& folders)
        : folders_(folders), thread_([this, programFolder] { Run(programFolder); }) {}
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
        std::printf(
            "Chi-square store: %zu learned, %zu already learned as their class, %zu moved from the other "
            "class, %zu learned again as misjudged\n",
            summary_.learned, summary_.duplicates, summary_.moved, summary_.relearned);
        if (!written_) {
            std::fprintf(stderr, "bramvell: the chi-square store could not be written: %s\n", problem_.c_str());
        }
        return written_;
    }

  private:
    void Run(const std::string& programFolder) {
        AdviseThreadHeapForHugePages();
        ChiSquareStore store;
        opened_ = store.Open(ChiSquareStoreFolder(programFolder), true, problem_);
        if (!opened_) {
            return;
        }
        std::vector<std::pair<MailClass, std::string>> folders;
        for (const LearnFolder& folder : folders_) {
            folders.emplace_back(folder.spam ? MailClass::Spam : MailClass::Ham, folder.folder);
        }
        ChiSquareTrainer trainer(store);
        written_ = trainer.LearnFolders(folders, summary_, problem_);
    }

    std::vector<LearnFolder> folders_;
    bool opened_ = false;
    bool written_ = false;
    std::string problem_;
    ChiSquareTrainingSummary summary_;
    std::thread thread_;  // last: started once every member it uses exists
};

// "spam DIR ham DIR ...", or one class with its folder left out (the quarantine folder).
bool FoldersOfArguments(const std::vector<std::string>& arguments, const std::string& quarantine,
                        std::vector<LearnFolder>& folders) {
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        if (arguments[i] != "spam" && arguments[i] != "ham") {
            return false;
        }
        if (i + 1 == arguments.size() && arguments.size() > 2) {
            return false;  // only a lone class may leave its folder out
        }
        folders.push_back({arguments[i] == "spam", i + 1 < arguments.size() ? arguments[i + 1] : quarantine});
    }
    return !folders.empty();
}

int RunLearn(CommandContext& context) {
    PrepareHeapForLargeBuffers();
    std::unique_ptr<ClassifySetup> setup = PrepareClassification(context.programFolder);
    FilterSettings& settings = setup->settings;
    std::vector<LearnFolder> folders;
    if (!FoldersOfArguments(context.arguments, settings.QuarantineFolder(), folders)) {
        std::fprintf(stderr, "usage: bramvell learn spam|ham [DIR] [spam|ham DIR]...\n");
        return 2;
    }

    ChiSquareLearning chiSquare(context.programFolder, folders);
    ProgressBar bar;
    CorpusTrainer trainer(settings,
                          {{}, [&bar](std::size_t done, std::size_t total) { bar.Show(done, total); }});
    CorpusRunStatus status = CorpusRunStatus::Finished;
    for (const LearnFolder& folder : folders) {
        SharedInt& messageCount = folder.spam ? settings.spamMessageCount : settings.hamMessageCount;
        const int before = messageCount;
        status = trainer.Learn(folder.spam ? SampleClass::Spam : SampleClass::Ham, folder.folder);
        const int learned = messageCount - before;
        std::printf("Learned %d %s message%s from %s; new tokens: %d lower, %d capitalised, %d upper\n",
                    learned, folder.spam ? "spam" : "ham", learned == 1 ? "" : "s", folder.folder.c_str(),
                    settings.newLowerTokenCount.load(), settings.newCapitalTokenCount.load(),
                    settings.newUpperTokenCount.load());
        if (status == CorpusRunStatus::Failed) {
            break;
        }
    }
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

const CommandRegistration registration(
    {"learn", "learn spam|ham [DIR] [spam|ham DIR]...",
     "learn the messages of each DIR (default: quarantine) as spam or ham, for both "
     "scorers; given both classes, the chi-square store then learns again what it "
     "still misjudges",
     RunLearn});

}  // namespace
}  // namespace bramvell
