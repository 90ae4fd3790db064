#include "engine/SmtpFilter.h"

#include "config/FilterSettings.h"
#include "engine/MessageTarget.h"

namespace bramvell {

void OnOutboundSmtp(FrameContext& frame, const FilterSettings& settings, MessageTarget& target) {
    if (settings.outboundEmailLock != 0) {
        frame.dropMark = true;
        return;
    }
    if (frame.layout.payloadLength > 0) {
        target.Post(WM_SMTP_ACTIVITY, WM_SMTP_ACTIVITY);
    }
}

}  // namespace bramvell
