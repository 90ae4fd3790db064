#include "lists/ExpiryDay.h"

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

}  // namespace

int ExtendExpiryDay(const LocalTime& today) {
    const int day = today.day - 1;
    return day == 0 ? DaysInMonth(today.month) : day;
}

}  // namespace bramvell
