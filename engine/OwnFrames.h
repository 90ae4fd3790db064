#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "engine/Frame.h"
#include "engine/PacketBuffer.h"
#include "engine/TcpOptions.h"

namespace bramvell {

struct Pop3Connection;

// What a frame to the client in the server's name carries beyond its model's headers.
struct ToClientFields {
    uint32_t seq = 0;
    uint32_t ack = 0;
    uint8_t flags = 0;
    std::optional<uint16_t> window;           // unset: the model's
    std::optional<TcpTimestamps> timestamps;  // unset: the model's
};

// Builds the frames the engine sends on its own (the acknowledgement and the command it sends to the
// server in the client's name, the error reply and the window probe it sends to the client in the
// server's name) in a buffer of its own, from the headers of a frame at hand. The packet loop's buffer
// is never rewritten into one of them. Each call overwrites the frame the previous one built.
class OwnFrames {
  public:
    // The client's segment to the server, made from a server segment's headers: ends swapped, only the
    // timestamp option kept (TSval the client's newest, which the server checks against PAWS, TSecr the
    // server's), numbered as the server expects the client's next byte, advertising `window`; a bare
    // acknowledgement also carries the SACK blocks given, as many as fit.
    const PacketBuffer& ToServer(std::span<const uint8_t> serverSegment, const FrameLayout& layout,
                                 const Pop3Connection& connection, uint32_t ack, uint8_t flags,
                                 uint16_t window, std::string_view payload = {},
                                 std::span<const SackBlock> sack = {});
    // Client bytes (a command) to the server, made from either side's segment (`modelFromServer` says
    // which), numbered `seq` in the server's view, acknowledging `ack`.
    const PacketBuffer& CommandToServer(std::span<const uint8_t> model, const FrameLayout& layout,
                                        bool modelFromServer, const Pop3Connection& connection, uint32_t seq,
                                        uint32_t ack, uint8_t flags, std::span<const uint8_t> payload);
    // The end of the client's stream (FIN or RST) right after a command frame the engine sent before.
    const PacketBuffer& EndAfter(std::span<const uint8_t> commandFrame, const FrameLayout& layout,
                                 uint32_t seq, uint32_t ack, uint8_t flags);
    // An answer to the client in the server's name, made from either side's segment.
    const PacketBuffer& AnswerToClient(std::span<const uint8_t> model, const FrameLayout& layout,
                                       bool modelFromServer, const Pop3Connection& connection, uint32_t seq,
                                       uint32_t ack, std::span<const uint8_t> payload);
    // A segment to the client in the server's name, made from the headers of `model` (a server
    // segment or a held copy of one); the payload is `first` followed by `second`.
    const PacketBuffer& ToClient(std::span<const uint8_t> model, const FrameLayout& layout,
                                 const ToClientFields& fields, std::span<const uint8_t> first = {},
                                 std::span<const uint8_t> second = {});
    // A frame kept elsewhere, put into the buffer as it is (a command sent again).
    const PacketBuffer& Copy(std::span<const uint8_t> frame, PacketDirection direction);

    // Largest payload a frame with these headers can carry.
    static std::size_t PayloadCapacity(const FrameLayout& layout) {
        return kMaxFrameLength - layout.payloadOffset;
    }
    const FrameLayout& layout() const { return layout_; }

  private:
    // Copies the model's headers, without its payload.
    void TakeHeaders(std::span<const uint8_t> model, const FrameLayout& layout);

    PacketBuffer buffer_;
    FrameLayout layout_;
};

}  // namespace bramvell
