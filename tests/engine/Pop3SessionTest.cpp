#include <gtest/gtest.h>

#include "engine/MessageTarget.h"
#include "support/Pop3World.h"

namespace bramvell::testing {
namespace {

using sim::Command;
using sim::SimNetwork;

std::vector<sim::Pop3Command> Script(std::initializer_list<const char*> lines) {
    std::vector<sim::Pop3Command> script;
    for (const char* line : lines) {
        script.push_back(Command(line));
    }
    return script;
}

// Runs the same mailbox and script without the engine: what the client should see.
std::string DirectStream(const std::vector<std::string>& mailbox, const std::vector<sim::Pop3Command>& script,
                         sim::TcpTuning clientTuning = {}) {
    Pop3World world(SimNetwork::Mode::Direct);
    auto& session = world.AddSession(mailbox, script, 40000, clientTuning);
    EXPECT_TRUE(world.RunAll());
    return session.ClientStream();
}

TEST(Pop3SessionTest, GoodMessagesReachTheClientByteForByte) {
    const std::vector<std::string> mailbox = {MakeMessage("Hello", 600), MakeMessage("Report", 40000),
                                              MakeMessage("Tiny", 10)};
    const auto script = Script({"USER bob", "PASS pw", "STAT", "LIST", "RETR 1", "RETR 2", "RETR 3", "QUIT"});
    Pop3World world;
    auto& session = world.AddSession(mailbox, script);
    ASSERT_TRUE(world.RunAll());
    EXPECT_EQ(session.ClientStream(), DirectStream(mailbox, script));
    EXPECT_TRUE(session.client->anomalies().Clean());
    EXPECT_TRUE(session.server->anomalies().Clean());
    EXPECT_EQ(world.network.badEngineFrames(), 0);
    EXPECT_EQ(world.analyzer.analysed, 3);
    EXPECT_FALSE(session.client->WasReset());
}

}  // namespace
}  // namespace bramvell::testing

namespace bramvell::testing {
namespace {

TEST(Pop3SessionTest, SpamIsDeletedQuarantinedAndAnsweredWithAnErrorLine) {
    const std::vector<std::string> mailbox = {MakeMessage("Hello", 3000), MakeMessage("Buy SPAM now", 5000),
                                              MakeMessage("Again", 2000)};
    const auto script = Script({"USER bob", "PASS pw", "RETR 1", "RETR 2", "RETR 3", "QUIT"});
    Pop3World world;
    auto& session = world.AddSession(mailbox, script);
    ASSERT_TRUE(world.RunAll());

    const std::string error =
        "-ERR Filtered by Bramvell - message from Ann <ann@example.org> has a Spam probability of 87%\r\n";
    ASSERT_EQ(session.pop3Client->replies().size(), 6u);
    EXPECT_EQ(session.pop3Client->replies()[3], error);
    EXPECT_EQ(session.pop3Client->replies()[4], sim::SimPop3Server::RetrReply(mailbox[2]));
    EXPECT_EQ(session.pop3Client->replies()[5], "+OK Logging out.\r\n");
    EXPECT_EQ(session.ServerStream(),
              "USER bob\r\nPASS pw\r\nRETR 1\r\nRETR 2\r\nDELE 2\r\nRETR 3\r\nQUIT\r\n");
    EXPECT_EQ(session.pop3Server->committedDeletions(), std::set<int>{2});
    EXPECT_TRUE(session.client->anomalies().Clean());
    EXPECT_TRUE(session.server->anomalies().Clean());
    EXPECT_EQ(world.network.badEngineFrames(), 0);

    const std::string reply = sim::SimPop3Server::RetrReply(mailbox[1]);
    const std::string quarantined = reply.substr(reply.find('\n') + 1);
    const std::string path = world.QuarantineFolder() + "/20260315103000.txt";
    EXPECT_EQ(ReadWholeFile(path), quarantined);
    EXPECT_NE(world.LogText().find("Saving message to Quarantine folder: " + path + "\r\n"),
              std::string::npos);
    const auto posts = world.target.posts();
    ASSERT_EQ(posts.size(), 3u);
    EXPECT_EQ(posts[0], std::make_pair(uint32_t{WM_MAIL_CLASSIFIED}, uintptr_t{0}));
    EXPECT_EQ(posts[1], std::make_pair(uint32_t{WM_MAIL_CLASSIFIED}, uintptr_t{1}));
    EXPECT_EQ(posts[2], std::make_pair(uint32_t{WM_MAIL_CLASSIFIED}, uintptr_t{0}));
}

}  // namespace
}  // namespace bramvell::testing
