// The chi-square scorer in the live filter: retrieved mail through the engine and ClassifierAnalyzer
// with a learned store, and the option that chooses it at the start of a filtering session.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "classify/ChiSquareClassifier.h"
#include "classify/ChiSquareStore.h"
#include "classify/MimeTokenizer.h"
#include "classify/ScorerChoice.h"
#include "config/OptionsFile.h"
#include "runtime/ClassifierAnalyzer.h"
#include "runtime/FilteringSession.h"
#include "runtime/PostedMessages.h"
#include "support/Pop3World.h"

namespace bramvell::testing {
namespace {

namespace fs = std::filesystem;

std::string Mail(const std::string& from, const std::string& subject, const std::string& body) {
    return "From: " + from + "\r\nTo: bob@example.net\r\nSubject: " + subject + "\r\n\r\n" + body + "\r\n";
}

const std::string kSpamWords = "cheap pills viagra discount casino winner";
const std::string kGoodWords = "project meeting agenda tuesday minutes budget";

// Twelve messages of each class, each with a line of its own so that no two share a digest.
void LearnStore(ChiSquareStore& store) {
    const MimeTokenizer tokenizer;
    std::vector<ChiSquareStore::Change> changes;
    for (int i = 0; i < 12; ++i) {
        const std::string number = "serial" + std::to_string(i);
        const std::pair<MailClass, std::string> learned[] = {
            {MailClass::Spam,
             Mail("Deals <deals@pills.example>", "cheap pills", kSpamWords + "\r\n" + number)},
            {MailClass::Ham,
             Mail("Carol <carol@work.example>", "project agenda", kGoodWords + "\r\n" + number)},
        };
        for (const auto& [mailClass, message] : learned) {
            ChiSquareStore::Change change;
            change.mailClass = mailClass;
            change.digest = DigestOfMessage(message);
            change.tokens = tokenizer.Tokenize(message);
            changes.push_back(std::move(change));
        }
    }
    std::vector<StoreOutcome> outcomes;
    std::string problem;
    ASSERT_TRUE(store.Apply(changes, outcomes, problem)) << problem;
}

// Keeps each verdict of the analyzer it passes the message to.
class RecordingAnalyzer final : public MessageAnalyzer {
  public:
    explicit RecordingAnalyzer(MessageAnalyzer& analyzer) : analyzer_(analyzer) {}
    MessageVerdict Analyze(MessageLineReader& reader, LineRewriter& rewriter) override {
        verdicts.push_back(analyzer_.Analyze(reader, rewriter));
        return verdicts.back();
    }
    std::vector<MessageVerdict> verdicts;

  private:
    MessageAnalyzer& analyzer_;
};

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class ChiSquareFilteringTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string problem;
        ASSERT_TRUE(store.Open(world.folder.path() + "/chisquare.lmdb", true, problem)) << problem;
        LearnStore(store);
        world.settings.activityLogEnabled = 1;
    }

    // Retrieves the mailbox through the engine with the analyzer; the client's replies to the RETRs.
    std::vector<std::string> Retrieve(MessageAnalyzer& analyzer) {
        RecordingAnalyzer recording(analyzer);
        world.analyzer.delegate = &recording;
        std::vector<sim::Pop3Command> script = Script({"USER bob"});
        for (std::size_t i = 1; i <= mailbox.size(); ++i) {
            script.push_back(sim::Command("RETR " + std::to_string(i)));
        }
        script.push_back(sim::Command("QUIT"));
        auto& session = world.AddSession(mailbox, script);
        EXPECT_TRUE(world.RunAll());
        server = session.ServerStream();
        verdicts = recording.verdicts;
        world.analyzer.delegate = nullptr;
        const auto replies = session.pop3Client->replies();
        return {replies.begin() + 1, replies.begin() + 1 + static_cast<std::ptrdiff_t>(mailbox.size())};
    }

    Pop3World world;
    ChiSquareStore store;
    std::vector<std::string> mailbox = {
        Mail("Deals <deals@pills.example>", "cheap pills today", kSpamWords),
        Mail("Dan <dan@elsewhere.example>", "project pills", "cheap pills viagra project meeting agenda"),
        Mail("Carol <carol@work.example>", "project agenda", kGoodWords),
        // From equals To: the rule decides before any score.
        "From: bob@example.net\r\nTo: bob@example.net\r\nSubject: project agenda\r\n\r\n" + kGoodWords +
            "\r\n",
    };
    std::string server;
    std::vector<MessageVerdict> verdicts;
};

TEST_F(ChiSquareFilteringTest, SpamIsDeletedUnsureAndGoodAreDeliveredUnchangedAfterTheRules) {
    const ChiSquareClassifier classifier(store, ChiSquareParameters{}, ChiSquareCutoffsOf(world.settings));
    ClassifierAnalyzer analyzer(world.settings, nullptr, world.clock, &classifier);
    const std::vector<std::string> replies = Retrieve(analyzer);

    ASSERT_EQ(verdicts.size(), 4u);
    EXPECT_TRUE(verdicts[0].isSpam);
    EXPECT_EQ(verdicts[0].basis, VerdictBasis::ChiSquareScore);
    EXPECT_GE(verdicts[0].score, 9000);
    EXPECT_TRUE(verdicts[1].isUnsure);
    EXPECT_FALSE(verdicts[1].isSpam);
    EXPECT_FALSE(verdicts[2].isSpam || verdicts[2].isUnsure);
    EXPECT_LE(verdicts[2].score, 2000);
    EXPECT_EQ(verdicts[3].basis, VerdictBasis::FromToRule);
    EXPECT_TRUE(verdicts[3].isSpam);

    const std::string percent(verdicts[0].probabilityText.data(), 2);
    EXPECT_EQ(replies[0],
              "-ERR Filtered by Bramvell - message from Deals <deals@pills.example> has a Spam "
              "probability of " +
                  percent + "%\r\n");
    EXPECT_EQ(replies[1], sim::SimPop3Server::RetrReply(mailbox[1]));  // unsure: delivered unchanged
    EXPECT_EQ(replies[2], sim::SimPop3Server::RetrReply(mailbox[2]));
    EXPECT_EQ(replies[3],
              "-ERR Filtered by Bramvell - message from bob@example.net has a Spam probability "
              "of 99%\r\n");
    EXPECT_EQ(server, "USER bob\r\nRETR 1\r\nDELE 1\r\nRETR 2\r\nRETR 3\r\nRETR 4\r\nDELE 4\r\nQUIT\r\n");
    EXPECT_EQ(world.Verdicts(), (std::vector<uintptr_t>{1, 0, 0, 1}));

    const std::string log = world.LogText();
    EXPECT_EQ(Occurrences(log, " - Bramvell suspects this message is Spam\r\n"), 2u);
    EXPECT_EQ(
        Occurrences(log, " - Bramvell is unsure whether this message is Spam; it is delivered unchanged\r\n"),
        1u);
    EXPECT_EQ(Occurrences(log, " - Bramvell suspects this message is NOT Spam\r\n"), 1u);
    EXPECT_EQ(Occurrences(log, " - Analysing email message from: "), 4u);

    // The verbose run's words for the same verdicts.
    EXPECT_EQ(ClassifiedMailText(verdicts[0]),
              "classified spam: Deals <deals@pills.example>, " + percent + "%");
    EXPECT_EQ(ClassifiedMailText(verdicts[1]).rfind("classified unsure: Dan <dan@elsewhere.example>, ", 0),
              0u);
    EXPECT_EQ(ClassifiedMailText(verdicts[3]), "classified spam: bob@example.net, From equals To");
}

TEST_F(ChiSquareFilteringTest, AHigherThresholdLevelTakesEffectAtTheNextMessage) {
    const ChiSquareClassifier classifier(store, ChiSquareParameters{}, ChiSquareCutoffsOf(world.settings));
    ClassifierAnalyzer analyzer(world.settings, nullptr, world.clock, &classifier);
    // Spam at level 1 (9000), with the classifier made at that level; level 9 asks for 9990.
    mailbox = {Mail("Eve <eve@elsewhere.example>", "hello", "cheap pills viagra discount meeting")};
    world.settings.thresholdLevel = 9;
    const std::vector<std::string> replies = Retrieve(analyzer);
    ASSERT_EQ(verdicts.size(), 1u);
    EXPECT_GT(verdicts[0].score, 9000);
    EXPECT_LT(verdicts[0].score, 9990);
    EXPECT_TRUE(verdicts[0].isUnsure);
    EXPECT_EQ(replies[0], sim::SimPop3Server::RetrReply(mailbox[0]));
}

TEST_F(ChiSquareFilteringTest, WithoutTheChiSquareClassifierTheClassicScorerJudgesAndLogsAsBefore) {
    ClassifierAnalyzer analyzer(world.settings, nullptr, world.clock);
    const std::vector<std::string> replies = Retrieve(analyzer);
    ASSERT_EQ(verdicts.size(), 4u);
    // No classic tables are loaded: every score is the classic scorer's neutral one, nothing is unsure.
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(verdicts[i].isSpam || verdicts[i].isUnsure) << i;
        EXPECT_EQ(verdicts[i].basis, VerdictBasis::ClassicScore) << i;
        EXPECT_EQ(replies[i], sim::SimPop3Server::RetrReply(mailbox[i])) << i;
    }
    EXPECT_EQ(verdicts[3].basis, VerdictBasis::FromToRule);
    const std::string log = world.LogText();
    EXPECT_EQ(Occurrences(log, " - Bramvell suspects this message is NOT Spam\r\n"), 3u);
    EXPECT_EQ(Occurrences(log, "unsure"), 0u);
}

// The option is read when a session loads; classic, or no option at all, opens no store.
TEST(ChiSquareOptionTest, TheSessionScoresByTheStoredOption) {
    TempFolder folder;
    ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    const std::string program = folder / "program";
    const std::string storeFolder = ChiSquareStoreFolder(program);
    const auto loadScoresByChiSquare = [&program] {
        FilteringSession session(program, FilteringSession::Kind::Headless);
        EXPECT_TRUE(session.Load());
        return session.ScoresByChiSquare();
    };
    EXPECT_FALSE(loadScoresByChiSquare());  // no options file
    EXPECT_FALSE(fs::exists(storeFolder));

    for (const char* value : {"classic", "chi-square"}) {
        OptionsFile options;
        ASSERT_TRUE(options.Load());
        ASSERT_TRUE(options.Set("scorer", value, nullptr));
        ASSERT_TRUE(options.Save());
        EXPECT_EQ(loadScoresByChiSquare(), std::string(value) == "chi-square") << value;
        EXPECT_EQ(fs::exists(storeFolder), std::string(value) == "chi-square") << value;
    }
    ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace bramvell::testing
