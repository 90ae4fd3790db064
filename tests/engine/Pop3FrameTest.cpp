// The engine frame by frame: lock-step exchanges must carry exactly the numbers the tracking rules
// give, and the rarer segments must be handled as they arrive.
#include <gtest/gtest.h>

#include "config/ActivityLog.h"
#include "engine/ByteOrder.h"
#include "engine/TcpOptions.h"
#include "support/FrameDriver.h"

namespace bramvell::testing {
namespace {

constexpr uint32_t kC = 1000;  // client ISN
constexpr uint32_t kS = 5000;  // server ISN
constexpr PacketDirection kOut = PacketDirection::Outbound;
constexpr PacketDirection kIn = PacketDirection::Inbound;

class Pop3FrameTest : public ::testing::Test {
  protected:
    // Handshake, greeting and "RETR 1": the client has sent up to kC+9, the server up to kS+6.
    void StartRetrieval() {
        driver.Handshake(kC, kS);
        auto greeting = driver.Server(kS + 1, kC + 1, "+OK\r\n");
        ASSERT_FALSE(greeting.dropped);
        EXPECT_EQ(greeting.frame.seq, kS + 1);
        auto retr = driver.Client(kC + 1, kS + 6, "RETR 1\r\n");
        ASSERT_FALSE(retr.dropped);
        EXPECT_EQ(retr.frame.seq, kC + 1);
        EXPECT_EQ(retr.frame.ack, kS + 6);
    }
    const Pop3Connection& Record() { return *driver.engine.table().Slot(ConnectionTable::kSlots - 1); }
    std::string Log() { return ReadWholeFile(ActivityLogPath(driver.folder / "log", driver.clock.Now())); }

    FrameDriver driver;
};

TEST_F(Pop3FrameTest, CollectingAcknowledgesEachSegmentInTheClientsName) {
    StartRetrieval();
    auto held = driver.Server(kS + 6, kC + 9, "+OK 9 octets\r\nFrom: x\r\n");  // 23 bytes
    EXPECT_TRUE(held.Leaves());
    EXPECT_EQ(held.LeavingDirection(), kOut);
    const SegmentView ack = held.Leaving();
    EXPECT_TRUE(ack.valid);
    EXPECT_EQ(ack.flags, 0x10);
    EXPECT_EQ(ack.sourceIp, FrameDriver::kClient);
    EXPECT_EQ(ack.destinationIp, FrameDriver::kServer);
    EXPECT_EQ(ack.sourcePort, 40000);
    EXPECT_EQ(ack.destinationPort, 110);
    EXPECT_EQ(ack.seq, kC + 9);
    EXPECT_EQ(ack.ack, kS + 29);
    EXPECT_EQ(ack.window, 65535);  // the engine takes the reply: the most an unscaled window can offer
    EXPECT_TRUE(ack.payload.empty());
    EXPECT_EQ(ack.length, 54u);

    // The client sees nothing meanwhile; its own segments are held back.
    EXPECT_TRUE(driver.Client(kC + 9, kS + 6, "", 0x10).dropped);
    // An empty segment is dropped; a resent one is acknowledged again; one beyond a gap is not held.
    EXPECT_TRUE(driver.Server(kS + 29, kC + 9, "", 0x10).dropped);
    auto resent = driver.Server(kS + 6, kC + 9, "+OK 9 octets\r\nFrom: x\r\n");
    EXPECT_EQ(resent.LeavingDirection(), kOut);
    EXPECT_EQ(resent.Leaving().ack, kS + 29);
    auto gap = driver.Server(kS + 40, kC + 9, "later\r\n");
    EXPECT_EQ(gap.Leaving().ack, kS + 29);
    EXPECT_EQ(Record().held.Count(), 1u);
}

TEST_F(Pop3FrameTest, GoodMessageIsReplayedWithTheClientsNumbers) {
    StartRetrieval();
    driver.Server(kS + 6, kC + 9, "+OK\r\nhello\r\n", 0x18, 7000);  // 12 bytes
    auto last = driver.Server(kS + 18, kC + 9, ".\r\n", 0x18, 7000);
    EXPECT_TRUE(last.dropped);
    ASSERT_EQ(last.sent.size(), 3u);
    EXPECT_EQ(last.sent[0].direction, kOut);
    EXPECT_EQ(ViewSegment(last.sent[0].bytes).ack, kS + 21);
    const SegmentView first = ViewSegment(last.sent[1].bytes);
    const SegmentView second = ViewSegment(last.sent[2].bytes);
    EXPECT_EQ(last.sent[1].direction, kIn);
    EXPECT_TRUE(first.valid && second.valid);
    EXPECT_EQ(first.seq, kS + 6);
    EXPECT_EQ(first.ack, kC + 9);
    EXPECT_EQ(first.window, 7000);
    EXPECT_EQ(first.payload, "+OK\r\nhello\r\n");
    EXPECT_EQ(second.seq, kS + 18);
    EXPECT_EQ(second.payload, ".\r\n");
    EXPECT_EQ(driver.target.Messages().back(), (RecordingMessageTarget::Posted{WM_MAIL_CLASSIFIED, 0}));

    EXPECT_TRUE(driver.Client(kC + 9, kS + 21, "", 0x10).dropped);  // absorbed
    EXPECT_EQ(Record().replayedPending, 0);
    auto quit = driver.Client(kC + 9, kS + 21, "QUIT\r\n");
    EXPECT_FALSE(quit.dropped);
    EXPECT_EQ(quit.frame.seq, kC + 9);
    EXPECT_EQ(quit.frame.ack, kS + 21);
}

TEST_F(Pop3FrameTest, SpamBecomesDeleAndTheAnswerBecomesTheErrorLine) {
    StartRetrieval();
    driver.Server(kS + 6, kC + 9, "+OK\r\nFrom: Eve\r\nSubject: SPAM\r\n");  // 31 bytes
    auto last = driver.Server(kS + 37, kC + 9, "\r\nbuy\r\n.\r\n");          // 10 bytes
    ASSERT_TRUE(last.Leaves());
    EXPECT_EQ(last.LeavingDirection(), kOut);
    const SegmentView dele = last.Leaving();
    EXPECT_EQ(dele.flags, 0x18);
    EXPECT_EQ(dele.payload, "DELE 1\r\n");
    EXPECT_EQ(dele.seq, kC + 9);
    EXPECT_EQ(dele.ack, kS + 47);
    EXPECT_EQ(dele.window, 4000);
    EXPECT_TRUE(dele.valid);
    EXPECT_EQ(driver.target.Messages().back(), (RecordingMessageTarget::Posted{WM_MAIL_CLASSIFIED, 1}));
    EXPECT_EQ(ReadWholeFile(driver.folder / "quarantine/20260315103000.txt"),
              "From: Eve\r\nSubject: SPAM\r\n\r\nbuy\r\n.\r\n");

    auto answer = driver.Server(kS + 47, kC + 17, "+OK Marked to be deleted.\r\n");  // 27 bytes
    const std::string error =
        "-ERR Filtered by Bramvell - message from Eve has a Spam probability of 87%\r\n";
    ASSERT_TRUE(answer.Leaves());
    EXPECT_EQ(answer.LeavingDirection(), kIn);
    const SegmentView reply = answer.Leaving();
    EXPECT_EQ(reply.payload, error);
    EXPECT_EQ(reply.seq, kS + 6);
    EXPECT_EQ(reply.ack, kC + 9);
    EXPECT_EQ(reply.flags, 0x18);
    EXPECT_EQ(reply.window, 6000);
    EXPECT_TRUE(reply.valid);

    const auto errorEnd = static_cast<uint32_t>(kS + 6 + error.size());
    auto ack = driver.Client(kC + 9, errorEnd, "", 0x10);
    ASSERT_FALSE(ack.dropped);
    EXPECT_EQ(ack.frame.seq, kC + 17);
    EXPECT_EQ(ack.frame.ack, kS + 74);
    auto quit = driver.Client(kC + 9, errorEnd, "QUIT\r\n");
    EXPECT_EQ(quit.frame.seq, kC + 17);
    EXPECT_EQ(quit.frame.ack, kS + 74);
    auto bye = driver.Server(kS + 74, kC + 23, "+OK bye\r\n");
    EXPECT_EQ(bye.frame.seq, errorEnd);
    EXPECT_EQ(bye.frame.ack, kC + 15);
}

TEST_F(Pop3FrameTest, UnansweredDeleAndUnacknowledgedReplayAreSentAgain) {
    StartRetrieval();
    driver.Server(kS + 6, kC + 9, "+OK\r\nSubject: SPAM\r\n\r\n.\r\n");
    driver.ticks.now += 299;
    EXPECT_TRUE(driver.Idle().empty());
    driver.ticks.now += 1;
    auto resent = driver.Idle();
    ASSERT_EQ(resent.size(), 1u);
    EXPECT_EQ(ViewSegment(resent[0].bytes).payload, "DELE 1\r\n");
    driver.Server(kS + 30, kC + 17, "", 0x10);  // the server has it now
    driver.ticks.now += 10000;
    EXPECT_TRUE(driver.Idle().empty());

    FrameDriver good;
    good.Handshake(kC, kS);
    good.Client(kC + 1, kS + 1, "RETR 1\r\n");
    good.Server(kS + 1, kC + 9, "+OK\r\nhi\r\n.\r\n");
    good.ticks.now += 300;
    auto again = good.Idle();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].direction, kIn);
    EXPECT_EQ(ViewSegment(again[0].bytes).payload, "+OK\r\nhi\r\n.\r\n");
}

TEST_F(Pop3FrameTest, WhileReplayIsPendingRetrOfTheSameMessageIsADuplicate) {
    driver.Handshake(kC, kS);
    driver.Server(kS + 1, kC + 1, "+OK\r\n");
    driver.Client(kC + 1, kS + 6, "RETR 1\r\n", 0x18, 8);  // a window too small for the reply
    auto last = driver.Server(kS + 6, kC + 9, "+OK\r\nhello\r\n.\r\n");
    EXPECT_EQ(last.sent.size(), 1u);  // only the acknowledgement: nothing fits the window yet
    EXPECT_EQ(Record().replayedPending, 1);

    EXPECT_TRUE(driver.Client(kC + 1, kS + 6, "RETR 1\r\n", 0x18, 8).dropped);
    EXPECT_NE(Log().find("Duplicate RETR!\r\n"), std::string::npos);
    // Another command waits until the reply has been delivered, then goes on with its own numbers.
    EXPECT_TRUE(driver.Client(kC + 9, kS + 6, "NOOP\r\n", 0x18, 8).dropped);
    auto opened = driver.Client(kC + 15, kS + 6, "", 0x10, 4000);
    ASSERT_EQ(opened.sent.size(), 1u);
    EXPECT_EQ(ViewSegment(opened.sent[0].bytes).seq, kS + 6);
    auto delivered = driver.Client(kC + 15, kS + 21, "", 0x10, 4000);
    ASSERT_EQ(delivered.sent.size(), 1u);
    const auto noop = ViewSegment(delivered.sent[0].bytes);
    EXPECT_EQ(noop.payload, "NOOP\r\n");
    EXPECT_EQ(noop.seq, kC + 9);
    EXPECT_EQ(noop.ack, kS + 21);
}

// What does not start a collection: 7 bytes, an 8-character argument, the pause key. Command names
// are read without regard to case.
TEST_F(Pop3FrameTest, OnlyAWholeRetrLineStartsCollecting) {
    struct Case {
        std::string command;
        bool paused;
        bool collects;
    };
    const Case cases[] = {{"RETR 1\r\n", false, true},       {"RETR \r\n", false, false},
                          {"retr 1\r\n", false, true},       {"RETR 12345678\r\n", false, false},
                          {"RETR 1234567\r\n", false, true}, {"RETR 1\r\n", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        FrameDriver fresh;
        fresh.keys.held = c.paused;
        fresh.Handshake(kC, kS);
        fresh.Client(kC + 1, kS + 1, c.command);
        const auto length = static_cast<uint32_t>(c.command.size());
        auto reply = fresh.Server(kS + 1, kC + 1 + length, "+OK\r\nx\r\n.\r\n");
        EXPECT_EQ(reply.dropped || reply.direction == kOut, c.collects);
    }
}

TEST_F(Pop3FrameTest, SingleLineErrorAndEarlyCloseReleaseWhatIsHeld) {
    StartRetrieval();
    auto error = driver.Server(kS + 6, kC + 9, "-ERR no such message\r\n");
    ASSERT_EQ(error.sent.size(), 2u);
    EXPECT_EQ(ViewSegment(error.sent[1].bytes).payload, "-ERR no such message\r\n");
    EXPECT_EQ(driver.analyzer.analysed, 0);

    FrameDriver closing;
    closing.Handshake(kC, kS);
    closing.Client(kC + 1, kS + 1, "RETR 1\r\n");
    closing.Server(kS + 1, kC + 9, "+OK\r\npart");
    auto fin = closing.Server(kS + 10, kC + 9, "", 0x11);
    ASSERT_FALSE(fin.dropped);
    EXPECT_EQ(fin.direction, kIn);
    EXPECT_EQ(fin.frame.seq, kS + 10);
    ASSERT_EQ(fin.sent.size(), 1u);
    EXPECT_EQ(ViewSegment(fin.sent[0].bytes).payload, "+OK\r\npart");
}

// The SACK blocks of a frame the engine let go, as (left, right) pairs.
std::vector<std::pair<uint32_t, uint32_t>> SackBlocksOf(const std::vector<uint8_t>& frame) {
    FrameLayout layout;
    std::vector<std::pair<uint32_t, uint32_t>> blocks;
    if (ParseFrame(frame, layout) != FrameKind::Tcp) {
        return blocks;
    }
    const uint8_t* tcp = frame.data() + layout.transportOffset;
    for (std::size_t at = 20; at + 1 < layout.transportHeaderLength;) {
        if (tcp[at] == tcp_option::kNop) {
            ++at;
            continue;
        }
        if (tcp[at] == tcp_option::kSack) {
            for (std::size_t i = at + 2; i + 8 <= at + tcp[at + 1]; i += 8) {
                blocks.emplace_back(Load32(tcp + i), Load32(tcp + i + 4));
            }
        }
        at += std::max<std::size_t>(tcp[at + 1], 2);
    }
    return blocks;
}

// SACK stays on offer, and once both ends agreed on it the engine's acknowledgements while it takes a
// reply name the runs it keeps beyond a gap: the newest first, none below what it acknowledges.
TEST_F(Pop3FrameTest, AgreedSackNamesTheRunsKeptBeyondAGap) {
    const std::vector<uint8_t> options = {2, 4, 5, 180, 4, 2, 8, 10, 0, 0, 0, 1, 0, 0, 0, 0, 1, 3, 3, 7};
    const auto synBytes = BuildSegment(
        {FrameDriver::kClient, FrameDriver::kServer, 40000, 110, kC, 0, 0x02, 65535, "", options});
    const auto syn = driver.Frame(kOut, synBytes);
    ASSERT_FALSE(syn.dropped);
    EXPECT_EQ(syn.bytes, synBytes);  // passed as the client wrote it
    driver.Frame(kIn, BuildSegment({FrameDriver::kServer, FrameDriver::kClient, 110, 40000, kS, kC + 1, 0x12,
                                    6000, "", {4, 2}}));
    driver.Client(kC + 1, kS + 1, "", 0x10);
    ASSERT_TRUE(Record().sack);
    driver.Server(kS + 1, kC + 1, "+OK\r\n");
    driver.Client(kC + 1, kS + 6, "RETR 1\r\n");
    driver.Server(kS + 6, kC + 9, "+OK 9 octets\r\nFrom: x\r\n");  // up to kS+29

    auto first = driver.Server(kS + 40, kC + 9, "later\r\n");
    ASSERT_EQ(first.sent.size(), 1u);
    EXPECT_TRUE(ViewSegment(first.sent[0].bytes).valid);
    EXPECT_EQ(ViewSegment(first.sent[0].bytes).ack, kS + 29);
    using Blocks = std::vector<std::pair<uint32_t, uint32_t>>;
    EXPECT_EQ(SackBlocksOf(first.sent[0].bytes), (Blocks{{kS + 40, kS + 47}}));
    driver.Server(kS + 47, kC + 9, "on\r\n");  // joins the first run
    auto second = driver.Server(kS + 60, kC + 9, "more\r\n");
    ASSERT_EQ(second.sent.size(), 1u);
    EXPECT_TRUE(ViewSegment(second.sent[0].bytes).valid);
    EXPECT_EQ(SackBlocksOf(second.sent[0].bytes), (Blocks{{kS + 60, kS + 66}, {kS + 40, kS + 51}}));

    // The gap filled: everything up to the second run is taken, which alone is still named.
    auto filled = driver.Server(kS + 29, kC + 9, "Subject:y\r\n");  // 11 bytes, up to kS+40
    ASSERT_FALSE(filled.sent.empty());
    EXPECT_EQ(ViewSegment(filled.sent.back().bytes).ack, kS + 51);
    EXPECT_EQ(SackBlocksOf(filled.sent.back().bytes), (Blocks{{kS + 60, kS + 66}}));
}

// Without the server's agreement the engine writes no blocks.
TEST_F(Pop3FrameTest, NoSackBlocksUnlessBothEndsAgreed) {
    driver.Frame(kOut, BuildSegment({FrameDriver::kClient, FrameDriver::kServer, 40000, 110, kC, 0, 0x02,
                                     65535, "", {4, 2}}));
    driver.Server(kS, kC + 1, "", 0x12);
    driver.Client(kC + 1, kS + 1, "", 0x10);
    EXPECT_FALSE(Record().sack);
    driver.Server(kS + 1, kC + 1, "+OK\r\n");
    driver.Client(kC + 1, kS + 6, "RETR 1\r\n");
    driver.Server(kS + 6, kC + 9, "+OK 9 octets\r\nFrom: x\r\n");
    auto gap = driver.Server(kS + 40, kC + 9, "later\r\n");
    ASSERT_EQ(gap.sent.size(), 1u);
    EXPECT_TRUE(SackBlocksOf(gap.sent[0].bytes).empty());
}

// A stop mid-collection: no new retrieval is taken, the grace runs while the reply could still finish,
// and what is left is reset toward both ends (the client at the byte it expects, the server after what
// the client sent), so the client fails at once and fetches the message again.
TEST_F(Pop3FrameTest, StopMidCollectionResetsBothEndsOnceTheGraceRunsOut) {
    StartRetrieval();
    driver.Server(kS + 6, kC + 9, "+OK 9 octets\r\nFrom: x\r\n");  // held, up to kS+29

    FrameDriver other;  // a retrieval that begins after the stop passes untouched
    other.Handshake(kC, kS, 40001);
    other.engine.BeginStopping();
    other.Server(kS + 1, kC + 1, "+OK\r\n", 0x18, 6000, 40001);
    other.Client(kC + 1, kS + 6, "RETR 1\r\n", 0x18, 4000, 40001);
    EXPECT_FALSE(other.Server(kS + 6, kC + 9, "+OK 2 octets\r\nhi\r\n.\r\n", 0x18, 6000, 40001).dropped);
    EXPECT_FALSE(other.engine.Finishing());

    driver.engine.BeginStopping();
    EXPECT_TRUE(driver.engine.Finishing());
    driver.ticks.now += 2999;
    EXPECT_TRUE(driver.engine.Finishing());
    driver.ticks.now += 1;
    EXPECT_FALSE(driver.engine.Finishing());
    driver.engine.ResetUnfinished(driver.source, 1);
    const auto sent = driver.source.TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    const SegmentView toClient = ViewSegment(sent[0].bytes);
    EXPECT_EQ(sent[0].direction, kIn);
    EXPECT_TRUE(toClient.valid);
    EXPECT_EQ(toClient.flags & 0x04, 0x04);
    EXPECT_EQ(toClient.seq, kS + 6);
    const SegmentView toServer = ViewSegment(sent[1].bytes);
    EXPECT_EQ(sent[1].direction, kOut);
    EXPECT_TRUE(toServer.valid);
    EXPECT_EQ(toServer.flags & 0x04, 0x04);
    EXPECT_EQ(toServer.seq, kC + 9);
    EXPECT_EQ(toServer.ack, kS + 29);
    EXPECT_NE(Log().find("Filtering stops in the middle of a retrieval"), std::string::npos);
    EXPECT_NE(Record().closedAtMinute, 0);
}

TEST_F(Pop3FrameTest, ResetsAndFinishedClosesStampTheRecord) {
    StartRetrieval();
    auto reset = driver.Client(kC + 9, kS + 6, "", 0x14);
    EXPECT_FALSE(reset.dropped);  // the server must hear of it
    EXPECT_EQ(Record().closedAtMinute, 31);

    // The client's FIN acknowledges the server's FIN in the same segment.
    FrameDriver both;
    both.Handshake(kC, kS);
    both.Server(kS + 1, kC + 1, "+OK bye\r\n", 0x19);
    both.Client(kC + 1, kS + 11, "", 0x11);
    EXPECT_EQ(both.engine.table().Slot(99)->closedAtMinute, 0);
    both.Server(kS + 11, kC + 2, "", 0x10);
    EXPECT_EQ(both.engine.table().Slot(99)->closedAtMinute, 31);
}

TEST_F(Pop3FrameTest, SynAckOnAPortStillInTheTableStartsTheRecordAfresh) {
    StartRetrieval();
    driver.Server(kS + 6, kC + 9, "+OK\r\nSubject: SPAM\r\n\r\n.\r\n");
    driver.Server(kS + 30, kC + 17, "+OK\r\n");
    ASSERT_NE(Record().client.toPeerOffset, 0u);
    driver.Handshake(20000, 90000);
    auto user = driver.Client(20001, 90001, "USER bob\r\n");
    EXPECT_EQ(user.frame.seq, 20001u);
    EXPECT_EQ(user.frame.ack, 90001u);
    EXPECT_EQ(driver.engine.table().Count(), 1u);
}

TEST_F(Pop3FrameTest, ClosedRecordsAreSweptTwoToThreeMinutesLater) {
    struct Case {
        LocalTime closed;
        LocalTime kept;
        LocalTime swept;
    };
    const Case cases[] = {{{2026, 3, 15, 10, 30, 0}, {2026, 3, 15, 10, 32, 59}, {2026, 3, 15, 10, 33, 0}},
                          {{2026, 3, 15, 10, 59, 30}, {2026, 3, 15, 11, 1, 59}, {2026, 3, 15, 11, 2, 0}}};
    for (const Case& c : cases) {
        FrameDriver fresh;
        fresh.clock.Set(c.closed);
        fresh.Handshake(kC, kS);
        fresh.Client(kC + 1, kS + 1, "", 0x04);
        fresh.clock.Set(c.kept);
        fresh.engine.SweepClosedConnections();
        EXPECT_EQ(fresh.engine.table().Count(), 1u);
        fresh.clock.Set(c.swept);
        fresh.engine.SweepClosedConnections();
        EXPECT_EQ(fresh.engine.table().Count(), 0u);
    }
}

TEST_F(Pop3FrameTest, AConnectionWhoseEndGoesUnseenIsGivenUpAfterHalfAnHour) {
    constexpr uint64_t kHalfHour = 30 * 60 * 1000;
    // The server vanishes mid-reply; the client goes on acknowledging (keep-alives) and never gives up.
    // The reply stays held until the server has been silent for half an hour.
    StartRetrieval();
    driver.Server(kS + 6, kC + 9, "+OK\r\nSubject: hi\r\n");
    driver.Idle();
    ASSERT_EQ(Record().phase(), Pop3Phase::Collecting);
    for (uint64_t waited = 0; waited < kHalfHour; waited += 60000) {
        driver.ticks.now += 60000;
        driver.Client(kC + 9, kS + 6, "", 0x10);
        driver.Idle();
    }
    EXPECT_EQ(Record().closedAtMinute, 0);
    EXPECT_EQ(driver.engine.Memory().heldBytes, 18u);
    driver.ticks.now += 60000;
    driver.Idle();
    EXPECT_EQ(Record().closedAtMinute, 31);
    EXPECT_EQ(Record().phase(), Pop3Phase::Passing);
    EXPECT_EQ(driver.engine.Memory().heldBytes, 0u);

    // An idle connection that goes on exchanging frames is kept, however long it lives.
    FrameDriver lively;
    lively.Handshake(kC, kS);
    uint32_t clientSeq = kC + 1;
    uint32_t serverSeq = kS + 1;
    for (int minute = 0; minute < 90; ++minute) {
        lively.ticks.now += 60000;
        lively.Client(clientSeq, serverSeq, "NOOP\r\n");
        clientSeq += 6;
        lively.Server(serverSeq, clientSeq, "+OK\r\n");
        serverSeq += 5;
        lively.Idle();
    }
    EXPECT_EQ(lively.engine.table().Slot(ConnectionTable::kSlots - 1)->closedAtMinute, 0);
}

// A client that gives up waiting for a reply closes: its end goes on to the server (numbered after what
// the engine acknowledged in its name), and what was held is given back.
TEST_F(Pop3FrameTest, AClientThatGivesUpMidReplyHasItsEndPassedToTheServer) {
    StartRetrieval();
    driver.Server(kS + 6, kC + 9, "+OK\r\nSubject: hi\r\n");
    auto fin = driver.Client(kC + 9, kS + 6, "", 0x11);
    ASSERT_TRUE(fin.Leaves());
    EXPECT_EQ(fin.LeavingDirection(), kOut);
    EXPECT_EQ(fin.Leaving().flags, 0x11);
    EXPECT_EQ(fin.Leaving().seq, kC + 9);
    EXPECT_EQ(fin.Leaving().ack, kS + 24);
    EXPECT_EQ(Record().phase(), Pop3Phase::Passing);
    EXPECT_EQ(driver.engine.Memory().heldBytes, 0u);
}

TEST_F(Pop3FrameTest, AFullTableLeavesTheNextConnectionAlone) {
    for (uint16_t port = 30000; port < 30100; ++port) {
        driver.Handshake(kC, kS, port);
    }
    EXPECT_EQ(driver.engine.table().Count(), 100u);
    EXPECT_EQ(driver.engine.table().Slot(99)->clientPort, 30000);
    EXPECT_EQ(driver.engine.table().Slot(0)->clientPort, 30099);
    driver.Handshake(kC, kS, 31000);
    driver.Client(kC + 1, kS + 1, "RETR 1\r\n", 0x18, 4000, 31000);
    auto reply = driver.Server(kS + 1, kC + 9, "+OK\r\n.\r\n", 0x18, 6000, 31000);
    EXPECT_FALSE(reply.dropped);
    EXPECT_EQ(reply.direction, kIn);
}

}  // namespace
}  // namespace bramvell::testing

namespace bramvell::testing {
namespace {

class Pop3FrameAnswerTest : public Pop3FrameTest {
  protected:
    // A spam message held and its "DELE 1" sent: the server's answer is due at kS + 42.
    void DeleteSent() {
        StartRetrieval();
        auto last = driver.Server(kS + 6, kC + 9, "+OK\r\nFrom: Eve\r\nSubject: SPAM\r\n\r\n.\r\n");  // 36
        ASSERT_EQ(last.Leaving().payload, "DELE 1\r\n");
    }
    const std::string error =
        "-ERR Filtered by Bramvell - message from Eve has a Spam probability of 87%\r\n";
};

TEST_F(Pop3FrameAnswerTest, ADamagedSegmentIsNeitherHeldNorAcknowledged) {
    StartRetrieval();
    std::vector<uint8_t> damaged = BuildSegment({FrameDriver::kServer,
                                                 FrameDriver::kClient,
                                                 110,
                                                 40000,
                                                 kS + 6,
                                                 kC + 9,
                                                 0x18,
                                                 6000,
                                                 "+OK\r\nabc\r\n",
                                                 {}});
    damaged[damaged.size() - 3] ^= 0x20;
    EXPECT_TRUE(driver.Frame(kIn, damaged).dropped);
    EXPECT_TRUE(Record().held.Empty());
    auto good = driver.Server(kS + 6, kC + 9, "+OK\r\nabc\r\n");
    EXPECT_EQ(good.Leaving().ack, kS + 16);
    EXPECT_EQ(Record().held.Count(), 1u);
}

// What follows the answer's line in its segment keeps its place behind the error line.
TEST_F(Pop3FrameAnswerTest, TheAnswerIsCutByLines) {
    DeleteSent();
    auto answer = driver.Server(kS + 42, kC + 17, "+OK deleted\r\n+OK 2 320\r\n");  // 13 + 11
    EXPECT_EQ(answer.Leaving().payload, error + "+OK 2 320\r\n");
    EXPECT_EQ(answer.Leaving().seq, kS + 6);
    const auto after = static_cast<uint32_t>(kS + 6 + error.size() + 11);
    auto next = driver.Server(kS + 66, kC + 17, "+OK\r\n");
    EXPECT_EQ(next.frame.seq, after);
}

TEST_F(Pop3FrameAnswerTest, AnAnswerSplitAcrossSegmentsIsReplacedWhole) {
    DeleteSent();
    auto first = driver.Server(kS + 42, kC + 17, "+OK del");
    EXPECT_EQ(first.Leaving().payload, error);
    auto rest = driver.Server(kS + 49, kC + 17, "eted\r\n");
    EXPECT_EQ(rest.LeavingDirection(), kOut);  // the engine takes the rest of the line itself
    EXPECT_EQ(rest.Leaving().ack, kS + 55);
    auto ack = driver.Client(kC + 9, static_cast<uint32_t>(kS + 6 + error.size()), "", 0x10);
    EXPECT_EQ(ack.frame.ack, kS + 55);
    auto next = driver.Server(kS + 55, kC + 17, "+OK\r\n");
    EXPECT_EQ(next.frame.seq, static_cast<uint32_t>(kS + 6 + error.size()));
}

}  // namespace
}  // namespace bramvell::testing

namespace bramvell::testing {
namespace {

// The first copy of "RETR 2" never reached the engine, but a later bare acknowledgement did, carrying
// a sequence number past it: the copy sent again is still the retrieval to intercept.
TEST_F(Pop3FrameTest, ARetrievalSentAgainAfterItsFirstCopyWasLostIsIntercepted) {
    driver.Handshake(kC, kS);
    driver.Server(kS + 1, kC + 1, "+OK\r\n");
    EXPECT_TRUE(driver.Client(kC + 9, kS + 6, "", 0x10).frame.valid);  // after "RETR 2\r\n", which was lost
    driver.Client(kC + 1, kS + 6, "RETR 2\r\n");
    auto reply = driver.Server(kS + 6, kC + 9, "+OK\r\nx\r\n.\r\n");
    EXPECT_TRUE(reply.dropped);
    EXPECT_EQ(driver.analyzer.analysed, 1);
}

}  // namespace
}  // namespace bramvell::testing

namespace bramvell::testing {
namespace {

// Before the server has answered, a resent "RETR" may be the only copy it gets; a new command must
// wait until the reply has been dealt with.
TEST_F(Pop3FrameTest, WhileAReplyIsAwaitedOnlyTheResentRetrievalPasses) {
    StartRetrieval();
    auto resent = driver.Client(kC + 1, kS + 6, "RETR 1\r\n");
    EXPECT_FALSE(resent.dropped);
    EXPECT_EQ(resent.frame.seq, kC + 1);
    EXPECT_TRUE(driver.Client(kC + 9, kS + 6, "NOOP\r\n").dropped);
    driver.Server(kS + 6, kC + 9, "+OK\r\nabc\r\n");  // acknowledges the "RETR"
    EXPECT_TRUE(driver.Client(kC + 1, kS + 6, "RETR 1\r\n").dropped);
}

}  // namespace
}  // namespace bramvell::testing
