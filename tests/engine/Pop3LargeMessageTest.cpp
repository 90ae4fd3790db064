// Large messages: the window the engine offers the server while it holds a reply, the verdict on the
// start of a message past early-verdict-bytes, and segments that arrive beyond a gap.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/HoldingWindow.h"
#include "engine/TcpHeader.h"
#include "support/Pop3World.h"

namespace bramvell::testing {
namespace {

constexpr uint32_t kThreshold = 64 * 1024;
constexpr const char* kJudgedEarly = "Large message judged on its first";

// While collecting the engine is the receiver: it offers its budget (in the client's scale), at least the
// client's own window, never beyond the memory cap; once streaming, the budget counts from what the
// client has acknowledged.
TEST(HoldingWindowTest, OffersTheBudgetInTheClientsScaleWithinTheCap) {
    Pop3Connection connection;
    connection.clientWindowScale = 7;
    connection.client.window = 500;  // 64000 bytes
    connection.replyStartSeq = 1000;
    connection.expectedSeq = 1000;
    EXPECT_EQ(HoldingWindowToServer(connection, 1u << 20, 64u << 20), 8192);
    connection.expectedSeq = 1000 + 600 * 1024;  // 600 KiB taken: 424 KiB left
    EXPECT_EQ(HoldingWindowToServer(connection, 1u << 20, 64u << 20), 3392);
    connection.expectedSeq = 1000 + (1u << 20);  // the budget used up: the client's own window
    EXPECT_EQ(HoldingWindowToServer(connection, 1u << 20, 64u << 20), 500);
    connection.expectedSeq = 1000;
    EXPECT_EQ(HoldingWindowToServer(connection, 64u << 20, 64u << 20), 65535);  // the scale's largest

    connection.clientWindowScale = 0;  // no scaling: at most 64 KiB
    EXPECT_EQ(HoldingWindowToServer(connection, 1u << 20, 64u << 20), 65535);
    EXPECT_EQ(HoldingWindowToServer(connection, 1u << 20, 20000), 20000);  // the cap
}

// Good mail at the threshold's edges reaches the client as the server sent it: a reply that ends as it
// reaches the threshold is judged whole, one that grows past it is judged on its start (the log says so).
TEST(Pop3LargeMessageTest, GoodMailAtTheThresholdsEdgesArrivesWhole) {
    const std::vector<std::string> mailbox = {MakeMessage("Big", 70000), MakeMessage("After", 2000)};
    const auto script = Script({"USER bob", "RETR 1", "RETR 2", "QUIT"});
    const std::string expected = ExpectedStream(mailbox, script, {});
    const auto replySize = static_cast<uint32_t>(sim::SimPop3Server::RetrReply(mailbox[0]).size());
    for (const auto& [threshold, judgedEarly] : {std::pair{replySize + 1, false}, std::pair{replySize, false},
                                                 std::pair{replySize - 2000, true}, std::pair{1000u, true}}) {
        SCOPED_TRACE(threshold);
        Pop3World world;
        world.settings.earlyVerdictBytes = threshold;
        auto& session = world.AddSession(mailbox, script);
        ASSERT_TRUE(world.RunAll());
        EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
        EXPECT_EQ(world.LogText().find(kJudgedEarly) != std::string::npos, judgedEarly) << world.LogText();
        EXPECT_EQ(world.Verdicts(), (std::vector<uintptr_t>{0, 0}));
        EXPECT_TRUE(session.client->anomalies().Clean()) << session.client->anomalies();
        EXPECT_TRUE(session.server->anomalies().Clean()) << session.server->anomalies();
        EXPECT_EQ(world.network.badEngineFrames(), 0);
    }
}

// Judged good on its start, a large message streams: the client has most of it while the server is
// still sending, and the engine holds no more than its budget and the replay in flight.
TEST(Pop3LargeMessageTest, GoodMailJudgedOnItsStartStreamsInBoundedMemory) {
    const std::vector<std::string> mailbox = {MakeMessage("Big", 3u << 20), MakeMessage("After", 2000)};
    const auto script = Script({"USER bob", "RETR 1", "RETR 2", "QUIT"});
    Pop3World world(sim::SimNetwork::Mode::Engine, 10);
    world.settings.earlyVerdictBytes = kThreshold;
    std::size_t clientBytesWhileServerSends = 0;
    std::size_t maxHeld = 0;
    world.network.SetObserver([&](sim::Hop hop, std::span<const uint8_t>) {
        maxHeld = std::max(maxHeld, world.engine.Memory().heldBytes);
        const auto& session = *world.sessions[0];
        if (hop == sim::Hop::ServerToEngine && session.ServerStream().find("RETR 2") == std::string::npos) {
            clientBytesWhileServerSends = session.ClientStream().size();
        }
    });
    auto& session = world.AddSession(mailbox, script);
    ASSERT_TRUE(world.RunAll());
    const std::string expected = ExpectedStream(mailbox, script, {});
    EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
    EXPECT_GT(clientBytesWhileServerSends, 2u << 20);
    EXPECT_LT(maxHeld, kThreshold + 256 * 1024 + 2 * SegmentStore::kBlockSize);
    EXPECT_TRUE(session.client->anomalies().Clean()) << session.client->anomalies();
    EXPECT_TRUE(session.server->anomalies().Clean()) << session.server->anomalies();
    EXPECT_EQ(world.network.badEngineFrames(), 0);
}

// Spam past the threshold is judged on its start, yet handled as any spam: deleted, its whole copy in
// quarantine, the client answered with the error line and never shown a byte of it.
TEST(Pop3LargeMessageTest, SpamJudgedOnItsStartIsDeletedWithItsWholeCopy) {
    for (const std::size_t size : {std::size_t{kThreshold + 2000}, std::size_t{8 * kThreshold}}) {
        SCOPED_TRACE(size);
        const std::vector<std::string> mailbox = {MakeMessage("Buy SPAM now", size),
                                                  MakeMessage("After", 2000)};
        const auto script = Script({"USER bob", "RETR 1", "RETR 2", "QUIT"});
        Pop3World world;
        world.settings.earlyVerdictBytes = kThreshold;
        auto& session = world.AddSession(mailbox, script);
        ASSERT_TRUE(world.RunAll());
        const std::string expected =
            ExpectedStream(mailbox, script, {{1, ErrorLine("Ann <ann@example.org>")}});
        EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
        EXPECT_EQ(session.pop3Server->committedDeletions(), std::set<int>{1});
        EXPECT_NE(world.LogText().find(kJudgedEarly), std::string::npos);
        const std::string reply = sim::SimPop3Server::RetrReply(mailbox[0]);
        EXPECT_EQ(ReadWholeFile(world.QuarantineFolder() + "/20260315103000.txt"),
                  reply.substr(reply.find('\n') + 1));
        EXPECT_EQ(world.Verdicts(), (std::vector<uintptr_t>{1, 0}));
    }
}

// Server segments lost on their way in: those after the gap are kept, so the server resends only what
// was lost (not the run behind it), and the message arrives whole, streamed or judged whole.
TEST(Pop3LargeMessageTest, SegmentsBeyondAGapAreKeptSoOnlyTheLostOnesComeAgain) {
    for (const uint32_t early : {0u, kThreshold}) {
        SCOPED_TRACE(early);
        const std::vector<std::string> mailbox = {MakeMessage("Big", 600 * 1024), MakeMessage("SPAM", 30000)};
        const auto script = Script({"USER bob", "RETR 1", "RETR 2", "QUIT"});
        Pop3World world(sim::SimNetwork::Mode::Engine, 10);
        world.settings.earlyVerdictBytes = early;
        world.settings.quarantineEnabled = 0;
        int dataFrames = 0;
        int dropped = 0;
        world.network.SetDropFilter([&](sim::Hop hop, std::span<const uint8_t> frame) {
            if (hop != sim::Hop::ServerToEngine || frame.size() < 200) {
                return false;
            }
            if (++dataFrames % 37 == 0) {
                ++dropped;
                return true;
            }
            return false;
        });
        auto& session = world.AddSession(mailbox, script);
        ASSERT_TRUE(world.RunAll());
        const std::string expected =
            ExpectedStream(mailbox, script, {{2, ErrorLine("Ann <ann@example.org>")}});
        EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
        EXPECT_GT(dropped, 5);
        EXPECT_LE(session.server->Retransmissions(), 2 * dropped);
        EXPECT_GT(session.server->SackBlocksReceived(), 0);  // what is kept was named to the server
        EXPECT_EQ(session.server->anomalies().sackBlocks, 0);
        EXPECT_EQ(world.network.badEngineFrames(), 0);
        EXPECT_EQ(session.pop3Server->committedDeletions(), std::set<int>{2});
    }
}

}  // namespace
}  // namespace bramvell::testing

namespace bramvell::testing {
namespace {

// Attachment renaming goes on line by line while a message judged on its start streams on: names far
// past the threshold are renamed wherever the segments split their lines, and nothing else changes.
TEST(Pop3LargeMessageTest, AttachmentsPastTheThresholdAreRenamedAsTheMessageStreams) {
    std::string message = MakeMessage("Big", 400000);
    std::string renamed = message;
    const std::string attachment = "Content-Disposition: attachment; filename=\"tool.exe\"\r\n";
    const std::string harmless = "Content-Disposition: attachment; filename=\"tool.tb \"\r\n";
    for (std::size_t at : {300000u, 200000u, 150731u}) {
        const std::size_t lineStart = message.find('\n', at) + 1;
        message.insert(lineStart, attachment);
        renamed.insert(lineStart, harmless);
    }
    const auto script = Script({"USER bob", "RETR 1", "QUIT"});
    Pop3World world;
    world.settings.earlyVerdictBytes = kThreshold;
    world.settings.renameAttachments = 1;
    auto& session = world.AddSession({message}, script);
    ASSERT_TRUE(world.RunAll());
    const std::string expected = DirectStream({renamed}, script);
    EXPECT_TRUE(session.ClientStream() == expected) << FirstDifference(session.ClientStream(), expected);
    const std::string log = world.LogText();
    std::size_t renamings = 0;
    for (std::size_t at = 0; (at = log.find("has renamed attachment 'tool.exe'", at)) != std::string::npos;
         ++at) {
        ++renamings;
    }
    EXPECT_EQ(renamings, 3u) << log;
    EXPECT_EQ(world.network.badEngineFrames(), 0);
}

}  // namespace
}  // namespace bramvell::testing
