#pragma once

#include <string>
#include <string_view>

#include "config/Clock.h"

namespace bramvell {

// Days since 1970-01-01 of a proleptic Gregorian date, for counting and comparing days.
int DayNumber(int year, int month, int day);
inline int DayNumber(const LocalTime& when) {
    return DayNumber(when.year, when.month, when.day);
}
// The date of a day number (time fields 0).
LocalTime DateOfDayNumber(int dayNumber);
// Monday = 0 ... Sunday = 6.
int WeekdayOf(int dayNumber);
// "YYYYMMDDhhmmss" read into a time; false unless it is fourteen digits of a plausible date.
bool ParseTimeStamp(std::string_view digits, LocalTime& when);
// "2026-12-08 14:05".
std::string DateTimeText(const LocalTime& when);
// "2026-12-08".
std::string DateText(const LocalTime& when);

}  // namespace bramvell
