#pragma once

#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/CommandQueue.h"
#include "engine/HeldReply.h"
#include "engine/IpAddress.h"
#include "engine/MessageVerdict.h"
#include "engine/OutOfOrderSegments.h"
#include "engine/ReplyScanner.h"
#include "engine/RoundTripEstimate.h"
#include "engine/TcpSide.h"

namespace bramvell {

inline constexpr uint16_t kPop3Port = 110;
inline constexpr std::size_t kRetrArgumentCapacity = 8;  // 7 characters and the terminator

// Where a connection stands with the one retrieval the engine deals with at a time.
enum class Pop3Phase : uint8_t {
    Passing,               // frames are translated and passed on
    Collecting,            // the reply to a "RETR" is held and acknowledged in the client's name
    Streaming,             // judged good on its start: held and acknowledged as it comes, replayed at once
    AwaitingAnswer,        // a command went to the server in the client's name; its answer is awaited
    DeliveringErrorReply,  // the error line that replaces that answer is on its way to the client
    ErrorReplyDelivered,   // the client has it (or is given up on); the rest of the answer is still cut
    Replaying,             // the held reply is on its way to the client
    Quitting,              // the client left without "QUIT" after a deletion: "QUIT" went to the server
};

// The phases a connection may enter from `from`: each step of a retrieval follows the one before it, and
// any phase may fall back to passing (the retrieval done, released or abandoned).
constexpr bool PhaseMayFollow(Pop3Phase from, Pop3Phase to) {
    switch (to) {
        case Pop3Phase::Passing:
            return true;
        case Pop3Phase::Collecting:
        case Pop3Phase::Quitting:
            return from == Pop3Phase::Passing;
        case Pop3Phase::Streaming:
            return from == Pop3Phase::Collecting;
        case Pop3Phase::Replaying:
            return from == Pop3Phase::Passing || from == Pop3Phase::Streaming;
        case Pop3Phase::AwaitingAnswer:
            return from == Pop3Phase::Collecting;
        case Pop3Phase::DeliveringErrorReply:
            return from == Pop3Phase::AwaitingAnswer;
        case Pop3Phase::ErrorReplyDelivered:
            return from == Pop3Phase::DeliveringErrorReply;
    }
    return false;
}

// Delivery of frames to the client that the engine alone is responsible for (the held reply after a
// good verdict, the error reply after a spam verdict): paced by the client's window, resent on timeout.
struct ReplayState {
    std::size_t firstUnacked = 0;  // index into the held segments
    std::size_t nextToSend = 0;
    uint64_t lastSendTick = 0;
    uint32_t timeoutMs = 0;
    int timeouts = 0;
    int duplicateAcks = 0;
    uint32_t lastAck = 0;  // client view, highest acknowledgement seen
    uint16_t lastWindow = 0;
};

// A command the engine sent to the server on its own ("DELE n", "NOOP", "QUIT", or a client's command
// it had queued), kept so that it can be sent again until the server acknowledges it.
struct InjectedCommand {
    std::vector<uint8_t> frame;  // the whole frame, allocated once per connection
    FrameLayout layout;
    uint32_t endSeq = 0;  // server view, after the command's bytes
    uint64_t lastSendTick = 0;
    uint32_t timeoutMs = 0;
    int timeouts = 0;
    bool pending = false;  // not yet acknowledged by the server
};

// The server's answer to the injected command, which the client never sees: the error reply takes the
// place of its first line.
struct ReplacedAnswer {
    uint32_t answerSeq = 0;       // server view, first byte of the answer
    uint32_t errorClientSeq = 0;  // client view, first byte of the error reply
    bool lineOpen = false;        // the answer's line has not ended yet: swallow up to its LF
    uint32_t cursor = 0;          // server view, next answer byte to swallow
};

// One tracked POP3 connection: its key, each side's stream, and the retrieval under way.
struct Pop3Connection {
    uint16_t clientPort = 0;
    // Addresses complete the key: the same client port may serve connections to different servers.
    IpAddress clientAddress;
    IpAddress serverAddress;
    uint32_t serverIsn = 0;
    int32_t closedAtMinute = 0;

    TcpSide client;
    TcpSide server;
    bool timestamps = false;
    bool sack = false;  // both ends agreed on selective acknowledgements
    uint8_t clientWindowScale = 0;
    uint32_t clientForwardedSeq = 0;  // client view: end of the client's data passed on to the server
    uint32_t serverAckEdge = 0;       // server view: highest acknowledgement the server has been sent
    uint32_t engineAckEdge = 0;       // server view: highest acknowledgement the engine sent on its own
    bool engineAcknowledged = false;  // the engine has acknowledged server data in the client's name
    uint16_t lastWindowToServer = 0;

    // The retrieval.
    std::array<char, kRetrArgumentCapacity> retrArgument{};
    uint32_t expectedSeq = 0;    // server view, next reply byte to hold
    uint32_t replyStartSeq = 0;  // server view, first byte of the reply
    HeldReply held;
    OutOfOrderSegments outOfOrder;  // server segments of the reply that arrived beyond a gap
    ReplayState replay;
    RoundTripEstimate clientRoundTrip;  // of the replay's segments to the client and their acknowledgements
    int32_t replayedPending = 0;        // held segments the client has not acknowledged yet
    InjectedCommand injected;
    ReplacedAnswer answer;
    MessageVerdict verdict;  // of the last message analysed, for its error reply
    // A reply streamed after an early verdict goes to the client a line at a time, so that attachment
    // renaming can still change its lines: held segments from streamSendable on wait for the end of their
    // last line; streamRenameFrom is the first segment whose lines the renamer has yet to read.
    std::size_t streamSendable = static_cast<std::size_t>(-1);
    std::size_t streamRenameFrom = 0;
    bool judgedEarly = false;  // the reply being held was judged on its start (verdict holds the result)
    bool replyCut = false;     // spam judged early grew past the cap: the rest was taken but not kept
    std::string spamAnswer;    // what the client gets in place of that message when it was spam

    // Commands and replies.
    CommandQueue commands;          // client view: starts at clientForwardedSeq
    ReplyScanner replies;           // server view
    bool opaque = false;            // the stream is no longer POP3 the engine can read (TLS after "STLS")
    bool deletedForClient = false;  // a "DELE" went to the server in the client's name
    bool quitForwarded = false;     // the client's own "QUIT" went to the server
    // Messages deleted in the client's name: its own "DELE" of one is answered by the engine (the
    // server would refuse it, and some clients end the session on that).
    std::vector<std::array<char, kRetrArgumentCapacity>> deletedNumbers;
    uint8_t heldEnd = 0;                // the client's FIN or RST, kept until the server is done
    uint64_t quitDeadline = 0;          // tick: the end goes on then even without the answer to "QUIT"
    uint64_t commandsWaitingSince = 0;  // tick: a queued command began to wait for the server
    // Headers of the server's SYN-ACK, for the resets a stop may send when no other frame is at hand.
    std::vector<uint8_t> serverModel;
    FrameLayout serverModelLayout;
    // Headers of the client's last queued segment, for sending a queued command when no frame is at hand.
    std::vector<uint8_t> clientModel;
    FrameLayout clientModelLayout;

    Pop3Phase phase() const { return phase_; }
    // The one place the phase changes. A step out of order is a fault in the engine, not in the traffic.
    // A step out of order is a fault of the engine, never of the traffic: debug builds (the tests,
    // the sanitizer runs, the fuzzers) stop on it; a release build takes the step rather than end the
    // filter thread and every connection it holds.
    void EnterPhase(Pop3Phase next) {
        assert(PhaseMayFollow(phase_, next) && "POP3 connection phase out of order");
        phase_ = next;
    }
    // The engine is sending held frames to the client (the reply or the error reply).
    bool Replaying() const {
        return phase_ == Pop3Phase::Replaying || phase_ == Pop3Phase::DeliveringErrorReply ||
               phase_ == Pop3Phase::Streaming;
    }
    // The engine takes the server's reply in the client's name (and chooses the window it offers).
    bool Holding() const { return phase_ == Pop3Phase::Collecting || phase_ == Pop3Phase::Streaming; }

  private:
    Pop3Phase phase_ = Pop3Phase::Passing;
};

}  // namespace bramvell
