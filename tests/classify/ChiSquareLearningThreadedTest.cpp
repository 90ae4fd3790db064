#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "classify/ChiSquareTrainer.h"
#include "support/TempFolder.h"

namespace bramvell {
namespace {

// A batch large enough to be tokenized in two halves on two threads (the thread sanitizer run watches
// them here) leaves the store as learning the same files a few at a time, on one thread, does: the same
// totals, the same counts, a repeat inside the batch counted once and an unreadable file skipped.
TEST(ChiSquareLearningThreadedTest, TwoHalvesLearnWhatOneThreadLearns) {
    testing::TempFolder temp;
    std::filesystem::create_directory(temp / "mail");
    std::vector<std::string> files;
    for (int i = 0; i < 3 * static_cast<int>(ChiSquareTrainer::kSplitFrom); ++i) {
        const std::string path = temp / ("mail/m" + std::to_string(i));
        std::ofstream(path) << "Subject: offer " << i % 7 << "\nFrom: a" << i % 5 << "@example.com\n\nword"
                            << i << " common body text " << (i % 2 == 0 ? "cheap pills" : "meeting notes")
                            << "\n";
        files.push_back(path);
    }
    files.push_back(files[10]);                     // a repeat: learned once
    files.push_back(temp / "mail/missing");         // unreadable
    files.insert(files.begin() + 5, files.back());  // unreadable again, in the first half

    auto learn = [&](const std::string& name, std::size_t step, ChiSquareTrainingSummary& summary) {
        auto store = std::make_unique<ChiSquareStore>();
        std::string problem;
        EXPECT_TRUE(store->Open(temp / name, true, problem)) << problem;
        ChiSquareTrainer trainer(*store);
        for (std::size_t first = 0; first < files.size(); first += step) {
            const std::vector<std::string> part(
                files.begin() + static_cast<std::ptrdiff_t>(first),
                files.begin() + static_cast<std::ptrdiff_t>(std::min(files.size(), first + step)));
            EXPECT_TRUE(trainer.Learn(MailClass::Spam, part, summary, problem)) << problem;
        }
        return store;
    };
    ChiSquareTrainingSummary together;
    ChiSquareTrainingSummary apart;
    const auto both = learn("together.lmdb", files.size(), together);
    const auto one = learn("apart.lmdb", ChiSquareTrainer::kSplitFrom / 4, apart);
    EXPECT_EQ(together.learned, 3 * ChiSquareTrainer::kSplitFrom);
    EXPECT_EQ(together.duplicates, 1u);
    EXPECT_EQ(together.unreadable, 2u);
    EXPECT_EQ(apart.learned, together.learned);

    const ChiSquareStore::Snapshot a(*both);
    const ChiSquareStore::Snapshot b(*one);
    EXPECT_EQ(a.Totals().spam, b.Totals().spam);
    for (const char* token : {"subject:offer", "common", "cheap", "meeting", "word10", "common body"}) {
        EXPECT_EQ(a.Counts(token).spam, b.Counts(token).spam) << token;
    }
    EXPECT_EQ(a.Counts("common").spam, 3 * ChiSquareTrainer::kSplitFrom);
}

// Training on errors over enough messages takes its first round in two halves on two threads; the
// store then counts each message as often as it was learned, in all.
TEST(ChiSquareLearningThreadedTest, TrainingOnErrorsInTwoHalvesCountsEveryRelearning) {
    testing::TempFolder temp;
    std::filesystem::create_directory(temp / "spam");
    std::filesystem::create_directory(temp / "ham");
    const int perClass = static_cast<int>(ChiSquareTrainer::kSplitFrom);
    for (int i = 0; i < perClass; ++i) {
        // Every fifth spam message reads like the good mail: training on errors has work to do.
        const bool dressed = i % 5 == 0;
        std::ofstream(temp / ("spam/" + std::to_string(i)))
            << "Subject: " << (dressed ? "meeting " : "offer ") << i << "\n\n"
            << (dressed ? "agenda minutes budget" : "cheap pills") << " casino" << i << "\n";
        std::ofstream(temp / ("ham/" + std::to_string(i)))
            << "Subject: meeting " << i << "\n\nagenda minutes budget "
            << "notes" << i << "\n";
    }
    ChiSquareStore store;
    std::string problem;
    ASSERT_TRUE(store.Open(temp / "store", true, problem)) << problem;
    ChiSquareTrainer trainer(store);
    ChiSquareTrainingSummary summary;
    ASSERT_TRUE(trainer.LearnFolders({{MailClass::Spam, temp / "spam"}, {MailClass::Ham, temp / "ham"}},
                                     summary, problem))
        << problem;
    EXPECT_EQ(summary.learned, 2u * perClass);
    EXPECT_GT(summary.relearned, 0u);
    const ChiSquareStore::Snapshot snapshot(store);
    EXPECT_EQ(snapshot.Totals().spam + snapshot.Totals().ham, 2u * perClass + summary.relearned);
}

}  // namespace
}  // namespace bramvell
