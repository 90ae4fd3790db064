// Sessions that exercise the less common roads through the engine.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/Pop3World.h"

namespace bramvell::testing {
namespace {

using sim::Command;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

TEST(Pop3SessionEdgeTest, ErrorLineCarriesTheSenderAsCapturedOrCut) {
    const std::string longSender(100, 's');
    const std::vector<std::string> mailbox = {"To: bob@example.net\r\nSubject: SPAM\r\n\r\nno sender\r\n",
                                              MakeMessage("SPAM", 800, longSender)};
    const auto script = Script({"USER bob", "RETR 1", "RETR 2", "QUIT"});
    Pop3World world;
    auto& session = world.AddSession(mailbox, script);
    ASSERT_TRUE(world.RunAll());
    EXPECT_EQ(session.pop3Client->replies()[1],
              "-ERR Filtered by Bramvell - message from  has a Spam probability of 87%\r\n");
    EXPECT_EQ(session.pop3Client->replies()[2], ErrorLine(longSender.substr(0, 79)));
}

TEST(Pop3SessionEdgeTest, WithoutAQuarantineCopyTheMessageStaysOnTheServer) {
    const std::vector<std::string> mailbox = {MakeMessage("SPAM", 800)};
    Pop3World world;
    world.settings.SetQuarantineFolder(world.folder / "missing");
    auto& session = world.AddSession(mailbox, Script({"USER bob", "RETR 1", "QUIT"}));
    ASSERT_TRUE(world.RunAll());
    EXPECT_EQ(session.ServerStream(), "USER bob\r\nRETR 1\r\nNOOP\r\nQUIT\r\n");
    EXPECT_TRUE(session.pop3Server->committedDeletions().empty());
    EXPECT_EQ(session.pop3Client->replies()[1], ErrorLine("Ann <ann@example.org>"));
    EXPECT_NE(world.LogText().find("left on the server"), std::string::npos);
}

TEST(Pop3SessionEdgeTest, TwoQuarantinedMessagesInOneSecondKeepTwoFiles) {
    const std::vector<std::string> mailbox = {MakeMessage("SPAM one", 700), MakeMessage("SPAM two", 900)};
    Pop3World world;
    world.AddSession(mailbox, Script({"USER bob", "RETR 1", "RETR 2", "QUIT"}));
    ASSERT_TRUE(world.RunAll());
    auto withoutStatus = [](const std::string& message) {
        const std::string reply = sim::SimPop3Server::RetrReply(message);
        return reply.substr(reply.find('\n') + 1);
    };
    EXPECT_EQ(ReadWholeFile(world.QuarantineFolder() + "/20260315103000.txt"), withoutStatus(mailbox[0]));
    EXPECT_EQ(ReadWholeFile(world.QuarantineFolder() + "/20260315103000-1.txt"), withoutStatus(mailbox[1]));
}

// Retrievals the engine must leave alone: paused, an argument too long to repeat
// faithfully, a command with nothing after it, and a single-line error answer.
TEST(Pop3SessionEdgeTest, RetrievalsThatAreNotInterceptedPassUntouched) {
    const std::vector<std::string> mailbox = {MakeMessage("SPAM", 700)};
    std::vector<sim::Pop3Command> script = Script({"USER bob", "TOP 1 10", "RETR 12345678", "RETR 9"});
    script.push_back({"RETR \r\n", true});
    script.push_back(Command("QUIT"));
    Pop3World world;
    auto& session = world.AddSession(mailbox, script);
    ASSERT_TRUE(world.RunAll());
    EXPECT_TRUE(session.ClientStream() == DirectStream(mailbox, script));
    EXPECT_EQ(world.analyzer.analysed, 0);
    EXPECT_EQ(session.pop3Client->replies()[3], "-ERR There's no message 9.\r\n");

    Pop3World paused;
    paused.keys.held = true;
    auto& pausedSession = paused.AddSession(mailbox, Script({"USER bob", "RETR 1", "QUIT"}));
    ASSERT_TRUE(paused.RunAll());
    EXPECT_EQ(paused.analyzer.analysed, 0);
    EXPECT_EQ(pausedSession.pop3Client->replies()[1], sim::SimPop3Server::RetrReply(mailbox[0]));
}

// The end line split across segments in every way, and an empty line alone in a segment that must not
// be taken for the end.
TEST(Pop3SessionEdgeTest, EndOfMessageIsFoundWhereverSegmentsSplitIt) {
    const std::vector<std::string> mailbox = {MakeMessage("Split", 4000)};
    const auto script = Script({"USER bob", "RETR 1", "QUIT"});
    const std::string direct = DirectStream(mailbox, script);
    for (std::size_t tail : {1u, 2u, 3u, 4u, 5u, 6u}) {
        SCOPED_TRACE(tail);
        Pop3World world;
        auto& session = world.AddSession(mailbox, script);
        session.pop3Server->SetRetrSplitter([tail](const std::string& reply) {
            const std::size_t header = reply.find("\r\n\r\n") + 2;
            return std::vector<std::string>{reply.substr(0, header), "\r\n",
                                            reply.substr(header + 2, reply.size() - tail - header - 2),
                                            reply.substr(reply.size() - tail)};
        });
        ASSERT_TRUE(world.RunAll());
        EXPECT_TRUE(session.ClientStream() == direct) << FirstDifference(session.ClientStream(), direct);
        EXPECT_EQ(world.analyzer.analysed, 1);
        EXPECT_EQ(world.analyzer.lastLines.back(), ".");
    }
}

TEST(Pop3SessionEdgeTest, ExecutableAttachmentsAreRenamedInPlace) {
    const std::vector<std::string> mailbox = {ReadTestData("attachments.eml")};
    const auto script = Script({"USER bob", "RETR 1", "QUIT"});
    std::string expected = DirectStream(mailbox, script);
    expected = Replace(expected, "filename=\"a.exe\"", "filename=\"a.tb \"");
    expected = Replace(expected, "filename=\"script.vbs\"", "filename=\"script.tb \"");
    expected = Replace(expected, "filename=\"x.js\"", "filename=\"x.tb\"");
    // Cuts inside "a.exe" so that the renamed bytes lie in two segments.
    for (bool split : {false, true}) {
        SCOPED_TRACE(split);
        Pop3World world;
        world.settings.renameAttachments = 1;
        auto& session = world.AddSession(mailbox, script);
        if (split) {
            session.pop3Server->SetRetrSplitter([](const std::string& reply) {
                const std::size_t cut = reply.find("filename=\"a.exe\"") + 13;
                return std::vector<std::string>{reply.substr(0, cut), reply.substr(cut)};
            });
        }
        ASSERT_TRUE(world.RunAll());
        EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
        EXPECT_EQ(world.network.badEngineFrames(), 0);
        EXPECT_TRUE(session.client->anomalies().Clean()) << session.client->anomalies();
        const std::string log = world.LogText();
        EXPECT_NE(log.find("Bramvell has renamed attachment 'a.exe' to 'a.tb'\r\n"), std::string::npos);
        EXPECT_NE(log.find("Bramvell has renamed attachment 'x.js' to 'x.tb'\r\n"), std::string::npos);
        EXPECT_EQ(log.find("LOUD"), std::string::npos);
    }
}

TEST(Pop3SessionEdgeTest, AMessageOverTheCapReachesTheClientUnfiltered) {
    const std::vector<std::string> mailbox = {MakeMessage("SPAM but huge", 300000),
                                              MakeMessage("Small", 500)};
    const auto script = Script({"USER bob", "RETR 1", "RETR 2", "QUIT"});
    Pop3World world;
    Pop3Interceptor::Limits limits;
    limits.maxHeldBytes = 100000;
    world.engine.SetLimits(limits);
    auto& session = world.AddSession(mailbox, script);
    ASSERT_TRUE(world.RunAll());
    EXPECT_TRUE(session.ClientStream() == DirectStream(mailbox, script));
    EXPECT_EQ(world.analyzer.analysed, 1);
    EXPECT_NE(world.LogText().find("too large"), std::string::npos);
    EXPECT_TRUE(session.client->anomalies().Clean()) << session.client->anomalies();
}

// A full table leaves the next connection untracked and unfiltered.
TEST(Pop3SessionEdgeTest, AFullTableLetsFurtherConnectionsPassUnfiltered) {
    const std::vector<std::string> mailbox = {MakeMessage("SPAM", 500)};
    const auto script = Script({"USER bob", "RETR 1", "QUIT"});
    Pop3World world;
    for (uint16_t port = 41000; port < 41101; ++port) {
        world.AddSession(mailbox, script, port);
    }
    ASSERT_TRUE(world.RunAll());
    EXPECT_EQ(world.analyzer.analysed, 100);
    int untouched = 0;
    for (const auto& session : world.sessions) {
        untouched += session->pop3Client->replies()[1] == sim::SimPop3Server::RetrReply(mailbox[0]) ? 1 : 0;
        EXPECT_FALSE(session->client->WasReset());
    }
    EXPECT_EQ(untouched, 1);
}

// A new connection on a port whose record is still in the table starts afresh; the same port towards
// another server is another connection.
TEST(Pop3SessionEdgeTest, ReusedAndSharedClientPortsKeepTheirOwnNumbers) {
    const std::vector<std::string> mailbox = {MakeMessage("SPAM", 5000), MakeMessage("Fine", 7000)};
    const auto script = Script({"USER bob", "RETR 1", "RETR 2", "QUIT"});
    const std::string expected = ExpectedStream(mailbox, script, {{1, ErrorLine("Ann <ann@example.org>")}});
    Pop3World world;
    world.settings.quarantineEnabled = 0;
    auto& first = world.AddSession(mailbox, script, 40000);
    auto& other = world.AddSession(mailbox, script, 40000, {}, {}, kServerIp + 1);
    auto& again = world.AddSession(mailbox, script, 40000);
    again.startWhen = [&first] { return first.Finished(); };  // its record is still in the table then
    ASSERT_TRUE(world.RunAll());
    for (const auto* session : {&first, &other, &again}) {
        EXPECT_TRUE(session->ClientStream() == expected)
            << FirstDifference(session->ClientStream(), expected);
        EXPECT_TRUE(session->server->anomalies().Clean()) << session->server->anomalies();
        EXPECT_FALSE(session->client->WasReset());
    }
    EXPECT_EQ(world.analyzer.analysed, 6);
}

// Stands in for the user switching the filter off while a spam message is being dealt with.
class SwitchOffAfterAnalysis final : public MessageAnalyzer {
  public:
    explicit SwitchOffAfterAnalysis(Pop3World& world) : world_(world) {}
    MessageVerdict Analyze(MessageLineReader& reader, LineRewriter& rewriter) override {
        MessageVerdict verdict = inner_.Analyze(reader, rewriter);
        world_.settings.filterEnabled = 0;
        return verdict;
    }

  private:
    Pop3World& world_;
    ScriptedAnalyzer inner_{world_.settings, world_.clock};
};

// Once a spam message has been deleted the connection's numbers differ on the two sides; switching the
// filter off (during the deletion, or after the error line) must not stop their translation. Later
// retrievals pass unchecked, and a new connection on the same port is not taken for the old one.
TEST(Pop3SessionEdgeTest, SwitchingTheFilterOffKeepsTranslatingAChangedConnection) {
    const std::vector<std::string> mailbox = {MakeMessage("Buy SPAM now", 5000), MakeMessage("Hello", 40000),
                                              MakeMessage("SPAM again", 3000)};
    const auto script = Script({"USER bob", "PASS pw", "RETR 1", "RETR 2", "RETR 3", "QUIT"});
    const std::string expected = ExpectedStream(mailbox, script, {{1, ErrorLine("Ann <ann@example.org>")}});
    const auto laterScript = Script({"USER bob", "RETR 1", "QUIT"});
    const std::string later = DirectStream(mailbox, laterScript);
    for (bool duringAnalysis : {true, false}) {
        SCOPED_TRACE(duringAnalysis);
        Pop3World world;
        SwitchOffAfterAnalysis switcher(world);
        auto& session = world.AddSession(mailbox, script);
        if (duringAnalysis) {
            world.analyzer.delegate = &switcher;
        } else {
            world.network.AddPoller([&world, &session] {
                if (session.pop3Client->replies().size() >= 3) {
                    world.settings.filterEnabled = 0;  // the error line has arrived
                }
            });
        }
        auto& again = world.AddSession(mailbox, laterScript, 40000);
        again.startWhen = [&session] { return session.Finished(); };
        ASSERT_TRUE(world.RunAll());
        EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
        EXPECT_EQ(session.ServerStream(),
                  "USER bob\r\nPASS pw\r\nRETR 1\r\nDELE 1\r\nRETR 2\r\nRETR 3\r\nQUIT\r\n");
        EXPECT_EQ(session.pop3Server->committedDeletions(), std::set<int>{1});
        EXPECT_TRUE(again.ClientStream() == later) << FirstDifference(again.ClientStream(), later);
        for (const auto* each : {&session, &again}) {
            EXPECT_TRUE(each->client->anomalies().Clean()) << each->client->anomalies();
            EXPECT_TRUE(each->server->anomalies().Clean()) << each->server->anomalies();
            EXPECT_FALSE(each->client->WasReset());
        }
        EXPECT_EQ(world.network.badEngineFrames(), 0);
        EXPECT_EQ(world.analyzer.analysed, 1);
    }
}

TEST(Pop3SessionEdgeTest, SackStaysOnOfferAndEveryEngineSegmentCarriesTimestamps) {
    const std::vector<std::string> mailbox = {MakeMessage("SPAM", 3000), MakeMessage("Fine", 3000)};
    Pop3World world;
    auto& session = world.AddSession(mailbox, Script({"USER bob", "RETR 1", "RETR 2", "QUIT"}));
    ASSERT_TRUE(world.RunAll());
    EXPECT_TRUE(session.server->SawSackPermitted());
    EXPECT_EQ(session.server->anomalies().sackBlocks, 0);
    EXPECT_EQ(session.server->anomalies().missingTimestamp, 0);
    EXPECT_EQ(session.server->anomalies().pawsRejected, 0);
    EXPECT_EQ(session.client->anomalies().pawsRejected, 0);

    Pop3World direct(sim::SimNetwork::Mode::Direct);
    auto& reference = direct.AddSession(mailbox, Script({"QUIT"}));
    ASSERT_TRUE(direct.RunAll());
    EXPECT_TRUE(reference.server->SawSackPermitted());
}

}  // namespace
}  // namespace bramvell::testing
