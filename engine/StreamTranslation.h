#pragma once

#include <cstdint>

#include "engine/Pop3Connection.h"
#include "engine/Pop3Handler.h"

namespace bramvell {

// Numbering between the two views of a tracked connection: each side keeps the sequence space it
// knows, and the engine moves numbers across by the per-direction offsets.

// The client's acknowledgement in the server's view, never beyond what the server has sent.
uint32_t ClientAckToServer(const Pop3Connection& connection, uint32_t ack);
// The server's acknowledgement in the client's view, never beyond what the client has sent.
uint32_t ServerAckToClient(const Pop3Connection& connection, uint32_t ack);
// The client window in bytes (its SYN's scale applied), capped at 1 GiB.
uint32_t ClientWindowBytes(const Pop3Connection& connection);

// Rewrites a client segment in the buffer into the server's view, and notes what it passes on.
void TranslateClientSegment(Pop3Connection& connection, FrameContext& frame);
// Rewrites a server segment in the buffer into the client's view.
void TranslateServerSegment(const Pop3Connection& connection, FrameContext& frame);

}  // namespace bramvell
