#include "runtime/TrayTip.h"

namespace bramvell {

std::string TrayTipText(const TrayState& state) {
    std::string text = "Bramvell Anti-Spam Filter: ";
    text += !state.filterRunning ? "off" : state.spamFilterEnabled ? "filtering" : "paused";
    text +=
        "\nToday: " + std::to_string(state.goodToday) + " good, " + std::to_string(state.spamToday) + " spam";
    if (state.outboundLock) {
        text += "\nOutbound email lock engaged";
    }
    return text;
}

}  // namespace bramvell
