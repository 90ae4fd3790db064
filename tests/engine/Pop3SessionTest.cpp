#include <gtest/gtest.h>

#include "engine/MessageTarget.h"
#include "support/Pop3World.h"

namespace bramvell::testing {
namespace {

using sim::Command;
using sim::SimNetwork;

TEST(Pop3SessionTest, GoodMessagesReachTheClientByteForByte) {
    const std::vector<std::string> mailbox = {MakeMessage("Hello", 600), MakeMessage("Report", 40000),
                                              MakeMessage("Tiny", 10)};
    const auto script = Script({"USER bob", "PASS pw", "STAT", "LIST", "RETR 1", "RETR 2", "RETR 3", "QUIT"});
    Pop3World world;
    auto& session = world.AddSession(mailbox, script);
    ASSERT_TRUE(world.RunAll());
    EXPECT_EQ(session.ClientStream(), DirectStream(mailbox, script));
    EXPECT_TRUE(session.client->anomalies().Clean()) << session.client->anomalies();
    EXPECT_TRUE(session.server->anomalies().Clean()) << session.server->anomalies();
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
    EXPECT_TRUE(session.client->anomalies().Clean()) << session.client->anomalies();
    EXPECT_TRUE(session.server->anomalies().Clean()) << session.server->anomalies();
    EXPECT_EQ(world.network.badEngineFrames(), 0);

    const std::string reply = sim::SimPop3Server::RetrReply(mailbox[1]);
    const std::string quarantined = reply.substr(reply.find('\n') + 1);
    const std::string path = world.QuarantineFolder() + "/20260315103000.txt";
    EXPECT_EQ(ReadWholeFile(path), quarantined);
    EXPECT_NE(world.LogText().find("Saving message to Quarantine folder: " + path + "\r\n"),
              std::string::npos);
    EXPECT_EQ(world.Verdicts(), (std::vector<uintptr_t>{0, 1, 0}));
}

}  // namespace
}  // namespace bramvell::testing

namespace bramvell::testing {
namespace {

TEST(Pop3SessionTest, TenMegabyteMessageIsReplayedThroughASmallSlowWindow) {
    const std::vector<std::string> mailbox = {MakeMessage("Big", 10u << 20), MakeMessage("After", 900)};
    const auto script = Script({"USER bob", "PASS pw", "RETR 1", "RETR 2", "QUIT"});
    sim::TcpTuning client;
    client.receiveBuffer = 64 * 1024;
    client.windowScale = 2;
    client.readBytesPerMs = 40 * 1024;  // the reader lags behind the replay, so the window closes often
    Pop3World world;
    auto& session = world.AddSession(mailbox, script, 40000, client);
    ASSERT_TRUE(world.RunAll());
    EXPECT_TRUE(session.ClientStream() == DirectStream(mailbox, script, client));
    EXPECT_TRUE(session.client->anomalies().Clean()) << session.client->anomalies();
    EXPECT_TRUE(session.server->anomalies().Clean()) << session.server->anomalies();
    EXPECT_EQ(world.network.badEngineFrames(), 0);
    EXPECT_EQ(world.analyzer.analysed, 2);
}

// Every leg loses frames now and then; nothing may be lost, doubled or reordered in either stream.
TEST(Pop3SessionTest, LossOnEveryLegNeitherLosesNorCorruptsAnything) {
    const std::vector<std::string> mailbox = {MakeMessage("One", 300000), MakeMessage("SPAM offer", 200000),
                                              MakeMessage("Three", 700), MakeMessage("SPAM again", 900)};
    const auto script =
        Script({"USER bob", "PASS pw", "LIST", "RETR 1", "RETR 2", "RETR 3", "RETR 4", "NOOP", "QUIT"});
    for (uint32_t seed : {1u, 2u, 3u, 4u, 5u}) {
        SCOPED_TRACE(seed);
        Pop3World world;
        world.settings.quarantineEnabled = 0;
        uint32_t state = seed * 2654435761u;
        world.network.SetDropFilter([&state](sim::Hop, std::span<const uint8_t>) {
            state = state * 1103515245u + 12345u;
            return (state >> 16) % 100 < 4;
        });
        auto& session = world.AddSession(mailbox, script);
        ASSERT_TRUE(world.RunAll());
        const std::string error2 =
            "-ERR Filtered by Bramvell - message from Ann <ann@example.org> has a Spam probability of "
            "87%\r\n";
        const std::string expected = ExpectedStream(mailbox, script, {{2, error2}, {4, error2}});
        EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
        EXPECT_EQ(
            session.ServerStream(),
            "USER bob\r\nPASS pw\r\nLIST\r\nRETR 1\r\nRETR 2\r\nDELE 2\r\nRETR 3\r\nRETR 4\r\nDELE 4\r\n"
            "NOOP\r\nQUIT\r\n");
        EXPECT_EQ(session.pop3Server->committedDeletions(), (std::set<int>{2, 4}));
        EXPECT_FALSE(session.client->WasReset());
        EXPECT_FALSE(session.server->WasReset());
        EXPECT_EQ(session.client->anomalies().pawsRejected + session.server->anomalies().pawsRejected, 0);
        EXPECT_EQ(world.network.badEngineFrames(), 0);
    }
}

}  // namespace
}  // namespace bramvell::testing

namespace bramvell::testing {
namespace {

// A slow reader with a small window behind a lossy host path: the replay waits on a closed window,
// probes it when window updates are lost, and sends again what is lost.
TEST(Pop3SessionTest, SlowReaderBehindLossyHostPathGetsEverything) {
    const std::vector<std::string> mailbox = {MakeMessage("Long", 200000), MakeMessage("SPAM", 20000),
                                              MakeMessage("Short", 400)};
    const auto script = Script({"USER bob", "RETR 1", "RETR 2", "RETR 3", "QUIT"});
    sim::TcpTuning client;
    client.receiveBuffer = 16 * 1024;
    client.windowScale = -1;
    client.readBytesPerMs = 64;
    const std::string expected = ExpectedStream(mailbox, script, {{2, ErrorLine("Ann <ann@example.org>")}});
    for (uint32_t seed : {11u, 12u, 13u}) {
        SCOPED_TRACE(seed);
        Pop3World world;
        world.settings.quarantineEnabled = 0;
        uint32_t state = seed * 2654435761u;
        world.network.SetDropFilter([&state](sim::Hop hop, std::span<const uint8_t>) {
            state = state * 1103515245u + 12345u;
            return (hop == sim::Hop::EngineToClient || hop == sim::Hop::ClientToEngine) &&
                   (state >> 16) % 100 < 5;
        });
        auto& session = world.AddSession(mailbox, script, 40000, client);
        ASSERT_TRUE(world.RunAll());
        EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
        EXPECT_EQ(session.client->anomalies().beyondWindow, 0);
        EXPECT_FALSE(session.client->WasReset());
        EXPECT_EQ(session.pop3Server->committedDeletions(), std::set<int>{2});
    }
}

}  // namespace
}  // namespace bramvell::testing
