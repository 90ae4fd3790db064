#pragma once

#include <string>

#include "config/Clock.h"

namespace bramvell {

// The day Extend gives a blocked entry: the day before today's day of the month, or on the first
// of a month the last day of that month (February always counts 28 days). The entry thus falls due
// about one month ahead.
int ExtendExpiryDay(const LocalTime& today);

// Keep marks an entry as kept indefinitely.
inline constexpr int kKeepExpiryDay = 0;

// The date a blocked entry with this expiry day falls due: the first date from today on whose day of
// the month is the day (months too short for it are passed over), as "YYYY-MM-DD"; "kept" for day 0
// and "?" for a day outside 0..31.
std::string ExpiryDate(int expiryDay, const LocalTime& today);

}  // namespace bramvell
