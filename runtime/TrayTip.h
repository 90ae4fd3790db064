#pragma once

#include <string>

namespace bramvell {

// What the tray icon's tooltip tells at a glance.
struct TrayState {
    bool filterRunning = false;     // the filter thread is filtering
    bool spamFilterEnabled = true;  // "Enabled - press and hold the Control key to pause"
    bool outboundLock = false;
    int goodToday = 0;
    int spamToday = 0;
};

// "Bramvell Anti-Spam Filter: filtering" (or "paused" with the spam filter switched off, "off" without
// the filter thread), "Today: 5 good, 2 spam", and "Outbound email lock engaged" when it is, one a line.
std::string TrayTipText(const TrayState& state);

}  // namespace bramvell
