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

}  // namespace bramvell

namespace bramvell {

std::string PostedMessageText(uint32_t message, uintptr_t wParam) {
    switch (message) {
        case WM_MAIL_CLASSIFIED:
            return wParam == 1 ? "classified spam" : "classified good mail";
        case WM_POPUP_BLOCKED:
            return "popup blocked";
        case WM_FILTER_STARTED:
            return "filtering started";
        case WM_FILTER_FAILED:
            return "filtering could not start";
        case WM_SMTP_ACTIVITY:
            return "mail activity";
        case WM_IRC_ACTIVITY:
            return "chat activity";
        case WM_WEB_ACTIVITY:
            return "web activity";
        case WM_DAY_CHANGED:
            return "a new day: quarantine housekeeping";
        default:
            return "message " + std::to_string(message);
    }
}

}  // namespace bramvell
