#include "runtime/PostedMessages.h"

#include <algorithm>

#include "config/FilterSettings.h"
#include "config/PrintableText.h"
#include "engine/MessageTarget.h"
#include "engine/MessageVerdict.h"

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
            return wParam == 1 ? "classified spam" : "classified good";
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

std::string ClassifiedMailText(const MessageVerdict& verdict) {
    std::string text = verdict.isSpam     ? "classified spam: "
                       : verdict.isUnsure ? "classified unsure: "
                                          : "classified good: ";
    text += verdict.sender.empty() ? std::string("(no sender)") : PrintableText(verdict.sender.view());
    switch (verdict.basis) {
        case VerdictBasis::FromToRule:
            return text + ", From equals To";
        case VerdictBasis::PassphraseRule:
            return text + ", subject passphrase";
        case VerdictBasis::ClassicScore:
        case VerdictBasis::ChiSquareScore:
            break;
    }
    // Whole percent, as the client's error line shows it: never 100.
    text += ", " + std::to_string(std::clamp(verdict.score / 100, 0, 99)) + "%";
    if (verdict.isUnsure) {
        text += ", delivered";
    }
    return text;
}

}  // namespace bramvell
