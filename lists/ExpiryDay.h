#pragma once

#include "config/Clock.h"

namespace bramvell {

// The day Extend gives a blocked entry: the day before today's day of the month, or on the first
// of a month the last day of that month (February always counts 28 days). The entry thus falls due
// about one month ahead.
int ExtendExpiryDay(const LocalTime& today);

// Keep marks an entry as kept indefinitely.
inline constexpr int kKeepExpiryDay = 0;

}  // namespace bramvell
