#pragma once

#include <cstdint>

#include "engine/Pop3Handler.h"

namespace bramvell {

class FilterSettings;
class MessageTarget;

inline constexpr uint16_t kSmtpPort = 25;

// Every outbound TCP frame to port 25: with the outbound email lock engaged it is dropped (connection
// attempts included, so no mail leaves); otherwise a segment with data posts WM_SMTP_ACTIVITY and passes.
// The frame must have parsed as TCP.
void OnOutboundSmtp(FrameContext& frame, const FilterSettings& settings, MessageTarget& target);

}  // namespace bramvell
