#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "config/MailHistory.h"

namespace bramvell {

// Good and spam mail of one day (unsure mail was delivered and counts as good).
struct DayCounts {
    int day = 0;  // day number (CalendarDays)
    int good = 0;
    int spam = 0;
};

// The statistics page's figures over the last days of the history.
struct MailStatistics {
    std::vector<DayCounts> days;  // one per day, oldest first, ending today
    int good = 0;
    int spam = 0;
    int unsure = 0;
    // Verdicts by what decided them, indexed by DecidedBy.
    std::array<int, 4> byRule{};
    // Senders of the most spam (their addresses, lower case), most first; ties in name order.
    std::vector<std::pair<std::string, int>> topSpamSenders;
};

inline constexpr int kStatisticsDays = 28;
inline constexpr std::size_t kTopSenders = 10;

// Counts the records of the dayCount days up to today; later records (a clock set back) are left out.
MailStatistics AggregateMailStatistics(const std::vector<MailRecord>& records, int today,
                                       int dayCount = kStatisticsDays, std::size_t topCount = kTopSenders);

// Today's good and spam mail, for the tray's tooltip.
DayCounts CountsOfDay(const std::vector<MailRecord>& records, int day);

}  // namespace bramvell
