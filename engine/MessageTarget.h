#pragma once

#include <cstdint>

#include "engine/MessageVerdict.h"

namespace bramvell {

// Messages the filter thread posts to the main window (lParam is always 0).
enum FilterMessage : uint32_t {
    WM_MAIL_CLASSIFIED = 1125,  // wParam 1 = spam, 0 = not spam
    WM_POPUP_BLOCKED = 1126,    // wParam 0
    WM_FILTER_STARTED = 1129,   // wParam 1129
    WM_FILTER_FAILED = 1130,    // wParam 1130
    WM_SMTP_ACTIVITY = 1131,    // wParam 1131
    WM_IRC_ACTIVITY = 1132,     // wParam 1132
    WM_WEB_ACTIVITY = 1133,     // wParam 1133
    WM_DAY_CHANGED = 1134,      // wParam 1130
};

// Receiver of posted messages. Post must be safe to call from any thread and must not block on
// the receiver's work: the message is handled later on the receiver's own thread.
class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    virtual void Post(uint32_t message, uintptr_t wParam) = 0;
    // WM_MAIL_CLASSIFIED for this verdict; a receiver that reports verdicts (sender, score) takes it
    // whole, others get the plain message.
    virtual void PostClassified(const MessageVerdict& verdict) {
        Post(WM_MAIL_CLASSIFIED, verdict.isSpam ? 1 : 0);
    }
};

}  // namespace bramvell
