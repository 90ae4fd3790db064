#include "classify/CorpusEvaluator.h"

#include <gtest/gtest.h>

#include "ClassifyTestSupport.h"
#include "config/ActivityLog.h"
#include "support/FakeClock.h"

namespace bramvell {
namespace {

using testing::ClassifyFixture;
using testing::FakeClock;
using testing::ReadWholeFile;
using testing::WriteWholeFile;

class CorpusEvaluatorTest : public ::testing::Test {
  protected:
    CorpusEvaluatorTest() {
        fixture.AddBody("spam", {0, 0, 0}, {3, 0, 0});
        fixture.AddBody("ham", {2, 0, 0}, {0, 0, 0});
        fixture.AddBody("mixed", {1, 0, 0}, {1, 0, 0});
        fixture.settings->spamMessageCount = 1;
        fixture.settings->hamMessageCount = 1;
    }
    std::string Log() { return ReadWholeFile(ActivityLogPath(fixture.settings->LogFolder(), clock.Now())); }

    ClassifyFixture fixture;
    FakeClock clock;
};

TEST_F(CorpusEvaluatorTest, WritesAScoreLinePerSampleAndTotalsPerEntry) {
    // Twenty tokens learned only from spam score 10000 here (the filter would say 9900).
    std::string twenty;
    for (int i = 0; i < 20; ++i) twenty += "spam ";
    WriteWholeFile(fixture.Quarantine("a"), "Subject: x\n\n" + twenty + "\n");
    WriteWholeFile(fixture.Quarantine("b"), "\nham mixed unknown\n");
    std::filesystem::create_directories(fixture.Quarantine("c-folder"));

    CorpusEvaluator evaluator(*fixture.settings, {}, clock);
    EXPECT_EQ(evaluator.Evaluate(), CorpusRunStatus::Finished);
    EXPECT_EQ(
        Log(),
        "20260315103000 - 10000||10000|10000|10000|10000|10000|10000|10000|10000|10000|10000|10000|10000|"
        "10000|10000|10000\r\n"
        "20260315103000 - Cnt: 1  Ham: 0  Spam: 1\r\n"
        // ham 0, mixed 3333 (a = 10000, b = 30000), unknown 3500: (0 + 3333 + 3500) / 15
        "20260315103000 - 455||0|3333|3500|0|0|0|0|0|0|0|0|0|0|0|0\r\n"
        "20260315103000 - Cnt: 2  Ham: 1  Spam: 1\r\n"
        "20260315103000 - Cnt: 2  Ham: 1  Spam: 1\r\n");
    EXPECT_EQ(evaluator.Totals().count, 2);
    // Nothing learned, nothing counted.
    EXPECT_EQ(fixture.settings->spamMessageCount, 1);
    EXPECT_EQ(fixture.tables->bodyTokenTable().RecordCount(), 3u);
}

TEST_F(CorpusEvaluatorTest, EmptyOrMissingFolderWritesNothing) {
    CorpusEvaluator evaluator(*fixture.settings, {}, clock);
    EXPECT_EQ(evaluator.Evaluate(fixture.folder / "missing"), CorpusRunStatus::Finished);
    EXPECT_EQ(evaluator.Evaluate(), CorpusRunStatus::Finished);
    EXPECT_FALSE(std::filesystem::exists(ActivityLogPath(fixture.settings->LogFolder(), clock.Now())));
}

TEST_F(CorpusEvaluatorTest, LinesFollowTheLogOption) {
    WriteWholeFile(fixture.Quarantine("a"), "\nham\n");
    fixture.settings->activityLogEnabled = 0;
    CorpusEvaluator evaluator(*fixture.settings, {}, clock);
    evaluator.Evaluate();
    EXPECT_EQ(evaluator.Totals().ham, 1);
    EXPECT_FALSE(std::filesystem::exists(ActivityLogPath(fixture.settings->LogFolder(), clock.Now())));
}

}  // namespace
}  // namespace bramvell
