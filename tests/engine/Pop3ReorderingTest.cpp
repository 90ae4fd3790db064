// Frames that overtake one another on the way to or from the engine.
#include <gtest/gtest.h>

#include "support/Pop3World.h"

namespace bramvell::testing {
namespace {

// A slow reader's acknowledgements reach the engine out of order: an older one, whose window counts
// from its older acknowledgement, must not widen the window the replay (or the server) may fill.
TEST(Pop3ReorderingTest, OvertakenAcknowledgementsDoNotWidenTheClientsWindow) {
    const std::vector<std::string> mailbox = {MakeMessage("Long", 120000), MakeMessage("SPAM", 9000),
                                              MakeMessage("Short", 3000)};
    const auto script = Script({"USER bob", "RETR 1", "RETR 2", "RETR 3", "QUIT"});
    sim::TcpTuning client;
    client.receiveBuffer = 16 * 1024;
    client.windowScale = -1;
    client.readBytesPerMs = 200;
    const std::string expected = ExpectedStream(mailbox, script, {{2, ErrorLine("Ann <ann@example.org>")}});
    for (uint32_t every : {3u, 4u, 5u}) {
        SCOPED_TRACE(every);
        Pop3World world;
        world.settings.quarantineEnabled = 0;
        uint32_t count = 0;
        world.network.SetExtraDelay([&count, every](sim::Hop hop, std::span<const uint8_t>) -> uint32_t {
            return hop == sim::Hop::ClientToEngine && ++count % every == 0 ? 3 : 0;
        });
        auto& session = world.AddSession(mailbox, script, 40000, client);
        ASSERT_TRUE(world.RunAll());
        EXPECT_GT(world.network.framesReordered(), 0u);
        EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
        EXPECT_EQ(session.client->anomalies().beyondWindow, 0);
        EXPECT_EQ(session.server->anomalies().beyondWindow, 0);
        EXPECT_EQ(session.pop3Server->committedDeletions(), std::set<int>{2});
        EXPECT_EQ(world.network.badEngineFrames(), 0);
    }
}

}  // namespace
}  // namespace bramvell::testing
