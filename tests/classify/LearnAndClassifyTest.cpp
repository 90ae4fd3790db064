#include <gtest/gtest.h>

#include "ClassifyTestSupport.h"
#include "classify/CorpusTrainer.h"
#include "classify/MessageClassifier.h"
#include "classify/TextLineSource.h"
#include "classify/TokenTableLoader.h"

namespace bramvell {
namespace {

using testing::ClassifyFixture;

std::string Fixture(const std::string& name) {
    return std::string(BRAMVELL_TEST_DATA) + "/classify/" + name;
}

// Learns the fixture messages from the quarantine folder, as the corpus tool's users do, and lets
// the filter judge them after a restart (tables loaded from the files written).
class LearnAndClassifyTest : public ::testing::Test {
  protected:
    void LearnFixture(const std::string& name, SampleClass sampleClass) {
        std::filesystem::remove_all(fixture.folder / "quarantine");
        std::filesystem::create_directories(fixture.folder / "quarantine");
        std::filesystem::copy_file(Fixture(name), fixture.Quarantine(name));
        CorpusTrainer(*fixture.settings).Learn(sampleClass);
    }
    ClassificationResult Judge(const std::string& name) {
        TextLineSource lines;
        EXPECT_TRUE(lines.LoadFile(Fixture(name)));
        MessageClassifier classifier(*fixture.settings, nullptr);
        return classifier.Classify(lines);
    }
    ClassifyFixture fixture;
};

TEST_F(LearnAndClassifyTest, LearnedSpamAndHamAreToldApartAfterReload) {
    LoadTokenTables(*fixture.tables, fixture.folder.path());
    LearnFixture("spam-html.eml", SampleClass::Spam);
    LearnFixture("ham-plain.eml", SampleClass::Ham);
    LoadTokenTables(*fixture.tables, fixture.folder.path());
    fixture.settings->activityLogEnabled = 0;

    const ClassificationResult spam = Judge("spam-html.eml");
    EXPECT_TRUE(spam.isSpam);
    EXPECT_EQ(spam.sender, "\"Best Deals\" <promo@deals.example>");
    EXPECT_EQ(spam.probabilityText, std::to_string(spam.score).substr(0, 2));
    EXPECT_FALSE(Judge("ham-plain.eml").isSpam);
    // Words hidden in comments were not learned.
    EXPECT_EQ(fixture.tables->bodyTokenTable().Find(testing::BucketOf("agenda"), testing::KeyOf("agenda")),
              nullptr);
}

TEST_F(LearnAndClassifyTest, Base64PartsTeachNothing) {
    LoadTokenTables(*fixture.tables, fixture.folder.path());
    LearnFixture("multipart-base64.eml", SampleClass::Ham);
    const TokenTable& body = fixture.tables->bodyTokenTable();
    EXPECT_NE(body.Find(testing::BucketOf("slides"), testing::KeyOf("slides")), nullptr);
    EXPECT_EQ(body.Find(testing::BucketOf("QUJDREVGR"), testing::KeyOf("QUJDREVGR")), nullptr);
}

}  // namespace
}  // namespace bramvell
