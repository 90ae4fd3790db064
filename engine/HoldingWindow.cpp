#include "engine/HoldingWindow.h"

#include <algorithm>

#include "engine/StreamTranslation.h"

namespace bramvell {

namespace {

constexpr uint64_t kMaxWireWindow = 0xFFFF;

}  // namespace

uint16_t HoldingWindowToServer(const Pop3Connection& connection, std::size_t budget,
                               std::size_t maxHeldBytes) {
    uint32_t delivered = connection.replyStartSeq;
    if (connection.phase() == Pop3Phase::Streaming) {
        delivered = SeqMax(ClientAckToServer(connection, connection.client.ack), delivered);
    }
    const uint64_t outstanding =
        SeqAfter(connection.expectedSeq, delivered) ? connection.expectedSeq - delivered : 0;
    uint64_t bytes = outstanding < budget ? budget - outstanding : 0;
    bytes = std::max<uint64_t>(bytes, ClientWindowBytes(connection));
    const std::size_t held = connection.held.PayloadBytes();
    bytes = std::min<uint64_t>(bytes, maxHeldBytes > held ? maxHeldBytes - held : 0);
    return static_cast<uint16_t>(std::min(kMaxWireWindow, bytes >> connection.clientWindowScale));
}

}  // namespace bramvell
