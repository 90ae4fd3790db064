// bramvell unlearn spam|ham FILE...: takes messages learned as that class back out of the chi-square store.
#include <cstdio>
#include <string>

#include "app/ChiSquareSetup.h"
#include "app/Command.h"
#include "classify/ChiSquareTrainer.h"

namespace bramvell {
namespace {

int RunUnlearn(CommandContext& context) {
    const std::vector<std::string>& arguments = context.arguments;
    if (arguments.size() < 2 || (arguments[0] != "spam" && arguments[0] != "ham")) {
        std::fprintf(stderr, "usage: bramvell unlearn spam|ham FILE...\n");
        return 2;
    }
    const MailClass mailClass = arguments[0] == "spam" ? MailClass::Spam : MailClass::Ham;
    const std::vector<std::string> files(arguments.begin() + 1, arguments.end());
    ChiSquareStore store;
    std::string problem;
    if (!store.Open(ChiSquareStoreFolder(context.programFolder), true, problem)) {
        std::fprintf(stderr, "bramvell: %s\n", problem.c_str());
        return 1;
    }
    ChiSquareTrainer trainer(store);
    ChiSquareTrainingSummary summary;
    if (!trainer.Unlearn(mailClass, files, summary, problem)) {
        std::fprintf(stderr, "bramvell: the chi-square store could not be written: %s\n", problem.c_str());
        return 1;
    }
    std::printf("Unlearned %zu %s message%s; %zu not learned as %s, %zu unreadable\n", summary.unlearned,
                arguments[0].c_str(), summary.unlearned == 1 ? "" : "s", summary.notLearned,
                arguments[0].c_str(), summary.unreadable);
    return summary.unreadable == 0 ? 0 : 1;
}

const CommandRegistration registration({"unlearn", "unlearn spam|ham FILE...",
                                        "take messages learned as spam or ham back out of the chi-square store",
                                        RunUnlearn});

}  // namespace
}  // namespace bramvell
