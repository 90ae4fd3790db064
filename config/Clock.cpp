#include "config/Clock.h"

#include <ctime>

namespace bramvell {

LocalTime SystemClock::Now() const {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

const Clock& DefaultClock() {
    static const SystemClock clock;
    return clock;
}

}  // namespace bramvell
