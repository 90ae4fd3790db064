#include "config/CalendarDays.h"

#include <cstdio>

namespace bramvell {

// Howard Hinnant's days-from-civil and civil-from-days.
int DayNumber(int year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

LocalTime DateOfDayNumber(int dayNumber) {
    const int z = dayNumber + 719468;
    const int era = (z >= 0 ? z : z - 146096) / 146097;
    const int dayOfEra = z - era * 146097;
    const int yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int mp = (5 * dayOfYear + 2) / 153;
    LocalTime date;
    date.day = dayOfYear - (153 * mp + 2) / 5 + 1;
    date.month = mp < 10 ? mp + 3 : mp - 9;
    date.year = yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0);
    return date;
}

int WeekdayOf(int dayNumber) {
    // 1970-01-01 was a Thursday.
    const int weekday = (dayNumber + 3) % 7;
    return weekday < 0 ? weekday + 7 : weekday;
}

bool ParseTimeStamp(std::string_view digits, LocalTime& when) {
    if (digits.size() != 14) {
        return false;
    }
    int value[14];
    for (std::size_t i = 0; i < 14; ++i) {
        if (digits[i] < '0' || digits[i] > '9') {
            return false;
        }
        value[i] = digits[i] - '0';
    }
    LocalTime read;
    read.year = value[0] * 1000 + value[1] * 100 + value[2] * 10 + value[3];
    read.month = value[4] * 10 + value[5];
    read.day = value[6] * 10 + value[7];
    read.hour = value[8] * 10 + value[9];
    read.minute = value[10] * 10 + value[11];
    read.second = value[12] * 10 + value[13];
    if (read.month < 1 || read.month > 12 || read.day < 1 || read.day > 31 || read.hour > 23 ||
        read.minute > 59 || read.second > 60) {
        return false;
    }
    when = read;
    return true;
}

std::string DateTimeText(const LocalTime& when) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", when.year, when.month, when.day, when.hour,
                  when.minute);
    return text;
}

std::string DateText(const LocalTime& when) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", when.year, when.month, when.day);
    return text;
}

}  // namespace bramvell
