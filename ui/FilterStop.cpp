#include "ui/FilterStop.h"

#include <thread>

#include "config/FilterSettings.h"

namespace bramvell {

void WaitForFilterStop(FilterSettings& settings,
                       const std::function<void(std::chrono::milliseconds)>& sleep) {
    settings.stopRequested = 1;
    while (settings.filterRunning.load() == 1) {
        if (sleep) {
            sleep(kFilterStopPollInterval);
        } else {
            std::this_thread::sleep_for(kFilterStopPollInterval);
        }
    }
}

}  // namespace bramvell
