#pragma once

#include <cstddef>
#include <cstdint>

namespace bramvell {

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

// What one segment says about its sender, as the tracking reads it.
struct SegmentNumbers {
    uint8_t flags = 0;
    uint32_t seq = 0;
    uint32_t ack = 0;
    uint16_t window = 0;
    uint32_t length = 0;  // payload bytes
    bool hasTsVal = false;
    uint32_t tsVal = 0;
};

// One direction of a tracked connection, the client's or the server's: what that side has sent, what
// it acknowledges, and how far it has got with closing. Sequence numbers are in the sender's own view.
struct TcpSide {
    enum class Fin : uint8_t { Open, Sent, Acknowledged };

    uint32_t ack = 0;         // highest acknowledgement this side has sent
    uint32_t window = 0;      // 16-bit wire value that came with that acknowledgement
    uint32_t highestSeq = 0;  // end of everything this side has sent (its FIN included)
    uint32_t tsVal = 0;       // newest TSval seen from this side
    Fin fin = Fin::Open;
    uint32_t finSeq = 0;  // sequence number of this side's FIN
    // This side's sequence number + toPeerOffset = the same byte in the peer's view. Changes only when the
    // engine adds or removes bytes of this side's stream.
    uint32_t toPeerOffset = 0;

    // Liveness, for connections whose end the engine never sees: set by every frame and turned into a
    // time by the idle pass (one store per frame instead of a clock read).
    bool seenSinceCheck = true;
    uint64_t seenTick = 0;

    // Takes in a segment this side sent.
    void Note(const SegmentNumbers& segment);
    // Closing state after a segment this side sent, `peer` being the other side. True when the
    // connection has ended with it (a reset, or both FINs acknowledged). A FIN sent again while the
    // peer's FIN waits for its acknowledgement ends it too when `repeatedFinEnds`.
    bool ApplyClosing(TcpSide& peer, const SegmentNumbers& segment, bool repeatedFinEnds);
};

}  // namespace bramvell
