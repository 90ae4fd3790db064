#include "lists/ExpiryDay.h"

#include <cstdio>

namespace bramvell {

namespace {

int DaysInMonth(int month) {
    switch (month) {
        case 4:
        case 6:
        case 9:
        case 11:
            return 30;
        case 2:
            return 28;
        default:
            return 31;
    }
}

// The calendar's own length of a month, leap years included.
int CalendarDaysInMonth(int year, int month) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : DaysInMonth(month);
}

}  // namespace

std::string ExpiryDate(int expiryDay, const LocalTime& today) {
    if (expiryDay == kKeepExpiryDay) {
        return "kept";
    }
    if (expiryDay < 1 || expiryDay > 31 || today.month < 1 || today.month > 12) {
        return "?";
    }
    int year = today.year;
    int month = today.month;
    if (expiryDay < today.day) {
        month = month == 12 ? 1 : month + 1;
        year += month == 1 ? 1 : 0;
    }
    while (expiryDay > CalendarDaysInMonth(year, month)) {
        month = month == 12 ? 1 : month + 1;
        year += month == 1 ? 1 : 0;
    }
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, expiryDay);
    return text;
}

int ExtendExpiryDay(const LocalTime& today) {
    const int day = today.day - 1;
    return day == 0 ? DaysInMonth(today.month) : day;
}

}  // namespace bramvell
