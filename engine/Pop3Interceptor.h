#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "config/Clock.h"
#include "engine/ConnectionTable.h"
#include "engine/KeyState.h"
#include "engine/MessageAnalyzer.h"
#include "engine/OwnFrames.h"
#include "engine/Pop3Commands.h"
#include "engine/Pop3Handler.h"
#include "engine/Pop3Limits.h"
#include "engine/ReplayToClient.h"
#include "engine/TickClock.h"

namespace bramvell {

class FilterSettings;
class MessageTarget;

// POP3 interception: tracks connections to port 110, holds back the reply to each "RETR", has the
// message analysed, then replays it to the client or deletes it on the server and answers the client
// with an error line. Sequence numbers of both streams are translated so that each side keeps a
// consistent view; what the engine alone must deliver (the replay, the injected command) is paced by
// the receiver's window and sent again until acknowledged. While the filter option is off it takes up no
// new connection and holds no new reply, but goes on translating, replaying and finishing for the
// connections it already tracks (their numbers have moved and would otherwise no longer fit).
class Pop3Interceptor final : public Pop3Handler {
  public:
    using Limits = Pop3Limits;

    // target hears of every classified message (WM_MAIL_CLASSIFIED); it must outlive the interceptor.
    Pop3Interceptor(FilterSettings& settings, MessageAnalyzer& analyzer, KeyState& keys,
                    MessageTarget& target, const Clock& clock = DefaultClock(),
                    const TickClock& ticks = DefaultTickClock());

    void OnClientSegment(FrameContext& frame) override;
    void OnServerSegment(FrameContext& frame) override;
    void SweepClosedConnections() override;
    void OnIdle(PacketSource& source, AdapterHandle adapter) override;
    void FreeAll() override;
    void BeginStopping() override;
    bool Finishing() override;
    void ResetUnfinished(PacketSource& source, AdapterHandle adapter) override;

    // Carries out the verdict on a collected message; the buffer holds the message's last segment,
    // whose acknowledgement has gone to the server already.
    void OnMessageClassified(Pop3Connection& connection, const MessageVerdict& verdict, FrameContext& frame);

    void SetLimits(const Limits& limits) {
        limits_ = limits;
        pool_.SetMaxBlocks(limits.keptBlocks);
    }
    const ConnectionTable& table() const { return table_; }

    // What the engine holds right now: tracked connections, blocks of held frames in their records and
    // kept in the pool, and the payload bytes held. Read on the filter thread (diagnostics and tests).
    struct MemoryUse {
        std::size_t connections = 0;
        std::size_t heldBlocks = 0;
        std::size_t pooledBlocks = 0;
        std::size_t heldBytes = 0;
    };
    MemoryUse Memory() const;

  private:
    // Per phase, the handling of a client segment that is neither a SYN nor a reset.
    void ClientWhileCollecting(Pop3Connection& connection, FrameContext& frame);
    void ClientAfterErrorReply(Pop3Connection& connection, FrameContext& frame);
    // A client segment once a replay was under way; true when it has been dealt with.
    bool ClientAfterReplay(Pop3Connection& connection, FrameContext& frame);
    // Per phase, the handling of a server segment.
    void ServerWhilePassing(Pop3Connection& connection, FrameContext& frame);
    void CollectReplySegment(Pop3Connection& connection, FrameContext& frame);
    void OnInjectedCommandAnswer(Pop3Connection& connection, FrameContext& frame);
    void OnServerSegmentAfterErrorReply(Pop3Connection& connection, FrameContext& frame);

    void ServerWhileQuitting(Pop3Connection& connection, FrameContext& frame);

    // Tracking.
    void OnClientSyn(FrameContext& frame);
    void OnServerSynAck(FrameContext& frame);
    Pop3Connection* Track(Pop3Connection* connection);

    // Commands, one at a time. Takes the new bytes of a client segment: true when the segment is one
    // whole command that may go on as it is; otherwise its new bytes are queued and the segment keeps
    // only what had gone on before.
    bool TakeClientData(Pop3Connection& connection, FrameContext& frame);
    // The server is done with the last command and nothing the engine must deliver is under way.
    static bool ReadyForCommand(const Pop3Connection& connection);
    // Notes a command line that has gone to the server: a retrieval starts collecting its reply.
    void OnCommandForwarded(Pop3Connection& connection, const CommandLine& command);
    // Sends the next queued command when the server is ready for it, or the client's held end.
    void ReleaseQueuedCommand(Pop3Connection& connection, FrameContext& frame, bool modelFromServer);
    // Sends bytes to the server after what the client's stream has passed on; `engineBytes` when they
    // are the engine's own (a "DELE" or "QUIT" the client never sent), not the client's queued ones.
    void SendOwnCommand(Pop3Connection& connection, std::span<const uint8_t> model, const FrameLayout& layout,
                        bool modelFromServer, PacketSource& source, AdapterHandle adapter,
                        std::span<const uint8_t> bytes, uint8_t flags, bool engineBytes);
    // The client's "DELE" of a message the engine deleted in its name already: answered "+OK" by the
    // engine instead of the server. True when it was.
    bool AnswerDeletedAgain(Pop3Connection& connection, std::span<const uint8_t> model,
                            const FrameLayout& layout, bool modelFromServer, PacketSource& source,
                            AdapterHandle adapter, std::size_t lineLength, const CommandLine& command);
    // A "DELE" went out in the client's name and its own "QUIT" has not.
    static bool NeedsQuit(const Pop3Connection& connection) {
        return connection.deletedForClient && !connection.quitForwarded;
    }
    void OnClientReset(Pop3Connection& connection, FrameContext& frame);
    // The client's end (held in heldEnd) goes to the server, after a "QUIT" when a deletion needs one.
    void EndClientStream(Pop3Connection& connection, FrameContext& frame, bool modelFromServer);
    void StartQuit(Pop3Connection& connection, FrameContext& frame, bool modelFromServer);
    void FinishQuit(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter);
    // Reads a passing server segment's bytes for the ends of replies; false when it lies beyond a gap
    // while a reply is awaited (it is dropped and sent again by the server).
    bool FollowPassingReply(Pop3Connection& connection, const TcpFrame& tcp);
    // A held reply given up on: the scanner follows the rest of it.
    static void HandHeldReplyToScanner(Pop3Connection& connection);
    void OnCommandTimers(Pop3Connection& connection, uint64_t now, PacketSource& source,
                         AdapterHandle adapter);
    // Answers the server segment in the buffer with the client's acknowledgement of `ack` (a frame of
    // the engine's own); the segment itself goes no further.
    void AcknowledgeToServer(Pop3Connection& connection, FrameContext& frame, uint32_t ack);
    // The client's acknowledgement of `ack`, made from a server segment's headers, with the window the
    // engine offers (its own while it holds a reply, else the client's).
    void SendAcknowledgement(Pop3Connection& connection, std::span<const uint8_t> serverSegment,
                             const FrameLayout& layout, PacketSource& source, AdapterHandle adapter,
                             uint32_t ack);

    // Collecting.
    void FinishCollecting(Pop3Connection& connection, FrameContext& frame);
    // Holds the in-order bytes of the server segment in the buffer (trimmed of what is held already);
    // false when it was dealt with otherwise (dropped, or the reply given up on).
    bool HoldInOrder(Pop3Connection& connection, FrameContext& frame);
    // After new bytes were held and acknowledged: the end of the reply, an early verdict, the stream on.
    void AfterHolding(Pop3Connection& connection, FrameContext& frame);
    // A reply past the early-verdict size is judged on what is held; good mail then streams on.
    void JudgeOnStart(Pop3Connection& connection, FrameContext& frame);
    // A segment of spam judged early that no longer fits under the cap: acknowledged, not kept.
    void TakeWithoutKeeping(Pop3Connection& connection, FrameContext& frame, bool verified);
    // Streaming: has the renamer read the lines of the segments held since, and lets go to the client
    // every segment whose lines have all ended (all of them once the reply is complete).
    void RenameStreamedLines(Pop3Connection& connection, bool replyComplete);
    // Bytes the engine takes beyond what the client has acknowledged of the reply it holds.
    std::size_t HoldingBudget() const;
    // While streaming: tells the server of the room the client's acknowledgements have made.
    void OfferWindowToServer(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter);
    // Hands the held reply to the client unchanged, without a verdict.
    void ReleaseHeld(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter);

    // Verdict actions.
    void ReplaceAnswerWithErrorReply(Pop3Connection& connection, FrameContext& frame);
    void OnInjectedTimer(Pop3Connection& connection, uint64_t now, PacketSource& source,
                         AdapterHandle adapter);

    // Housekeeping.
    // Notes which sides were heard from since the last idle pass; true when one has been quiet too long.
    bool IsStale(Pop3Connection& connection, uint64_t now) const;
    // Stops whatever the engine does for the connection and gives back what it holds.
    void Abandon(Pop3Connection& connection);
    void StampClosed(Pop3Connection& connection);
    // Something the engine alone can finish is under way on the connection.
    static bool Unfinished(const Pop3Connection& connection);
    // Resets the connection toward the client (in the server's name) and toward the server.
    void ResetBothEnds(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter);
    void Log(std::string_view text) const;

    FilterSettings& settings_;
    MessageAnalyzer& analyzer_;
    KeyState& keys_;
    MessageTarget& target_;
    const Clock& clock_;
    const TickClock& ticks_;
    Limits limits_;
    SegmentBlockPool pool_;  // before the table: its records give their blocks back to it
    ConnectionTable table_;
    // Per client port, what its SYN offered: window shift + 1 (0 = none), and kSynOfferedSack.
    std::vector<uint8_t> synOptions_;
    static constexpr uint8_t kSynOfferedSack = 0x80;
    static constexpr uint8_t kSynWindowScaleMask = 0x7F;
    OwnFrames ownFrames_;
    ReplayToClient replay_{ticks_, limits_, ownFrames_};
    uint64_t lastHoldTick_ = 0;
    bool stopping_ = false;  // no new retrieval is taken
    uint64_t stopDeadline_ = 0;
};

}  // namespace bramvell
