#pragma once

#include <cstdint>

#include "engine/Pop3Handler.h"

namespace bramvell {

class FilterSettings;
class MessageTarget;

inline constexpr uint16_t kMessengerPort = 135;
inline constexpr uint16_t kMessengerFirstAlternatePort = 1025;
inline constexpr uint16_t kMessengerLastAlternatePort = 1029;
inline constexpr uint16_t kNameServerPort = 53;

// A Messenger Service popup: to port 135, or to 1025..1029 from any port but a name server's.
bool IsMessengerDatagram(uint16_t sourcePort, uint16_t destinationPort);

// Every inbound UDP frame: with "Block Windows Messenger Service popups" on, a Messenger datagram is
// dropped and reported with WM_POPUP_BLOCKED. The frame must have parsed as UDP.
void OnInboundDatagram(FrameContext& frame, const FilterSettings& settings, MessageTarget& target);

}  // namespace bramvell
