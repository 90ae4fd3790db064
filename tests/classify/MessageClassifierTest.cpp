#include "classify/MessageClassifier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClassifyTestSupport.h"
#include "classify/TextLineSource.h"
#include "config/ActivityLog.h"
#include "lists/SubjectMatcher.h"
#include "support/FakeClock.h"

namespace bramvell {
namespace {

using testing::ClassifyFixture;
using testing::FakeClock;

// Passphrases as the list store would hold them; matching lower-cases both sides.
class FakePassphrases final : public SubjectMatcher {
  public:
    explicit FakePassphrases(std::vector<std::string> phrases) : phrases_(std::move(phrases)) {}
    bool MatchSubject(std::string_view subject) const override {
        ++calls;
        lastSubject.assign(subject);
        for (std::string phrase : phrases_) {
            for (char& c : phrase) c = LowerAscii(c);
            if (!phrase.empty() && lastSubject.find(phrase) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    mutable int calls = 0;
    mutable std::string lastSubject;

  private:
    std::vector<std::string> phrases_;
};

// Counts the lines handed out, so tests can see where reading stopped.
class CountingSource final : public MessageLineSource {
  public:
    explicit CountingSource(std::string text) { lines_.SetText(text); }
    bool NextLine(MessageLine& line) override {
        if (!lines_.NextLine(line)) {
            return false;
        }
        ++read;
        return true;
    }
    int read = 0;

  private:
    TextLineSource lines_;
};

class MessageClassifierTest : public ::testing::Test {
  protected:
    MessageClassifierTest() {
        settings().SetLogFolder(fixture.folder / "log");
        fixture.AddBody("spam", {0, 0, 0}, {1, 0, 0});
        fixture.AddBody("ham", {1, 0, 0}, {0, 0, 0});
        settings().spamMessageCount = 1;
        settings().hamMessageCount = 1;
    }
    FilterSettings& settings() { return *fixture.settings; }
    ClassificationResult Classify(const std::string& text, const SubjectMatcher* phrases = nullptr) {
        MessageClassifier classifier(settings(), phrases, clock);
        CountingSource source(text);
        ClassificationResult result = classifier.Classify(source);
        linesRead = source.read;
        slots = classifier.Slots();
        return result;
    }
    std::string Log() { return testing::ReadWholeFile(ActivityLogPath(settings().LogFolder(), clock.Now())); }

    ClassifyFixture fixture;
    FakeClock clock;
    int linesRead = 0;
    TopTokenSlots slots{};
};

std::string SpamWords(int count) {
    std::string words;
    for (int i = 0; i < count; ++i) words += "spam ";
    return words;
}

TEST_F(MessageClassifierTest, FromEqualToIsSpamAndStopsReading) {
    const ClassificationResult result =
        Classify("From: Bob@Example.com\r\nTo: bob@example.COM\r\n\r\nham ham ham\r\nmore lines\r\n");
    EXPECT_TRUE(result.isSpam);
    EXPECT_TRUE(result.decidedByRule);
    EXPECT_EQ(result.rule, DecidingRule::FromTo);
    EXPECT_EQ(result.probabilityText, "99");
    EXPECT_EQ(result.sender, "Bob@Example.com");
    EXPECT_EQ(linesRead, 3);  // the empty line decided; the body was never read
}

TEST_F(MessageClassifierTest, MissingFromAndToAreEqual) {
    EXPECT_TRUE(Classify("Subject: hello\n\nham\n").isSpam);
    settings().checkFromToDiffer = 0;
    EXPECT_FALSE(Classify("Subject: hello\n\nham\n").isSpam);
}

TEST_F(MessageClassifierTest, DisplayNameDiffersFromBareAddress) {
    const ClassificationResult result = Classify("From: Bob <bob@x.org>\nTo: bob@x.org\n\nham\n");
    EXPECT_FALSE(result.decidedByRule);
}

TEST_F(MessageClassifierTest, PassphraseAcceptsAndFromToComesFirst) {
    settings().subjectPassphrasesEnabled = 1;
    FakePassphrases phrases({"Project X"});
    const std::string spamText =
        "From: a@x\nTo: b@x\nSubject: RE: PROJECTX and project xylophone\n\n" + SpamWords(20) + "\n";
    const ClassificationResult result = Classify(spamText, &phrases);
    EXPECT_FALSE(result.isSpam);
    EXPECT_EQ(result.rule, DecidingRule::Passphrase);
    EXPECT_EQ(result.probabilityText, "99");
    EXPECT_EQ(phrases.lastSubject, "re: projectx and project xylophone");
    EXPECT_EQ(linesRead, 4);

    // From equal to To: spam, the passphrases are not consulted.
    phrases.calls = 0;
    const ClassificationResult same = Classify("From: a@x\nTo: a@x\nSubject: project x\n\nham\n", &phrases);
    EXPECT_TRUE(same.isSpam);
    EXPECT_EQ(same.rule, DecidingRule::FromTo);
    EXPECT_EQ(phrases.calls, 0);

    // Disabled list: no match is tried.
    settings().subjectPassphrasesEnabled = 0;
    EXPECT_EQ(Classify(spamText, &phrases).rule, DecidingRule::None);
}

// Records every line the classifier hands to its rewriter.
struct RecordingRewriter final : LineRewriter {
    void RewriteLine(const MessageLine& line) override {
        texts.emplace_back(line.text);
        offsets.push_back(line.position.offset);
    }
    std::vector<std::string> texts;
    std::vector<std::size_t> offsets;
};

TEST_F(MessageClassifierTest, RuleVerdictReadsNoFurtherLinesNotEvenForTheInspector) {
    settings().renameAttachments = 1;
    MessageClassifier classifier(settings(), nullptr, clock);
    CountingSource source("From: a@x\nTo: a@x\n\nfilename=\"a.exe\"\n");
    RecordingRewriter inspected;
    classifier.Classify(source, &inspected);
    EXPECT_EQ(inspected.texts, (std::vector<std::string>{"From: a@x", "To: a@x", ""}));

    settings().renameAttachments = 0;
    RecordingRewriter none;
    CountingSource again("From: a@x\nTo: b@x\n\nfilename=\"a.exe\"\n");
    classifier.Classify(again, &none);
    EXPECT_TRUE(none.texts.empty());
}

TEST_F(MessageClassifierTest, InspectorSeesEveryLineWithItsPosition) {
    settings().renameAttachments = 1;
    MessageClassifier classifier(settings(), nullptr, clock);
    CountingSource source("From: a@x\r\nTo: b@x\r\n\r\nbody\r\n");
    RecordingRewriter inspected;
    classifier.Classify(source, &inspected);
    EXPECT_EQ(inspected.offsets, (std::vector<std::size_t>{0, 11, 20, 22}));
}

TEST_F(MessageClassifierTest, HeaderCaptureQuirks) {
    settings().checkFromToDiffer = 1;
    // Reply-To and X-To are not To; capitals are; the From value keeps its brackets.
    EXPECT_FALSE(Classify("From: <a@x>\nReply-To: <a@x>\nX-To: <a@x>\n\nham\n").decidedByRule);
    EXPECT_TRUE(Classify("FROM: <a@x>\nTO: <a@x>\n\nham\n").decidedByRule);
    // A To line of four characters captures nothing: From "" equals To "".
    EXPECT_TRUE(Classify("To: \n\nham\n").decidedByRule);
    EXPECT_TRUE(Classify("To:x\nFrom:y\n\nham\n").decidedByRule);  // one character is cut after the colon
    // A later header line replaces the earlier value.
    EXPECT_TRUE(Classify("To: first\nFrom: second\nTo: second\n\nham\n").decidedByRule);
    // Folded continuation lines are not joined.
    EXPECT_TRUE(Classify("From: a\n b\nTo: a\n\nham\n").decidedByRule);
}

TEST_F(MessageClassifierTest, SubjectWithoutSpaceLosesItsFirstCharacter) {
    settings().subjectPassphrasesEnabled = 1;
    FakePassphrases phrases({"zzz"});
    Classify("From: a\nTo: b\nSubject:Hello\n\nham\n", &phrases);
    EXPECT_EQ(phrases.lastSubject, "ello");
}

TEST_F(MessageClassifierTest, ScoringStartsAtTheSubjectLine) {
    settings().checkFromToDiffer = 0;
    // Header lines before the Subject never reach the scorer.
    Classify("Received: spam spam\nSubject: ham\nX-Later: spam\n\nham\n");
    // "Subject" (unseen header token, 1000), "ham" (header table lacks it: unseen, 1000), "Later"
    // (1000), "spam" (1000), then the body's "ham" (100).
    EXPECT_EQ(slots[0].probability, 1000);
    EXPECT_EQ(slots[4].probability, 100);
    EXPECT_EQ(slots[5].probability, 0);
    // Without a Subject only the body is scored.
    Classify("Received: spam spam\nX-Other: spam\n\nham\n");
    EXPECT_EQ(slots[0].probability, 100);
    EXPECT_EQ(slots[1].probability, 0);
}

TEST_F(MessageClassifierTest, HeaderThatNeverEndsIsJudgedByScore) {
    settings().checkFromToDiffer = 1;
    const ClassificationResult result = Classify("Subject: spam\nX: spam\n");
    EXPECT_FALSE(result.decidedByRule);
}

TEST_F(MessageClassifierTest, ThresholdEdges) {
    settings().checkFromToDiffer = 0;
    // With one spam and one ham message learned: mid 3333, half 5000, warm 6666, empty 3500,
    // spam 9900, unseen 1000.
    fixture.AddBody("mid", {1, 0, 0}, {1, 0, 0});
    fixture.AddBody("half", {1, 0, 0}, {2, 0, 0});
    fixture.AddBody("warm", {1, 0, 0}, {4, 0, 0});
    fixture.AddBody("empty", {0, 0, 0}, {0, 0, 0});
    auto repeat = [](const std::string& word, int count) {
        std::string words;
        for (int i = 0; i < count; ++i) words += word + " ";
        return words;
    };
    const std::string score4399 = "\n" + repeat("unknown", 1) + repeat("mid", 3) + repeat("half", 11) + "\n";
    const std::string score4400 = "\n" + repeat("empty", 6) + repeat("half", 9) + "\n";
    const std::string score8399 = "\n" + repeat("spam", 10) + repeat("empty", 2) + repeat("warm", 3) + "\n";

    settings().thresholdEnabled = 0;
    settings().thresholdLevel = 9;  // ignored while the option is off
    ClassificationResult result = Classify(score4399);
    EXPECT_EQ(result.score, 4399);
    EXPECT_FALSE(result.isSpam);
    EXPECT_TRUE(result.probabilityText.empty());
    EXPECT_TRUE(result.sender.empty());
    result = Classify("From: someone <a@b>\nTo: c@d\n" + score4400);
    EXPECT_EQ(result.score, 4400);
    EXPECT_TRUE(result.isSpam);
    EXPECT_EQ(result.probabilityText, "44");
    EXPECT_EQ(result.sender, "someone <a@b>");

    settings().thresholdEnabled = 1;
    settings().thresholdLevel = 1;
    EXPECT_TRUE(Classify(score4400).isSpam);
    settings().thresholdLevel = 2;  // 4900
    EXPECT_FALSE(Classify(score4400).isSpam);
    settings().thresholdLevel = 9;  // 8400
    result = Classify(score8399);
    EXPECT_EQ(result.score, 8399);
    EXPECT_FALSE(result.isSpam);
    result = Classify("\n" + repeat("spam", 15) + "\n");
    EXPECT_TRUE(result.isSpam);
    EXPECT_EQ(result.probabilityText, "99");
    settings().thresholdLevel = 10;  // out of range: 4400
    EXPECT_TRUE(Classify(score4400).isSpam);
}

TEST_F(MessageClassifierTest, SenderIsCutTo79Characters) {
    const std::string longFrom(100, 'f');
    const ClassificationResult result =
        Classify("From: " + longFrom + "\nTo: x\nSubject: s\n\n" + SpamWords(15));
    EXPECT_TRUE(result.isSpam);
    EXPECT_EQ(result.sender, longFrom.substr(0, 79));
}

TEST_F(MessageClassifierTest, LogLinesFollowTheLogOption) {
    Classify("From: first@x\nFrom: second@x\nTo: y\n\nham\n");
    EXPECT_EQ(Log(),
              "20260315103000 - Analysing email message from: first@x\r\n"
              "20260315103000 - Analysing email message from: second@x\r\n"
              "20260315103000 - Bramvell suspects this message is NOT Spam\r\n");
    Classify("From: a\nTo: a\n\n");
    EXPECT_NE(Log().find("Bramvell suspects this message is Spam\r\n"), std::string::npos);

    std::filesystem::remove(ActivityLogPath(settings().LogFolder(), clock.Now()));
    settings().activityLogEnabled = 0;
    Classify("From: first@x\nTo: y\n\nham\n");
    EXPECT_FALSE(std::filesystem::exists(ActivityLogPath(settings().LogFolder(), clock.Now())));
}

}  // namespace
}  // namespace bramvell
