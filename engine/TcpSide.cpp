#include "engine/TcpSide.h"

#include "engine/Frame.h"

namespace bramvell {

using namespace tcp_flags;

void TcpSide::Note(const SegmentNumbers& segment) {
    // The window counts from the segment's own acknowledgement: one that a later segment overtook would
    // move the right edge beyond what this side offers.
    if ((segment.flags & kAck) != 0 && !SeqBefore(segment.ack, ack)) {
        ack = segment.ack;
        window = segment.window;
    }
    if (segment.hasTsVal && SeqAfter(segment.tsVal, tsVal)) {
        tsVal = segment.tsVal;
    }
    const uint32_t end = segment.seq + segment.length + ((segment.flags & kFin) != 0 ? 1 : 0);
    if (SeqAfter(end, highestSeq)) {
        highestSeq = end;
    }
}

bool TcpSide::ApplyClosing(TcpSide& peer, const SegmentNumbers& segment, bool repeatedFinEnds) {
    if ((segment.flags & kRst) != 0) {
        return true;
    }
    bool ended = false;
    if ((segment.flags & kFin) != 0) {
        if (fin == Fin::Open) {
            fin = Fin::Sent;
            finSeq = segment.seq + segment.length;
        } else if (repeatedFinEnds && peer.fin == Fin::Sent) {
            ended = true;
        }
    }
    // The peer's FIN is acknowledged once this side's acknowledgement covers it (in this side's view).
    if ((segment.flags & kAck) != 0 && peer.fin == Fin::Sent &&
        !SeqBefore(segment.ack, peer.finSeq + peer.toPeerOffset + 1)) {
        peer.fin = Fin::Acknowledged;
        if (fin == Fin::Acknowledged) {
            ended = true;
        }
    }
    return ended;
}

}  // namespace bramvell
