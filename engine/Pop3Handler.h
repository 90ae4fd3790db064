#pragma once

#include "engine/Frame.h"
#include "engine/PacketBuffer.h"
#include "engine/PacketSource.h"

namespace bramvell {

// One frame in the packet loop's hands: the thread's buffer, its parsed headers, and the drop mark.
// A handler may rewrite the frame in place, change buffer.deviceFlags (the frame then leaves in the other
// direction), set dropMark, or emit frames of its own through source/adapter.
struct FrameContext {
    PacketBuffer& buffer;
    FrameLayout& layout;
    bool& dropMark;
    PacketSource& source;
    AdapterHandle adapter;
};

// The POP3 side of the packet loop (connection tracking, collecting, verdict actions).
class Pop3Handler {
  public:
    virtual ~Pop3Handler() = default;
    // Outbound TCP frame to port 110.
    virtual void OnClientSegment(FrameContext& frame) = 0;
    // Inbound TCP frame from port 110.
    virtual void OnServerSegment(FrameContext& frame) = 0;
    // After each packet-event signal, before draining.
    virtual void SweepClosedConnections() = 0;
    // Once per loop turn, signalled or not (timers such as retransmission of replayed data).
    virtual void OnIdle(PacketSource& source, AdapterHandle adapter) = 0;
    // The loop has been asked to stop: from now on no new retrieval is taken.
    virtual void BeginStopping() {}
    // While stopping: true as long as something the handler holds may still be finished (a replay, a
    // collection, an answer awaited) and the grace time has not run out.
    virtual bool Finishing() { return false; }
    // The last step before the loop ends: connections that could not be finished, or whose numbers no
    // longer match without the handler, are reset toward both ends so that the client fails at once.
    virtual void ResetUnfinished(PacketSource& /*source*/, AdapterHandle /*adapter*/) {}
    // When the loop ends: free every record and held segment.
    virtual void FreeAll() = 0;
};

}  // namespace bramvell
