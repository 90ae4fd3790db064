#include "engine/DatagramFilter.h"

#include "config/FilterSettings.h"
#include "engine/MessageTarget.h"

namespace bramvell {

bool IsMessengerDatagram(uint16_t sourcePort, uint16_t destinationPort) {
    if (destinationPort == kMessengerPort) {
        return true;
    }
    return destinationPort >= kMessengerFirstAlternatePort &&
           destinationPort <= kMessengerLastAlternatePort && sourcePort != kNameServerPort;
}

void OnInboundDatagram(FrameContext& frame, const FilterSettings& settings, MessageTarget& target) {
    const ConstUdpHeader udp(frame.buffer.frame.data() + frame.layout.transportOffset);
    if (!IsMessengerDatagram(udp.SourcePort(), udp.DestinationPort()) || settings.blockMessengerPopups == 0) {
        return;
    }
    frame.dropMark = true;
    target.Post(WM_POPUP_BLOCKED, 0);
}

}  // namespace bramvell
