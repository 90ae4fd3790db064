#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "classify/ChiSquareBatch.h"
#include "classify/ChiSquareTrainer.h"
#include "support/TempFolder.h"

namespace bramvell {
namespace {

// Worker threads each read the store through their own snapshot and parse with GMime side by side; the
// thread sanitizer run watches them here. Many workers over many chunks give the text one gives, and an
// unreadable file is reported in its place.
TEST(ChiSquareBatchThreadedTest, ManyWorkersGiveWhatOneGives) {
    const std::string data = BRAMVELL_TEST_DATA;
    testing::TempFolder temp;
    ChiSquareStore store;
    std::string problem;
    ASSERT_TRUE(store.Open(temp / "chisquare.lmdb", true, problem)) << problem;
    ChiSquareTrainer trainer(store);
    ChiSquareTrainingSummary summary;
    ASSERT_TRUE(trainer.LearnFolder(MailClass::Spam, data + "/e2e/train/spam", summary, problem)) << problem;
    ASSERT_TRUE(trainer.LearnFolder(MailClass::Ham, data + "/e2e/train/ham", summary, problem)) << problem;

    std::vector<std::string> files;
    for (int copy = 0; copy < 12; ++copy) {
        for (const auto& entry : std::filesystem::directory_iterator(data + "/e2e/mailbox")) {
            files.push_back(entry.path().string());
        }
    }
    files.insert(files.begin() + 40, temp / "missing.eml");
    const ChiSquareClassifier classifier(store, ChiSquareParameters{}, CutoffsOfLevel(true, 1));
    const ChiSquareBatch batch(store, classifier);
    auto run = [&](int jobs, std::size_t& unreadable) {
        std::string text;
        unreadable = batch.Run(
            files, jobs,
            [](std::string& out, std::string& err, const std::string& path, const ChiSquareResult* result) {
                if (result == nullptr) {
                    err += path + '\n';
                    out += "unreadable\n";
                    return;
                }
                out += path + ' ' + std::to_string(result->score) + ' ' + std::to_string(result->tokensUsed);
                for (const TellingToken& token : result->telling) {
                    out += ' ' + token.token;
                }
                out += '\n';
            },
            [&text](std::string_view out, std::string_view err) {
                text += err;
                text += out;
            });
        return text;
    };
    std::size_t unreadableByOne = 0;
    std::size_t unreadableByMany = 0;
    const std::string one = run(1, unreadableByOne);
    EXPECT_EQ(unreadableByOne, 1u);
    EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), static_cast<long>(files.size() + 1));
    EXPECT_EQ(run(4, unreadableByMany), one);
    EXPECT_EQ(unreadableByMany, 1u);
}

}  // namespace
}  // namespace bramvell
