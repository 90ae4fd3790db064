// Whole POP3 sessions over IPv6: everything the IPv4 sessions show must hold with 128-bit addresses,
// the IPv6 pseudo-header and a 40-byte IP header.
#include <gtest/gtest.h>

#include "engine/EthernetHeader.h"
#include "support/Pop3World.h"

namespace bramvell::testing {
namespace {

// Counts the frames of each family on every leg, and loses some when asked.
struct FamilyCount {
    int ipv4 = 0;
    int ipv6 = 0;
};

void WatchFamilies(Pop3World& world, FamilyCount& count, uint32_t lossSeed = 0) {
    auto state = std::make_shared<uint32_t>(lossSeed * 2654435761u);
    world.network.SetDropFilter([&count, state, lossSeed](sim::Hop, std::span<const uint8_t> frame) {
        const uint16_t etherType = frame.size() >= 14 ? Load16(frame.data() + 12) : 0;
        count.ipv4 += etherType == kEtherTypeIpv4;
        count.ipv6 += etherType == kEtherTypeIpv6;
        *state = *state * 1103515245u + 12345u;
        return lossSeed != 0 && (*state >> 16) % 100 < 4;
    });
}

TEST(Pop3Ipv6SessionTest, GoodMailArrivesIntactAndSpamIsDeletedWithTheErrorLine) {
    const std::vector<std::string> mailbox = {MakeMessage("Hello", 600), MakeMessage("Buy SPAM now", 5000),
                                              MakeMessage("Report", 2u << 20), MakeMessage("Tiny", 10)};
    const auto script =
        Script({"USER bob", "PASS pw", "LIST", "RETR 1", "RETR 2", "RETR 3", "RETR 4", "QUIT"});
    Pop3World world;
    world.ipv6 = true;
    FamilyCount count;
    WatchFamilies(world, count);
    auto& session = world.AddSession(mailbox, script);
    ASSERT_TRUE(world.RunAll());

    const std::string expected = ExpectedStream(mailbox, script, {{2, ErrorLine("Ann <ann@example.org>")}});
    EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
    EXPECT_EQ(session.ServerStream(),
              "USER bob\r\nPASS pw\r\nLIST\r\nRETR 1\r\nRETR 2\r\nDELE 2\r\nRETR 3\r\nRETR 4\r\nQUIT\r\n");
    EXPECT_EQ(session.pop3Server->committedDeletions(), std::set<int>{2});
    EXPECT_TRUE(session.client->anomalies().Clean()) << session.client->anomalies();
    EXPECT_TRUE(session.server->anomalies().Clean()) << session.server->anomalies();
    EXPECT_EQ(world.network.badEngineFrames(), 0);
    EXPECT_EQ(world.Verdicts(), (std::vector<uintptr_t>{0, 1, 0, 0}));
    EXPECT_GT(count.ipv6, 1000);
    EXPECT_EQ(count.ipv4, 0);
}

TEST(Pop3Ipv6SessionTest, LossOnEveryLegNeitherLosesNorCorruptsAnything) {
    const std::vector<std::string> mailbox = {MakeMessage("One", 300000), MakeMessage("SPAM offer", 200000),
                                              MakeMessage("Three", 700)};
    const auto script = Script({"USER bob", "PASS pw", "RETR 1", "RETR 2", "RETR 3", "NOOP", "QUIT"});
    const std::string expected = ExpectedStream(mailbox, script, {{2, ErrorLine("Ann <ann@example.org>")}});
    for (uint32_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        Pop3World world;
        world.ipv6 = true;
        world.settings.quarantineEnabled = 0;
        FamilyCount count;
        WatchFamilies(world, count, seed);
        auto& session = world.AddSession(mailbox, script);
        ASSERT_TRUE(world.RunAll());
        EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
        EXPECT_EQ(session.pop3Server->committedDeletions(), std::set<int>{2});
        EXPECT_FALSE(session.client->WasReset());
        EXPECT_FALSE(session.server->WasReset());
        EXPECT_EQ(world.network.badEngineFrames(), 0);
    }
}

// Pipelined commands, and a client that leaves without QUIT after a spam answer (the engine sends the
// QUIT in its name so that the deletion holds): the frames the engine makes for these are IPv6 too.
TEST(Pop3Ipv6SessionTest, PipelinedRetrievalsAndALeavingClientAreHandledAsOverIpv4) {
    const std::vector<std::string> mailbox = {MakeMessage("Hello", 900), MakeMessage("Buy SPAM now", 3000),
                                              MakeMessage("Report", 70000)};
    const std::string error = ErrorLine("Ann <ann@example.org>");
    {
        const auto script = Script({"USER bob", "PASS pw", "RETR 1", "RETR 2", "TOP 3 99999999", "QUIT"});
        sim::ClientBehaviour pipelined;
        pipelined.pipelined = true;
        Pop3World world;
        world.ipv6 = true;
        FamilyCount count;
        WatchFamilies(world, count);
        auto& session = world.AddSession(mailbox, script, 40000, {}, {}, kServerIp, pipelined);
        ASSERT_TRUE(world.RunAll());
        const std::string expected = ExpectedStream(mailbox, script, {{2, error}});
        EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
        EXPECT_EQ(session.pop3Server->committedDeletions(), std::set<int>{2});
        EXPECT_EQ(world.analyzer.analysed, 3);
        EXPECT_EQ(world.network.badEngineFrames(), 0);
        EXPECT_EQ(count.ipv4, 0);
    }
    {
        const auto script = Script({"USER bob", "RETR 2"});
        sim::ClientBehaviour leaves;
        leaves.onRetrievalError = sim::ClientBehaviour::OnRetrievalError::Close;
        Pop3World world;
        world.ipv6 = true;
        auto& session = world.AddSession(mailbox, script, 40000, {}, {}, kServerIp, leaves);
        ASSERT_TRUE(world.RunAll());
        EXPECT_EQ(session.pop3Server->committedDeletions(), std::set<int>{2});
        EXPECT_EQ(world.network.badEngineFrames(), 0);
    }
}

// The same client port toward two servers, one over each family: two records, neither disturbs the other.
TEST(Pop3Ipv6SessionTest, OneClientPortTowardAnIpv4AndAnIpv6ServerIsTwoConnections) {
    const std::vector<std::string> mailbox = {MakeMessage("Hello", 4000), MakeMessage("Buy SPAM now", 3000)};
    const auto script = Script({"USER bob", "RETR 1", "RETR 2", "QUIT"});
    Pop3World world;
    auto& overIpv4 = world.AddSession(mailbox, script, 40000);
    world.ipv6 = true;
    auto& overIpv6 = world.AddSession(mailbox, script, 40000);
    ASSERT_TRUE(world.RunAll());
    const std::string expected = ExpectedStream(mailbox, script, {{2, ErrorLine("Ann <ann@example.org>")}});
    for (const Pop3World::Session* session : {&overIpv4, &overIpv6}) {
        EXPECT_TRUE(session->ClientStream() == expected)
            << FirstDifference(session->ClientStream(), expected);
        EXPECT_EQ(session->pop3Server->committedDeletions(), std::set<int>{2});
        EXPECT_TRUE(session->client->anomalies().Clean()) << session->client->anomalies();
    }
    EXPECT_EQ(world.analyzer.analysed, 4);
}

}  // namespace
}  // namespace bramvell::testing
