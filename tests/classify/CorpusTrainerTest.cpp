#include "classify/CorpusTrainer.h"

#include <gtest/gtest.h>

#include "ClassifyTestSupport.h"
#include "classify/TokenTableLoader.h"

namespace bramvell {
namespace {

using testing::ClassifyFixture;
using testing::Le16;
using testing::Le32;
using testing::ReadWholeFile;
using testing::RecordBytes;
using testing::WriteWholeFile;

const char* const kSample =
    "From: x@y\r\n"
    "Subject: Free FREE\r\n"
    "Received: free\r\n"
    "\r\n"
    "free Money money\r\n";

std::string CountFile(std::initializer_list<std::pair<int, uint16_t>> counts) {
    std::string bytes(35152, '\0');
    for (auto [bucket, count] : counts) {
        bytes.replace(2 * static_cast<std::size_t>(bucket), 2, Le16(count));
    }
    return bytes;
}

class CorpusTrainerTest : public ::testing::Test {
  protected:
    CorpusTrainerTest() {
        // Start-up creates the bucket-count files before anything is learned.
        LoadTokenTables(*fixture.tables, fixture.folder.path());
    }
    CorpusRunStatus Learn(SampleClass sampleClass) {
        CorpusTrainer trainer(*fixture.settings);
        return trainer.Learn(sampleClass);
    }
    ClassifyFixture fixture;
};

constexpr int kFreeBucket = 676 * 5 + 26 * 17 + 4;      // "fre"
constexpr int kMoneyBucket = 676 * 12 + 26 * 14 + 13;   // "mon"
constexpr int kSubjectBucket = 676 * 18 + 26 * 20 + 1;  // "sub"

TEST_F(CorpusTrainerTest, WritesEveryDataFileByteForByte) {
    WriteWholeFile(fixture.Quarantine("a.eml"), kSample);
    EXPECT_EQ(Learn(SampleClass::Spam), CorpusRunStatus::Finished);

    EXPECT_EQ(ReadWholeFile(fixture.Data("2118")), Le32(44) + RecordBytes(4, {0, 0, 0}, {0, 1, 0}, "ubject"));
    EXPECT_EQ(ReadWholeFile(fixture.Data("2105")), Le32(44) + RecordBytes(4, {0, 0, 0}, {0, 1, 1}, "ree"));
    EXPECT_EQ(ReadWholeFile(fixture.Data("0105")), Le32(44) + RecordBytes(4, {0, 0, 0}, {1, 0, 0}, "ree"));
    EXPECT_EQ(ReadWholeFile(fixture.Data("0112")), Le32(44) + RecordBytes(4, {0, 0, 0}, {1, 1, 0}, "oney"));
    EXPECT_EQ(ReadWholeFile(fixture.Data("X010")), CountFile({{kFreeBucket, 1}, {kMoneyBucket, 1}}));
    EXPECT_EQ(ReadWholeFile(fixture.Data("X210")), CountFile({{kFreeBucket, 1}, {kSubjectBucket, 1}}));
    EXPECT_EQ(ReadWholeFile(fixture.Data("X020")), CountFile({}));
    // "Received: free" taught nothing, and no other file was made.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(fixture.folder / "Data")) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 12 + 4);

    const FilterSettings& settings = *fixture.settings;
    EXPECT_EQ(settings.spamMessageCount, 1);
    EXPECT_EQ(settings.hamMessageCount, 0);
    EXPECT_EQ(settings.newLowerTokenCount, 1);
    EXPECT_EQ(settings.newCapitalTokenCount, 3);
    EXPECT_EQ(settings.newUpperTokenCount, 0);
}

TEST_F(CorpusTrainerTest, LearningTwiceDoublesAndAppendsInOrder) {
    WriteWholeFile(fixture.Quarantine("a.eml"), kSample);
    Learn(SampleClass::Spam);
    Learn(SampleClass::Spam);
    EXPECT_EQ(fixture.settings->spamMessageCount, 2);
    EXPECT_EQ(ReadWholeFile(fixture.Data("2105")), Le32(44) + RecordBytes(4, {0, 0, 0}, {0, 2, 2}, "ree"));
    EXPECT_EQ(ReadWholeFile(fixture.Data("0112")), Le32(44) + RecordBytes(4, {0, 0, 0}, {2, 2, 0}, "oney"));

    // A new token of the same file is appended after the others; ham counts go to the ham counters.
    WriteWholeFile(fixture.Quarantine("a.eml"), "Subject: x\n\nfreedom free\n");
    Learn(SampleClass::Ham);
    EXPECT_EQ(ReadWholeFile(fixture.Data("0105")), Le32(84) + RecordBytes(4, {1, 0, 0}, {2, 0, 0}, "ree") +
                                                       RecordBytes(44, {1, 0, 0}, {0, 0, 0}, "reedom"));
    EXPECT_EQ(fixture.settings->hamMessageCount, 1);
    EXPECT_EQ(fixture.tables->bucketCounts[0][kFreeBucket], 2);
}

TEST_F(CorpusTrainerTest, FreeFreeAndFREERaiseOneCounterEach) {
    WriteWholeFile(fixture.Quarantine("m"), "\nFree free FREE\n");
    Learn(SampleClass::Ham);
    const TokenRecord* record = fixture.tables->bodyTokenTable().Find(kFreeBucket, testing::KeyOf("free"));
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->ham[0], 1u);
    EXPECT_EQ(record->ham[1], 1u);
    EXPECT_EQ(record->ham[2], 1u);
}

TEST_F(CorpusTrainerTest, StopsAtBase64AndSkipsWhatCannotBeOpened) {
    WriteWholeFile(fixture.Quarantine("a"),
                   "Subject: early\nContent-Type: multipart/mixed\n\npreamble\n"
                   "content-transfer-encoding: base64\nlower\n"
                   "Content-Transfer-Encoding: base64\nafter\n");
    std::filesystem::create_directories(fixture.Quarantine("folder"));
    Learn(SampleClass::Spam);
    EXPECT_EQ(fixture.settings->spamMessageCount, 1);  // the folder is no message
    const TokenTable& body = fixture.tables->bodyTokenTable();
    EXPECT_NE(fixture.tables->headerTokenTable().Find(testing::BucketOf("early"), testing::KeyOf("early")),
              nullptr);
    EXPECT_NE(body.Find(testing::BucketOf("preamble"), testing::KeyOf("preamble")), nullptr);
    EXPECT_NE(body.Find(testing::BucketOf("lower"), testing::KeyOf("lower")), nullptr);
    EXPECT_EQ(body.Find(testing::BucketOf("after"), testing::KeyOf("after")), nullptr);
}

TEST_F(CorpusTrainerTest, CommentDepthIsResetForEachFile) {
    WriteWholeFile(fixture.Quarantine("1"), "\nopen <!-- never closed\n");
    WriteWholeFile(fixture.Quarantine("2"), "\nvisible\n");
    Learn(SampleClass::Spam);
    EXPECT_NE(fixture.tables->bodyTokenTable().Find(testing::BucketOf("visible"), testing::KeyOf("visible")),
              nullptr);
}

TEST_F(CorpusTrainerTest, PumpStopsTheRunAtOnce) {
    WriteWholeFile(fixture.Quarantine("1"), "\nfirst\nsecond\n");
    WriteWholeFile(fixture.Quarantine("2"), "\nthird\n");
    int calls = 0;
    CorpusTrainer trainer(*fixture.settings, {[&calls] { return ++calls < 3; }, {}});
    EXPECT_EQ(trainer.Learn(SampleClass::Spam), CorpusRunStatus::Stopped);
    EXPECT_EQ(fixture.settings->spamMessageCount, 1);
    const TokenTable& body = fixture.tables->bodyTokenTable();
    EXPECT_NE(body.Find(testing::BucketOf("first"), testing::KeyOf("first")), nullptr);
    EXPECT_EQ(body.Find(testing::BucketOf("second"), testing::KeyOf("second")), nullptr);
}

TEST_F(CorpusTrainerTest, CountersStopAtTheirLargestValue) {
    TokenRecord record = testing::MakeRecord("max", {0, 0, 0}, {0xFFFFFFFFu, 0, 0});
    WriteWholeFile(fixture.Data("0112"), Le32(44) + std::string(reinterpret_cast<const char*>(&record), 40));
    LoadTokenTables(*fixture.tables, fixture.folder.path());
    WriteWholeFile(fixture.Quarantine("m"), "\nmax\n");
    Learn(SampleClass::Spam);
    EXPECT_EQ(ReadWholeFile(fixture.Data("0112")),
              Le32(44) + RecordBytes(4, {0, 0, 0}, {0xFFFFFFFFu, 0, 0}, "ax"));
}

// Learning that cannot reach its files stops and names the file; memory is left as the files are.
TEST_F(CorpusTrainerTest, UnwritableDataFolderFailsAndLearnsNothing) {
    std::filesystem::remove_all(fixture.folder / "Data");
    WriteWholeFile(fixture.folder / "Data", "not a folder");
    WriteWholeFile(fixture.Quarantine("m"), "\nsome words here\n");
    CorpusTrainer trainer(*fixture.settings);
    EXPECT_EQ(trainer.Learn(SampleClass::Spam), CorpusRunStatus::Failed);
    EXPECT_NE(trainer.FailureMessage().find("/Data/01"), std::string::npos) << trainer.FailureMessage();
    EXPECT_EQ(fixture.tables->bodyTokenTable().Find(testing::BucketOf("words"), testing::KeyOf("words")),
              nullptr);
    EXPECT_EQ(fixture.settings->spamMessageCount, 0);
}

}  // namespace
}  // namespace bramvell
