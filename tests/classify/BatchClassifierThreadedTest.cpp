#include <gtest/gtest.h>

#include <algorithm>

#include "ClassifyTestSupport.h"
#include "classify/BatchClassifier.h"
#include "classify/CorpusTrainer.h"
#include "classify/TokenTableLoader.h"

namespace bramvell {
namespace {

using testing::ClassifyFixture;

// Worker threads share the tables, the precomputed probabilities and the sender lists read-only; the
// thread sanitizer run watches them here. Many threads over many small chunks give the same text as one.
TEST(BatchClassifierThreadedTest, ManyWorkersGiveWhatOneGives) {
    const std::string data = BRAMVELL_TEST_DATA;
    ClassifyFixture fixture;
    LoadTokenTables(*fixture.tables, fixture.folder.path());
    CorpusTrainer trainer(*fixture.settings);
    trainer.Learn(SampleClass::Spam, data + "/e2e/train/spam");
    trainer.Learn(SampleClass::Ham, data + "/e2e/train/ham");
    fixture.settings->activityLogEnabled = 0;
    std::vector<std::string> files;
    for (int copy = 0; copy < 20; ++copy) {
        for (const auto& entry : std::filesystem::directory_iterator(data + "/e2e/mailbox")) {
            files.push_back(entry.path().string());
        }
    }
    BatchClassifier batch(*fixture.settings, nullptr);
    auto run = [&](int jobs) {
        std::string text;
        batch.Run(
            files, jobs,
            [](std::string& out, std::string&, const std::string& path, const ClassificationResult* result,
               const TopTokenSlots& slots) {
                out += path;
                out += result != nullptr && result->isSpam ? " spam " : " ham ";
                for (const TokenSlot& slot : slots) {
                    out += std::to_string(slot.probability) + ' ';
                }
                out += '\n';
            },
            [&text](std::string_view out, std::string_view) { text += out; });
        return text;
    };
    const std::string one = run(1);
    EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), static_cast<long>(files.size()));
    EXPECT_EQ(run(4), one);
}

}  // namespace
}  // namespace bramvell
