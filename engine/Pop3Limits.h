#pragma once

#include <cstddef>
#include <cstdint>

namespace bramvell {

// Bounds and timings of POP3 interception.
struct Pop3Limits {
    std::size_t maxHeldBytes = 64u << 20;  // payload bytes of one message
    std::size_t maxHeldSegments = 65536;
    std::size_t maxReplayInFlight = 256u << 10;
    uint32_t initialTimeoutMs = 300;
    uint32_t maxTimeoutMs = 8000;
    int maxTimeouts = 15;  // then the peer is taken for gone
    // Memory kept for the next message once one has been dealt with, given back after a quiet spell.
    std::size_t keptBlocks = 64;  // of 256 KiB
    uint64_t keepBlocksMs = 30000;
    // A connection one side of which has sent nothing this long is taken for gone (a live peer
    // acknowledges what it gets, and any POP3 server logs out an idle client long before): what it
    // holds is given back and the record closed.
    // A client that leaves without "QUIT" after a deletion: how long its end waits for the answer to the
    // "QUIT" the engine sends.
    uint64_t quitAnswerWaitMs = 2000;
    // A queued command waits for the end of the reply before it at most this long after the server went
    // quiet (a reply of a shape the engine did not expect).
    uint64_t unfollowedReplyMs = 10000;
    uint64_t staleAfterMs = 30 * 60 * 1000;
    // On a stop request, how long replays, collections and awaited answers are given to finish before
    // their connections are reset.
    uint64_t stopGraceMs = 3000;
};

}  // namespace bramvell
