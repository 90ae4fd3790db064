#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "ClassifyTestSupport.h"
#include "classify/CorpusTrainer.h"
#include "classify/MessageClassifier.h"
#include "classify/TextLineSource.h"
#include "classify/TokenTableLoader.h"

namespace bramvell {
namespace {

using testing::ClassifyFixture;
using testing::WriteWholeFile;

// The filter thread classifies while the UI thread learns into the same tables: every analysis sees
// the tables whole, and the sanitizer sees no race.
TEST(TokenTablesThreadedTest, AnalysisRunsWhileTheCorpusToolLearns) {
    ClassifyFixture fixture;
    FilterSettings& settings = *fixture.settings;
    settings.activityLogEnabled = 0;
    settings.checkFromToDiffer = 0;
    LoadTokenTables(*fixture.tables, fixture.folder.path());
    for (int i = 0; i < 8; ++i) {
        std::string text = "Subject: offer number " + std::to_string(i) + "\n\n";
        for (int word = 0; word < 200; ++word) {
            text += "word";
            text += static_cast<char>('a' + (word + i) % 26);
            text += static_cast<char>('a' + word / 26 % 26);
            text += word % 7 == 0 ? " FREE " : " money ";
        }
        WriteWholeFile(fixture.Quarantine("m" + std::to_string(i)), text);
    }

    std::atomic<bool> learning{true};
    std::thread filter([&] {
        MessageClassifier classifier(settings, nullptr);
        TextLineSource lines;
        int analyses = 0;
        while (learning.load() || analyses < 50) {
            lines.SetText(
                "From: a\nTo: b\nSubject: FREE money\n\nwordaa money wordba FREE wordca money offer\n");
            const ClassificationResult result = classifier.Classify(lines);
            EXPECT_GE(result.score, 0);
            EXPECT_LE(result.score, 10000);
            ++analyses;
        }
    });
    for (int round = 0; round < 3; ++round) {
        CorpusTrainer(settings).Learn(round % 2 == 0 ? SampleClass::Spam : SampleClass::Ham);
    }
    learning = false;
    filter.join();
    EXPECT_EQ(settings.spamMessageCount, 16);
    EXPECT_EQ(settings.hamMessageCount, 8);
}

}  // namespace
}  // namespace bramvell
