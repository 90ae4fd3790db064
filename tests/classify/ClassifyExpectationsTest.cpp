#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ClassifyTestSupport.h"
#include "classify/BatchClassifier.h"
#include "classify/CorpusTrainer.h"
#include "classify/MessageClassifier.h"
#include "classify/TextLineSource.h"
#include "classify/TokenTableLoader.h"

namespace bramvell {
namespace {

using testing::ClassifyFixture;

const std::string kData = BRAMVELL_TEST_DATA;
const std::string kExpectations = kData + "/classify/expectations/expected.tsv";

// Every message the verdicts are pinned for: the end-to-end mailbox, the classify fixtures and the
// messages made for odd tokenizing (comments across lines, case forms, long and short words).
std::vector<std::string> Messages() {
    std::vector<std::string> files;
    for (const std::string folder : {"/e2e/mailbox", "/classify", "/classify/expectations"}) {
        for (const auto& entry : std::filesystem::directory_iterator(kData + folder)) {
            if (entry.is_regular_file() && entry.path().extension() == ".eml") {
                files.push_back(entry.path().string());
            }
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string KeyText(const TokenKey& key) {
    std::string text;
    for (char c : key.bytes) {
        if (c == 0) {
            break;
        }
        text += c;
    }
    return text;
}

// One line per message: name, verdict, score, probability text, rule and every slot with its key.
std::string Describe(const std::string& path, const ClassificationResult& result,
                     const TopTokenSlots& slots) {
    std::ostringstream out;
    out << std::filesystem::path(path).filename().string() << '\t' << (result.isSpam ? "spam" : "ham") << '\t'
        << (result.decidedByRule ? -1 : result.score) << '\t' << result.probabilityText << '\t'
        << static_cast<int>(result.rule) << '\t';
    for (const TokenSlot& slot : slots) {
        out << slot.probability << ':' << KeyText(slot.key) << ' ';
    }
    return out.str();
}

// The scores and slots of these messages after learning the end-to-end training set were recorded
// once and must never change: speed work on the tokenizer, the lookups and the scorer has to give
// exactly the same results. BRAMVELL_RECORD_EXPECTATIONS=1 rewrites the file (only on purpose).
class ClassifyExpectationsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        LoadTokenTables(*fixture.tables, fixture.folder.path());
        CorpusTrainer trainer(*fixture.settings);
        trainer.Learn(SampleClass::Spam, kData + "/e2e/train/spam");
        trainer.Learn(SampleClass::Ham, kData + "/e2e/train/ham");
        LoadTokenTables(*fixture.tables, fixture.folder.path());
        fixture.settings->activityLogEnabled = 0;
    }

    std::vector<std::string> Expected() {
        std::vector<std::string> lines;
        std::ifstream in(kExpectations);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    void Check(const std::vector<std::string>& actual) {
        if (const char* record = std::getenv("BRAMVELL_RECORD_EXPECTATIONS"); record && *record == '1') {
            std::ofstream out(kExpectations);
            for (const std::string& line : actual) {
                out << line << '\n';
            }
        }
        EXPECT_EQ(actual, Expected());
    }

    ClassifyFixture fixture;
};

TEST_F(ClassifyExpectationsTest, MessageByMessageResultsStayAsRecorded) {
    MessageClassifier classifier(*fixture.settings, nullptr);
    TextLineSource lines;
    std::vector<std::string> actual;
    for (const std::string& path : Messages()) {
        ASSERT_TRUE(lines.LoadFile(path));
        const ClassificationResult result = classifier.Classify(lines);
        actual.push_back(Describe(path, result, classifier.Slots()));
    }
    ASSERT_GE(actual.size(), 13u);
    Check(actual);
}

// The batch path (precomputed probabilities, worker threads) gives the same lines in the same order,
// whatever the number of threads; an unreadable file is reported in its place.
TEST_F(ClassifyExpectationsTest, BatchRunsGiveTheRecordedResultsInInputOrder) {
    std::vector<std::string> files = Messages();
    BatchClassifier batch(*fixture.settings, nullptr);
    for (int jobs : {1, 3}) {
        std::vector<std::string> files3;
        // Enough copies to need several chunks and threads.
        for (int copy = 0; copy < 8; ++copy) {
            files3.insert(files3.end(), files.begin(), files.end());
        }
        files3.insert(files3.begin() + 5, kData + "/classify/no-such-message.eml");
        std::string out;
        std::string err;
        const std::size_t unreadable = batch.Run(
            files3, jobs,
            [](std::string& chunkOut, std::string& chunkErr, const std::string& path,
               const ClassificationResult* result, const TopTokenSlots& slots) {
                if (result == nullptr) {
                    chunkErr += path + "\n";
                } else {
                    chunkOut += Describe(path, *result, slots) + "\n";
                }
            },
            [&](std::string_view chunkOut, std::string_view chunkErr) {
                out += chunkOut;
                err += chunkErr;
            });
        EXPECT_EQ(unreadable, 1u);
        EXPECT_EQ(err, kData + "/classify/no-such-message.eml\n");
        std::string expected;
        for (int copy = 0; copy < 8; ++copy) {
            for (const std::string& line : Expected()) {
                expected += line + "\n";
            }
        }
        EXPECT_EQ(out, expected) << "jobs " << jobs;
    }
}

}  // namespace
}  // namespace bramvell
