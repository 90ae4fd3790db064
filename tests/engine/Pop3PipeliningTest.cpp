// Clients as they really behave: several commands in one write, whole-message TOP retrievals, leaving
// without QUIT after a spam answer, and the stand-in message for clients that stop at an error.
#include <gtest/gtest.h>

#include "engine/Pop3Commands.h"
#include "engine/ReplyScanner.h"
#include "support/Pop3World.h"

namespace bramvell::testing {
namespace {

using sim::ClientBehaviour;
using sim::Command;
using sim::SimPop3Server;

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(Pop3CommandsTest, RetrievalsAreRetrAndWholeMessageTopInAnyCase) {
    struct Case {
        const char* line;
        CommandLine::Kind kind;
        ReplyShape reply;
        const char* number;
    };
    using K = CommandLine::Kind;
    const Case cases[] = {
        {"RETR 1\r\n", K::Retrieval, ReplyShape::MultiLineIfPositive, "1"},
        {"retr 42\n", K::Retrieval, ReplyShape::MultiLineIfPositive, "42"},
        {"TOP 3 99999999\r\n", K::Retrieval, ReplyShape::MultiLineIfPositive, "3"},
        {"TOP 3 100000\r\n", K::Retrieval, ReplyShape::MultiLineIfPositive, "3"},
        {"TOP 3 123456789012345678901234567890\r\n", K::Retrieval, ReplyShape::MultiLineIfPositive, "3"},
        {"TOP 3 99999\r\n", K::Other, ReplyShape::MultiLineIfPositive, ""},
        {"TOP 3 0\r\n", K::Other, ReplyShape::MultiLineIfPositive, ""},
        {"TOP 3\r\n", K::Other, ReplyShape::MultiLineIfPositive, ""},
        {"RETR 12345678\r\n", K::Other, ReplyShape::MultiLineIfPositive, ""},
        {"RETR\r\n", K::Other, ReplyShape::MultiLineIfPositive, ""},
        {"RETR 1 2\r\n", K::Other, ReplyShape::MultiLineIfPositive, ""},
        {"LIST\r\n", K::Other, ReplyShape::MultiLineIfPositive, ""},
        {"LIST 2\r\n", K::Other, ReplyShape::SingleLine, ""},
        {"uidl\r\n", K::Other, ReplyShape::MultiLineIfPositive, ""},
        {"CAPA\r\n", K::Other, ReplyShape::MultiLineIfPositive, ""},
        {"AUTH PLAIN\r\n", K::Other, ReplyShape::SingleLine, ""},
        {"QUIT\r\n", K::Quit, ReplyShape::SingleLine, ""},
        {"STLS\r\n", K::StartTls, ReplyShape::SingleLine, ""},
        {"\r\n", K::Other, ReplyShape::SingleLine, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const CommandLine command = ParseCommandLine(Bytes(c.line));
        EXPECT_EQ(command.kind, c.kind);
        EXPECT_EQ(command.reply, c.reply);
        EXPECT_EQ(command.messageNumber, c.number);
    }
}

TEST(ReplyScannerTest, FindsEachReplyEndWhereverTheSegmentsAreCut) {
    const std::string stream = "+OK\r\n-ERR no\r\n+OK list\r\n1 20\r\n..x\r\n.\r\n+OK done\r\n";
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        ReplyScanner scanner;
        scanner.Reset(1000);
        scanner.Await(ReplyShape::SingleLine);
        scanner.Await(ReplyShape::MultiLineIfPositive);  // answered "-ERR": one line
        scanner.Await(ReplyShape::MultiLineIfPositive);
        scanner.Await(ReplyShape::SingleLine);
        const std::size_t used = scanner.Feed(Bytes(std::string_view(stream).substr(0, cut)));
        EXPECT_EQ(used, cut);
        EXPECT_TRUE(scanner.Awaiting());
        scanner.Feed(Bytes(std::string_view(stream).substr(cut)));
        EXPECT_FALSE(scanner.Awaiting()) << cut;
        EXPECT_EQ(scanner.cursor(), 1000 + stream.size());
    }
    ReplyScanner scanner;
    scanner.Reset(0);
    scanner.Await(ReplyShape::MultiLineIfPositive);
    EXPECT_EQ(scanner.Feed(Bytes("+OK\r\n.x\r\n.\r\nunasked")), 12u);  // the rest is skipped over
    EXPECT_FALSE(scanner.Await(ReplyShape::SingleLine) && scanner.Await(ReplyShape::SingleLine) &&
                 scanner.Await(ReplyShape::SingleLine) && scanner.Await(ReplyShape::SingleLine) &&
                 scanner.Await(ReplyShape::SingleLine));
}

std::vector<std::string> MixedMailbox() {
    return {MakeMessage("One", 3000),        MakeMessage("Buy SPAM two", 2500), MakeMessage("Three", 9000),
            MakeMessage("Cheap SPAM four", 800), MakeMessage("Five", 400),      MakeMessage("SPAM six", 1200)};
}

// The stream a well-behaved client would see: spam replies replaced by their answer.
std::string Replaced(std::string stream, const std::string& reply, const std::string& answer) {
    const std::size_t at = stream.find(reply);
    EXPECT_NE(at, std::string::npos);
    if (at != std::string::npos) {
        stream.replace(at, reply.size(), answer);
    }
    return stream;
}

TEST(Pop3PipeliningTest, EveryRetrievalOfAPipelinedBatchIsJudgedAndActedOnInOrder) {
    const auto mailbox = MixedMailbox();
    const auto script = Script({"USER bob", "PASS pw", "LIST", "RETR 1", "RETR 2", "TOP 3 99999999", "TOP 4 3",
                                "RETR 4", "RETR 5", "RETR 6", "QUIT"});
    ClientBehaviour pipelined;
    pipelined.pipelined = true;
    Pop3World world;
    auto& session = world.AddSession(mailbox, script, 40000, {}, {}, kServerIp, pipelined);
    ASSERT_TRUE(world.RunAll());

    std::string expected = DirectStream(mailbox, script);
    const std::string sender = "Ann <ann@example.org>";
    for (const int spam : {2, 4, 6}) {
        expected = Replaced(expected, SimPop3Server::RetrReply(mailbox[spam - 1]), ErrorLine(sender));
    }
    EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
    EXPECT_EQ(session.pop3Server->committedDeletions(), (std::set<int>{2, 4, 6}));
    EXPECT_EQ(world.analyzer.analysed, 6);  // the header preview "TOP 4 3" is not judged
    EXPECT_EQ(world.network.badEngineFrames(), 0);
    EXPECT_TRUE(session.client->anomalies().Clean()) << session.client->anomalies();
    EXPECT_TRUE(session.server->anomalies().Clean()) << session.server->anomalies();
}

TEST(Pop3PipeliningTest, AWholeMessageTopIsJudgedLikeRetr) {
    const std::vector<std::string> mailbox = {MakeMessage("SPAM offer", 2000), MakeMessage("Hello", 1500)};
    const auto script = Script({"USER bob", "TOP 1 99999999", "TOP 2 99999999", "QUIT"});
    Pop3World world;
    auto& session = world.AddSession(mailbox, script);
    ASSERT_TRUE(world.RunAll());
    const std::string expected = Replaced(DirectStream(mailbox, script), SimPop3Server::TopReply(mailbox[0], 99999999),
                                          ErrorLine("Ann <ann@example.org>"));
    EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
    EXPECT_EQ(session.pop3Server->committedDeletions(), (std::set<int>{1}));
}

// A client that stops at the error line and leaves without QUIT (FIN or RST): the engine sends QUIT
// first, so the deletion holds, and the next poll meets the next message.
TEST(Pop3PipeliningTest, ADeletionHoldsWhenTheClientLeavesWithoutQuit) {
    for (const auto leave : {ClientBehaviour::OnRetrievalError::Close, ClientBehaviour::OnRetrievalError::Abort}) {
        for (const bool pipelined : {false, true}) {
            SCOPED_TRACE(std::string(leave == ClientBehaviour::OnRetrievalError::Close ? "FIN" : "RST") +
                         (pipelined ? ", pipelined" : ""));
            const std::vector<std::string> mailbox = {MakeMessage("Hello", 1000), MakeMessage("SPAM", 1500),
                                                      MakeMessage("After", 700)};
            // A pipelining client writes its retrievals at once and its QUIT after their replies.
            const auto script = pipelined ? Script({"USER bob", "RETR 1", "RETR 2", "RETR 3"})
                                          : Script({"USER bob", "RETR 1", "RETR 2", "RETR 3", "QUIT"});
            ClientBehaviour behaviour;
            behaviour.pipelined = pipelined;
            behaviour.onRetrievalError = leave;
            Pop3World world;
            auto& session = world.AddSession(mailbox, script, 40000, {}, {}, kServerIp, behaviour);
            ASSERT_TRUE(world.RunAll());
            EXPECT_EQ(session.pop3Server->committedDeletions(), (std::set<int>{2}));
            const auto& commands = session.pop3Server->commands();
            ASSERT_FALSE(commands.empty());
            EXPECT_EQ(commands.back(), "QUIT");
            EXPECT_EQ(std::count(commands.begin(), commands.end(), "RETR 3"),
                      pipelined && leave == ClientBehaviour::OnRetrievalError::Close ? 1 : 0);
            EXPECT_NE(world.LogText().find("left without QUIT"), std::string::npos);
            EXPECT_EQ(session.pop3Client->replies().back(), ErrorLine("Ann <ann@example.org>"));
            EXPECT_EQ(session.ClientStream().find("Logging out"), std::string::npos);  // kept from it
            EXPECT_EQ(world.network.badEngineFrames(), 0);
        }
    }
}

TEST(Pop3PipeliningTest, TheNoticeAnswerIsAStandInMessageEveryClientStores) {
    const std::vector<std::string> mailbox = {MakeMessage("SPAM here", 1500), MakeMessage("Good", 900)};
    const auto script = Script({"USER bob", "RETR 1", "RETR 2", "QUIT"});
    ClientBehaviour stopsAtError;
    stopsAtError.pipelined = true;
    stopsAtError.onRetrievalError = ClientBehaviour::OnRetrievalError::Close;
    Pop3World world;
    world.settings.spamAnswerNotice = 1;
    auto& session = world.AddSession(mailbox, script, 40000, {}, {}, kServerIp, stopsAtError);
    ASSERT_TRUE(world.RunAll());
    const auto replies = session.pop3Client->replies();
    ASSERT_EQ(replies.size(), 4u);  // it went past the spam
    const std::string notice(replies[1]);
    EXPECT_EQ(notice.rfind("+OK", 0), 0u);
    EXPECT_NE(notice.find("\r\nSubject: Filtered by Bramvell - message from Ann <ann@example.org> has a Spam "
                          "probability of 87%\r\n"),
              std::string::npos);
    EXPECT_NE(notice.find(world.QuarantineFolder()), std::string::npos);
    EXPECT_TRUE(notice.ends_with("\r\n.\r\n"));
    EXPECT_EQ(std::string(replies[2]), SimPop3Server::RetrReply(mailbox[1]));
    EXPECT_EQ(session.pop3Server->committedDeletions(), (std::set<int>{1}));
}

// A client that stored the stand-in deletes it as it deletes every message it fetched: the server has
// deleted that one already and would refuse, so the engine answers for it.
TEST(Pop3PipeliningTest, TheClientsOwnDeletionOfADeletedSpamIsAnsweredForTheServer) {
    const std::vector<std::string> mailbox = {MakeMessage("SPAM here", 1500), MakeMessage("Good", 900)};
    for (const bool pipelined : {false, true}) {
        SCOPED_TRACE(pipelined ? "pipelined" : "one at a time");
        const auto script = Script({"USER bob", "RETR 1", "DELE 1", "RETR 2", "DELE 2", "STAT", "QUIT"});
        ClientBehaviour behaviour;
        behaviour.pipelined = pipelined;
        Pop3World world;
        world.settings.spamAnswerNotice = 1;
        auto& session = world.AddSession(mailbox, script, 40000, {}, {}, kServerIp, behaviour);
        ASSERT_TRUE(world.RunAll());
        const auto replies = session.pop3Client->replies();
        ASSERT_EQ(replies.size(), script.size());
        EXPECT_EQ(std::string(replies[2]), "+OK deleted\r\n");
        EXPECT_EQ(std::string(replies[4]), "+OK Marked to be deleted.\r\n");
        EXPECT_EQ(std::string(replies[5]), "+OK 0 0\r\n");
        EXPECT_EQ(session.pop3Server->committedDeletions(), (std::set<int>{1, 2}));
        EXPECT_EQ(std::count(session.pop3Server->commands().begin(), session.pop3Server->commands().end(), "DELE 1"),
                  1);
        EXPECT_TRUE(session.client->anomalies().Clean()) << session.client->anomalies();
        EXPECT_TRUE(session.server->anomalies().Clean()) << session.server->anomalies();
    }
}

}  // namespace
}  // namespace bramvell::testing
