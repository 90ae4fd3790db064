// bramvell classify [--tsv] FILE...: the verdict on each message file, with its score and slots.
#include <cstdio>
#include <string>

#include "app/ClassifySetup.h"
#include "app/Command.h"
#include "classify/MessageClassifier.h"
#include "classify/TextLineSource.h"
#include "classify/TokenProbabilities.h"

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

void PrintReport(const std::string& path, const ClassificationResult& result, const TopTokenSlots& slots) {
    std::printf("%s\n  verdict: %s\n", path.c_str(), result.isSpam ? "spam" : "not spam");
    if (result.decidedByRule) {
        std::printf("  score: -\n");
    } else {
        std::printf("  score: %d\n", result.score);
    }
    std::printf("  probability: %s\n  rule: %s\n  slots:",
                result.probabilityText.empty() ? "--" : result.probabilityText.c_str(),
                RuleName(result.rule));
    for (const TokenSlot& slot : slots) {
        std::printf(" %d", slot.probability);
    }
    std::printf("\n");
}

void PrintTsv(const std::string& path, const ClassificationResult& result, const TopTokenSlots& slots) {
    std::printf("%s\t%s\t", path.c_str(), result.isSpam ? "spam" : "ham");
    if (result.decidedByRule) {
        std::printf("-");
    } else {
        std::printf("%d", result.score);
    }
    std::printf("\t%s\t%s\t", result.probabilityText.empty() ? "--" : result.probabilityText.c_str(),
                RuleName(result.rule));
    for (std::size_t i = 0; i < slots.size(); ++i) {
        std::printf(i == 0 ? "%d" : ",%d", slots[i].probability);
    }
    std::printf("\n");
}

int RunClassify(CommandContext& context) {
    bool tsv = false;
    std::vector<std::string> files;
    for (const std::string& argument : context.arguments) {
        if (argument == "--tsv") {
            tsv = true;
        } else {
            files.push_back(argument);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: bramvell classify [--tsv] FILE...\n");
        return 2;
    }
    std::unique_ptr<ClassifySetup> setup = PrepareClassification(context.programFolder);
    // An inspection on demand is not filtering: it leaves the activity log alone.
    setup->settings.activityLogEnabled = 0;
    TokenProbabilities probabilities;
    probabilities.Build(setup->tables, setup->settings.spamMessageCount.load(),
                        setup->settings.hamMessageCount.load(), ScoringMode::Filter);
    MessageClassifier classifier(setup->settings, &setup->lists);
    classifier.UseProbabilities(&probabilities);
    TextLineSource lines;
    int status = 0;
    for (const std::string& path : files) {
        if (!lines.LoadFile(path)) {
            std::fprintf(stderr, "bramvell: cannot read %s\n", path.c_str());
            status = 1;
            continue;
        }
        const ClassificationResult result = classifier.Classify(lines);
        if (tsv) {
            PrintTsv(path, result, classifier.Slots());
        } else {
            PrintReport(path, result, classifier.Slots());
        }
    }
    return status;
}

const CommandRegistration registration({"classify", "classify [--tsv] FILE...",
                                        "print the verdict, score and slots of each message file",
                                        RunClassify});

}  // namespace
}  // namespace bramvell
