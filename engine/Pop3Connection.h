#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/HeldSegment.h"
#include "engine/PacketBuffer.h"

namespace bramvell {

inline constexpr uint16_t kPop3Port = 110;
inline constexpr std::size_t kRetrArgumentCapacity = 8;  // 7 characters and the terminator
inline constexpr std::size_t kSenderCapacity = 80;       // 79 characters and the terminator

// Sequence-space comparisons modulo 2^32.
inline bool SeqBefore(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) < 0;
}
inline bool SeqAfter(uint32_t a, uint32_t b) {
    return static_cast<int32_t>(a - b) > 0;
}
inline uint32_t SeqMax(uint32_t a, uint32_t b) {
    return SeqAfter(a, b) ? a : b;
}

// Delivery of frames to the client that the engine alone is responsible for (the held reply after a
// good verdict, the error reply after a spam verdict): paced by the client's window, resent on timeout.
struct ReplayState {
    bool active = false;
    std::size_t firstUnacked = 0;  // index into heldSegments
    std::size_t nextToSend = 0;
    uint32_t endSeq = 0;  // client view, end of the last held segment
    uint64_t lastSendTick = 0;
    uint32_t timeoutMs = 0;
    int timeouts = 0;
    int duplicateAcks = 0;
    uint32_t lastAck = 0;  // client view, highest acknowledgement seen
    uint16_t lastWindow = 0;
};

// A command the engine sent to the server in the client's name ("DELE n" or "NOOP"), kept so that it
// can be sent again until the server acknowledges it.
struct InjectedCommand {
    std::vector<uint8_t> frame;  // the whole frame, allocated once per connection
    uint32_t endSeq = 0;         // server view, after the command's bytes
    uint64_t lastSendTick = 0;
    uint32_t timeoutMs = 0;
    int timeouts = 0;
    bool pending = false;  // not yet acknowledged by the server
};

// One tracked POP3 connection. The first group of fields is the record the tracking rules are written
// in; the second keeps each side's stream consistent for real TCP peers.
struct Pop3Connection {
    uint16_t clientPort = 0;
    uint16_t serverPort = kPop3Port;
    int32_t clientFinState = 0;  // 0 open, 1 FIN sent, 2 FIN acknowledged
    uint32_t clientNextSeq = 0;
    uint32_t serverAck = 0;
    uint32_t clientWindow = 0;  // 16-bit wire value
    int32_t serverFinState = 0;
    uint32_t clientAck = 0;
    uint32_t serverNextSeq = 0;
    uint32_t serverWindow = 0;  // 16-bit wire value
    uint32_t expectedSeq = 0;
    uint32_t segmentSeq = 0;
    int32_t replayedPending = 0;
    uint8_t collecting = 0;
    uint8_t deleteSent = 0;
    uint8_t errorSent = 0;
    uint8_t translating = 0;
    std::array<char, kRetrArgumentCapacity> retrArgument{};
    std::vector<HeldSegment> heldSegments;
    int32_t closedAtMinute = 0;
    std::array<char, kSenderCapacity> sender{};
    std::array<char, 2> probabilityText{'?', '?'};

    // Addresses complete the key: the same client port may serve connections to different servers.
    uint32_t clientAddress = 0;
    uint32_t serverAddress = 0;
    uint32_t serverIsn = 0;

    // Translation: server-view seq = client seq + clientToServerOffset; client-view seq = server seq +
    // serverToClientOffset. They change only when the engine adds or removes bytes of a stream.
    uint32_t clientToServerOffset = 0;
    uint32_t serverToClientOffset = 0;
    uint32_t clientHighestSeq = 0;    // client view: end of everything the client has sent
    uint32_t clientForwardedSeq = 0;  // client view: end of the client's data passed on to the server
    uint32_t serverHighestSeq = 0;    // server view: end of everything the server has sent
    uint32_t serverAckEdge = 0;       // server view: highest acknowledgement the server has been sent
    uint32_t engineAckEdge = 0;       // server view: highest acknowledgement the engine sent on its own
    uint32_t clientFinSeq = 0;        // client view, sequence number of the client's FIN
    uint32_t serverFinSeq = 0;        // server view, sequence number of the server's FIN

    // Liveness, for connections whose end the engine never sees: each side's flag is set by its frames
    // and turned into a time by the idle pass (one store per frame instead of a clock read).
    bool clientSeenSinceCheck = true;
    bool serverSeenSinceCheck = true;
    uint64_t clientSeenTick = 0;
    uint64_t serverSeenTick = 0;

    bool timestamps = false;
    uint32_t clientTsVal = 0;
    uint32_t serverTsVal = 0;
    uint8_t clientWindowScale = 0;
    uint16_t lastWindowToServer = 0;

    // The reply being collected.
    SegmentStore store;
    std::size_t heldBytes = 0;
    std::array<uint8_t, 5> heldTail{};  // last bytes of the held reply, newest last
    std::size_t heldTailLength = 0;
    uint32_t replyStartSeq = 0;     // server view, first byte of the reply
    bool replyIsMultiLine = false;  // the status line starts with '+': the reply ends with a "." line
    bool statusLineEnded = false;

    ReplayState replay;
    InjectedCommand injected;

    // The error reply that replaces the server's answer to the injected command.
    uint32_t answerSeq = 0;       // server view, first byte of the answer
    uint32_t errorClientSeq = 0;  // client view, first byte of the error reply
    bool answerLineOpen = false;  // the answer's line has not ended yet: swallow up to its LF
    uint32_t answerCursor = 0;    // server view, next answer byte to swallow
};

}  // namespace bramvell
