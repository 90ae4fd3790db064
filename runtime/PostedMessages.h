#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace bramvell {

class FilterSettings;
struct MessageVerdict;

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

// The event in words, for a person reading a verbose run ("classified spam", "popup blocked").
std::string PostedMessageText(uint32_t message, uintptr_t wParam);

// A classified message in words, with its sender and what decided: "classified spam: <sender>, 97%",
// "classified good: <sender>, 3%", "classified unsure: <sender>, 64%, delivered", or the rule instead
// of the percent ("classified spam: <sender>, From equals To"). Control bytes of the sender show as '?'.
std::string ClassifiedMailText(const MessageVerdict& verdict);

}  // namespace bramvell
