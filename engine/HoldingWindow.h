#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/Pop3Connection.h"

namespace bramvell {

// The window the engine offers the server, in the client's name, while it takes a reply itself
// (collecting, or streaming a reply judged on its start). The engine is then the receiver: it offers
// `budget` bytes beyond what the client has acknowledged of the reply, at least the client's own window,
// never more than the memory cap leaves, as a 16-bit wire value in the client's SYN scale.
uint16_t HoldingWindowToServer(const Pop3Connection& connection, std::size_t budget,
                               std::size_t maxHeldBytes);

}  // namespace bramvell
