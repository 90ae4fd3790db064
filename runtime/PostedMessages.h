#pragma once

#include <cstdint>
#include <functional>

namespace bramvell {

class FilterSettings;

// What a posted message asks of the application beyond what HandlePostedMessage did itself.
struct PostedMessageOutcome {
    bool countersChanged = false;  // the status texts need drawing again
    bool trayActivity = false;     // a mode for the tray icon's animation (the message number)
    bool filterStarted = false;
    bool filterFailed = false;
};

// The one handler of the filter thread's messages, for the control panel and the headless run alike:
// counts classified mail (wParam 1 = spam) and blocked popups, runs the day change's housekeeping,
// and says what is left to show. Called on the thread that owns the counters.
PostedMessageOutcome HandlePostedMessage(FilterSettings& settings, uint32_t message, uintptr_t wParam,
                                         const std::function<void()>& onDayChanged);

// The message's name for diagnostics ("WM_MAIL_CLASSIFIED").
const char* PostedMessageName(uint32_t message);

}  // namespace bramvell
