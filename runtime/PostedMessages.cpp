#include "runtime/PostedMessages.h"

#include "config/FilterSettings.h"
#include "engine/MessageTarget.h"

namespace bramvell {

PostedMessageOutcome HandlePostedMessage(FilterSettings& settings, uint32_t message, uintptr_t wParam,
                                         const std::function<void()>& onDayChanged) {
    PostedMessageOutcome outcome;
    switch (message) {
        case WM_MAIL_CLASSIFIED:
            settings.emailsFiltered.fetch_add(1);
            if (wParam == 1) {
                settings.spamCount.fetch_add(1);
            }
            outcome.countersChanged = true;
            break;
        case WM_POPUP_BLOCKED:
            settings.popupsBlocked.fetch_add(1);
            outcome.countersChanged = true;
            break;
        case WM_DAY_CHANGED:
            if (onDayChanged) {
                onDayChanged();
            }
            break;
        case WM_FILTER_STARTED:
            outcome.filterStarted = true;
            outcome.trayActivity = true;
            break;
        case WM_FILTER_FAILED:
            outcome.filterFailed = true;
            outcome.trayActivity = true;
            break;
        case WM_SMTP_ACTIVITY:
        case WM_IRC_ACTIVITY:
        case WM_WEB_ACTIVITY:
            outcome.trayActivity = true;
            break;
        default:
            break;
    }
    return outcome;
}

const char* PostedMessageName(uint32_t message) {
    switch (message) {
        case WM_MAIL_CLASSIFIED:
            return "WM_MAIL_CLASSIFIED";
        case WM_POPUP_BLOCKED:
            return "WM_POPUP_BLOCKED";
        case WM_FILTER_STARTED:
            return "WM_FILTER_STARTED";
        case WM_FILTER_FAILED:
            return "WM_FILTER_FAILED";
        case WM_SMTP_ACTIVITY:
            return "WM_SMTP_ACTIVITY";
        case WM_IRC_ACTIVITY:
            return "WM_IRC_ACTIVITY";
        case WM_WEB_ACTIVITY:
            return "WM_WEB_ACTIVITY";
        case WM_DAY_CHANGED:
            return "WM_DAY_CHANGED";
        default:
            return "unknown message";
    }
}

}  // namespace bramvell
