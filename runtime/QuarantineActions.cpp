#include "runtime/QuarantineActions.h"

#include <unistd.h>

#include <algorithm>

#include "classify/ChiSquareStore.h"
#include "classify/ChiSquareTrainer.h"
#include "classify/CorpusTrainer.h"
#include "classify/ScorerChoice.h"
#include "config/FilterSettings.h"
#include "config/QuarantineHousekeeping.h"

namespace bramvell {

namespace {

std::string Counted(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string_view NameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string_view(path) : std::string_view(path).substr(slash + 1);
}

}  // namespace

std::string QuarantineResultText(const QuarantineActionResult& result) {
    std::string text = Counted(result.done, "message", "messages");
    switch (result.action) {
        case QuarantineAction::LearnGood:
            text += " learned as good";
            if (result.movedFromSpam > 0) {
                text += ", " + std::to_string(result.movedFromSpam) + " taken out of spam";
            }
            break;
        case QuarantineAction::LearnSpam:
            text += " learned as spam";
            break;
        case QuarantineAction::Delete:
            text += " deleted";
            break;
    }
    if (result.trusted > 0) {
        text += "; " + Counted(result.trusted, "sender", "senders") + " added to Trusted Addresses";
    }
    if (result.failed > 0) {
        text += "; " + std::to_string(result.failed) + " failed";
        if (!result.problem.empty()) {
            text += " (" + result.problem + ")";
        }
    }
    return text;
}

QuarantineActions::QuarantineActions(FilterSettings& settings, ChiSquareStore* runningStore)
    : settings_(settings), runningStore_(runningStore) {}

QuarantineActionResult QuarantineActions::LearnAsGood(const std::vector<std::string>& files) {
    return Learn(QuarantineAction::LearnGood, files);
}

QuarantineActionResult QuarantineActions::LearnAsSpam(const std::vector<std::string>& files) {
    return Learn(QuarantineAction::LearnSpam, files);
}

QuarantineActionResult QuarantineActions::Learn(QuarantineAction action,
                                                const std::vector<std::string>& files) {
    QuarantineActionResult result;
    result.action = action;
    const bool spam = action == QuarantineAction::LearnSpam;

    std::vector<std::string> readable;
    for (const std::string& file : files) {
        if (::access(file.c_str(), R_OK) == 0) {
            readable.push_back(file);
        } else {
            ++result.failed;
        }
    }
    const SharedInt& messageCount = spam ? settings_.spamMessageCount : settings_.hamMessageCount;
    const int before = messageCount;
    CorpusTrainer trainer(settings_);
    if (trainer.LearnFiles(spam ? SampleClass::Spam : SampleClass::Ham, readable) ==
        CorpusRunStatus::Failed) {
        result.problem = trainer.FailureMessage();
    }

    ChiSquareStore ownStore;
    ChiSquareStore* store = runningStore_;
    std::string problem;
    if (store == nullptr || !store->IsOpen()) {
        store =
            ownStore.Open(ChiSquareStoreFolder(settings_.programFolder), true, problem) ? &ownStore : nullptr;
    }
    ChiSquareTrainingSummary summary;
    if (store != nullptr) {
        ChiSquareTrainer chiSquare(*store);
        if (!chiSquare.Learn(spam ? MailClass::Spam : MailClass::Ham, readable, summary, problem)) {
            result.problem = problem;
        }
        result.movedFromSpam = spam ? 0 : summary.moved;
        result.alreadyLearned = summary.duplicates;
    } else if (result.problem.empty()) {
        result.problem = problem;
    }
    const std::size_t classic =
        static_cast<std::size_t>(messageCount - before > 0 ? messageCount - before : 0);
    const std::size_t chiSquareCount = summary.learned + summary.moved + summary.duplicates;
    result.done = std::max(classic, chiSquareCount);
    result.failed += readable.size() > result.done ? readable.size() - result.done : 0;
    return result;
}

QuarantineActionResult QuarantineActions::Delete(const std::vector<std::string>& files) {
    QuarantineActionResult result;
    result.action = QuarantineAction::Delete;
    for (const std::string& file : files) {
        if (IsQuarantineFileName(NameOf(file)) && ::unlink(file.c_str()) == 0) {
            ++result.done;
        } else {
            ++result.failed;
        }
    }
    return result;
}

}  // namespace bramvell
