#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/Frame.h"
#include "engine/OwnFrames.h"
#include "engine/PacketSource.h"
#include "engine/Pop3Connection.h"
#include "engine/Pop3Limits.h"
#include "engine/TickClock.h"

namespace bramvell {

// Delivery to the client of what only the engine can send (the held reply after a good verdict, the
// error reply after a spam verdict): the server has long had its acknowledgements, so these frames are
// paced by the client's window and sent again until the client acknowledges them.
class ReplayToClient {
  public:
    ReplayToClient(const TickClock& ticks, const Pop3Limits& limits, OwnFrames& frames)
        : ticks_(ticks), limits_(limits), frames_(frames) {}

    // Both replays start here: the connection enters `phase` with `alreadySent` held segments on their
    // way, `windowSeen` being the client window last seen.
    void Begin(Pop3Connection& connection, Pop3Phase phase, std::size_t alreadySent, uint16_t windowSeen);
    // Replays the held reply (nothing when none is held): numbers it in the client's view and sends what
    // the window allows.
    // `phase` is Streaming when more of the reply is still to come (it is held and sent as it comes).
    void Start(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter,
               Pop3Phase phase = Pop3Phase::Replaying);
    // Sends what the client's window allows of segments held since (a streamed reply).
    void SendMore(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter) {
        SendWindow(connection, source, adapter);
    }
    // Sends one held segment with the client's current numbers.
    void SendHeld(const Pop3Connection& connection, const HeldSegment& held, PacketSource& source,
                  AdapterHandle adapter);
    // A client segment carrying an acknowledgement while a replay is under way.
    void OnAck(Pop3Connection& connection, const TcpFrame& tcp, PacketSource& source, AdapterHandle adapter);
    // Resends after a timeout; true when the client is taken for gone (the replay then stops).
    bool OnTimer(Pop3Connection& connection, uint64_t now, PacketSource& source, AdapterHandle adapter);
    // Ends the replay under way and gives back what it held.
    void Stop(Pop3Connection& connection);

  private:
    void SendWindow(Pop3Connection& connection, PacketSource& source, AdapterHandle adapter);
    void SendProbe(const Pop3Connection& connection, PacketSource& source, AdapterHandle adapter);

    const TickClock& ticks_;
    const Pop3Limits& limits_;
    OwnFrames& frames_;
};

}  // namespace bramvell
