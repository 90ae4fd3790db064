#include "support/SimClock.h"

#include <ctime>

namespace bramvell::sim {

LocalTime SimClock::Now() const {
    std::tm when{};
    when.tm_year = start_.year - 1900;
    when.tm_mon = start_.month - 1;
    when.tm_mday = start_.day;
    when.tm_hour = start_.hour;
    when.tm_min = start_.minute;
    when.tm_sec = start_.second + static_cast<int>(now_ / 1000);
    timegm(&when);  // normalises the fields
    return {when.tm_year + 1900, when.tm_mon + 1, when.tm_mday, when.tm_hour, when.tm_min, when.tm_sec};
}

}  // namespace bramvell::sim
