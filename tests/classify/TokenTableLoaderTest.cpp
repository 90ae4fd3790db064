#include "classify/TokenTableLoader.h"

#include <gtest/gtest.h>

#include <random>

#include "ClassifyTestSupport.h"
#include "classify/CorpusTrainer.h"
#include "classify/TokenScorer.h"

namespace bramvell {
namespace {

using testing::ClassifyFixture;
using testing::Le16;
using testing::Le32;
using testing::ReadWholeFile;
using testing::RecordBytes;
using testing::WriteWholeFile;

class TokenTableLoaderTest : public ::testing::Test {
  protected:
    LoadStatus Load(const PumpCallback& pump = {}) {
        return LoadTokenTables(*fixture.tables, fixture.folder.path(), pump);
    }
    const TokenRecord* Body(const std::string& token) {
        return fixture.tables->bodyTokenTable().Find(testing::BucketOf(token), testing::KeyOf(token));
    }
    ClassifyFixture fixture;
};

TEST_F(TokenTableLoaderTest, CreatesTheTwelveCountFilesWhenX010IsMissing) {
    WriteWholeFile(fixture.Data("X210"), Le16(7));  // short, kept as it is
    EXPECT_EQ(Load(), LoadStatus::Complete);
    for (const char* name :
         {"X010", "X020", "X030", "X110", "X120", "X130", "X220", "X230", "X310", "X320", "X330"}) {
        EXPECT_EQ(ReadWholeFile(fixture.Data(name)), std::string(35152, '\0')) << name;
    }
    EXPECT_EQ(ReadWholeFile(fixture.Data("X210")), Le16(7));
}

TEST_F(TokenTableLoaderTest, LoadsWhatLearningWrote) {
    testing::WriteWholeFile(fixture.Quarantine("m"), "Subject: Cheap pills\n\nBuy cheap PILLS now, cheap!\n");
    Load();
    CorpusTrainer(*fixture.settings).Learn(SampleClass::Spam);
    TokenTables reloaded;
    ASSERT_EQ(LoadTokenTables(reloaded, fixture.folder.path()), LoadStatus::Complete);
    for (int table : {kBodyTable, kHeaderTable}) {
        for (int bucket = 0; bucket < kBucketCount; ++bucket) {
            const auto& expected = fixture.tables->tables[table].Bucket(bucket);
            const auto& loaded = reloaded.tables[table].Bucket(bucket);
            ASSERT_EQ(loaded.size(), expected.size());
            for (std::size_t i = 0; i < loaded.size(); ++i) {
                EXPECT_EQ(std::memcmp(&loaded[i], &expected[i], sizeof(TokenRecord)), 0);
            }
            EXPECT_EQ(reloaded.bucketCounts[table][bucket], fixture.tables->bucketCounts[table][bucket]);
        }
    }
    const TokenRecord* cheap =
        reloaded.bodyTokenTable().Find(testing::BucketOf("cheap"), testing::KeyOf("cheap"));
    ASSERT_NE(cheap, nullptr);
    EXPECT_EQ(cheap->spam[0], 2u);
}

TEST_F(TokenTableLoaderTest, SkipsBadNamesDirectoriesAndPartialRecords) {
    const std::string good = RecordBytes(4, {1, 0, 0}, {0, 0, 0}, "ood");
    WriteWholeFile(fixture.Data("0106"), Le32(999) + good + "partial record");
    WriteWholeFile(fixture.Data("0126"), Le32(44) + RecordBytes(4, {1, 0, 0}, {0, 0, 0}, "one"));
    WriteWholeFile(fixture.Data("0100.bak"), Le32(44) + RecordBytes(4, {1, 0, 0}, {0, 0, 0}, "two"));
    WriteWholeFile(fixture.Data("01x1"), Le32(44) + RecordBytes(4, {1, 0, 0}, {0, 0, 0}, "hree"));
    std::filesystem::create_directories(fixture.Data("0101"));
    WriteWholeFile(fixture.Data("0102"), "ab");  // shorter than a header
    EXPECT_EQ(Load(), LoadStatus::Complete);
    EXPECT_EQ(fixture.tables->bodyTokenTable().RecordCount(), 1u);
    ASSERT_NE(Body("good"), nullptr);
    EXPECT_EQ(fixture.tables->bucketCounts[kBodyTable][testing::BucketOf("good")], 1);
}

TEST_F(TokenTableLoaderTest, OffsetsComeFromWhereRecordsLieSoLearningWritesInPlace) {
    WriteWholeFile(fixture.Data("0106"), Le32(44) + RecordBytes(-77, {1, 0, 0}, {0, 0, 0}, "ood") + "xyz");
    Load();
    ASSERT_NE(Body("good"), nullptr);
    EXPECT_EQ(Body("good")->offset, 4);
    WriteWholeFile(fixture.Quarantine("m"), "\ngood gone\n");
    CorpusTrainer(*fixture.settings).Learn(SampleClass::Spam);
    // The partial record is overwritten by the next whole one; the header follows the file.
    EXPECT_EQ(ReadWholeFile(fixture.Data("0106")), Le32(84) + RecordBytes(4, {1, 0, 0}, {1, 0, 0}, "ood") +
                                                       RecordBytes(44, {0, 0, 0}, {1, 0, 0}, "one"));
}

TEST_F(TokenTableLoaderTest, CountsThatLieReserveNothingAndAreReplacedByWhatLoaded) {
    std::string counts;
    for (int i = 0; i < kBucketCount; ++i) counts += Le16(32767);
    WriteWholeFile(fixture.Data("X010"), counts + "oversized tail");
    WriteWholeFile(fixture.Data("0106"), Le32(44) + RecordBytes(4, {1, 0, 0}, {0, 0, 0}, "ood"));
    Load();
    EXPECT_LE(fixture.tables->bodyTokenTable().Bucket(0).capacity(), 1u);
    EXPECT_EQ(fixture.tables->bucketCounts[kBodyTable][0], 0);
    EXPECT_EQ(fixture.tables->bucketCounts[kBodyTable][testing::BucketOf("good")], 1);
    // A missing count file reads as zeros.
    std::filesystem::remove(fixture.Data("X020"));
    EXPECT_EQ(Load(), LoadStatus::Complete);
    EXPECT_EQ(fixture.tables->bucketCounts[1][5], 0);
}

TEST_F(TokenTableLoaderTest, PumpRunsBetweenRecordsAndCanStopTheLoad) {
    std::string records;
    for (int i = 0; i < 5; ++i) {
        records += RecordBytes(0, {1, 0, 0}, {0, 0, 0}, std::string("aa") + static_cast<char>('a' + i));
    }
    WriteWholeFile(fixture.Data("0100"), Le32(204) + records);
    int calls = 0;
    EXPECT_EQ(Load([&calls] { return ++calls < 3; }), LoadStatus::Stopped);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(fixture.tables->bodyTokenTable().RecordCount(), 3u);
    calls = 0;
    EXPECT_EQ(Load([&calls] { return ++calls > 0; }), LoadStatus::Complete);
    EXPECT_EQ(calls, 5);
}

TEST_F(TokenTableLoaderTest, SurvivesGarbageOfEveryShape) {
    std::mt19937 random(12345);
    for (int round = 0; round < 40; ++round) {
        std::filesystem::remove_all(fixture.folder / "Data");
        std::filesystem::create_directories(fixture.folder / "Data");
        for (int file = 0; file < 6; ++file) {
            const std::size_t size = random() % (round % 2 == 0 ? 300 : 40000);
            std::string bytes(size, '\0');
            for (char& c : bytes) c = static_cast<char>(random());
            const char* names[] = {"0100", "0125", "2107", "X010", "X210", "2100"};
            WriteWholeFile(fixture.Data(names[file]), bytes);
        }
        ASSERT_EQ(Load(), LoadStatus::Complete);
        // Scoring and learning over whatever loaded stay sound.
        TokenScorer scorer;
        scorer.Reset(fixture.tables.get(), 3, 3);
        scorer.FeedLine("aaaa abcdefg zzzz Some Random WORDS here", false);
        scorer.FeedLine("aaaa abcdefg zzzz", true);
        EXPECT_GE(scorer.Score(), 0);
        EXPECT_LE(scorer.Score(), 10000);
        WriteWholeFile(fixture.Quarantine("m"), "Subject: aaaa zzzz\n\naaaa abcdefg zzzz\n");
        CorpusTrainer(*fixture.settings).Learn(SampleClass::Ham);
        TokenTables again;
        ASSERT_EQ(LoadTokenTables(again, fixture.folder.path()), LoadStatus::Complete);
        EXPECT_EQ(again.bodyTokenTable().RecordCount(), fixture.tables->bodyTokenTable().RecordCount());
    }
}

}  // namespace
}  // namespace bramvell
