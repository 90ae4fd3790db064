#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "config/Clock.h"

namespace bramvell {

// One row of the activity log as the control panel shows it. The lines the analysis writes for one
// message ("Analysing email message from: ...", the verdict, the quarantine copy) come together as one
// row with its sender and verdict; every other line is a row of its own.
struct ActivityEntry {
    LocalTime when;
    std::string event;
    std::string sender;
    std::string verdict;  // "Spam", "Spam, quarantined", "Not spam", "Unsure"; empty for other events
    bool spam = false;
};

// The rows of one log file's bytes in file order. Lines without a well-formed time stamp are skipped.
std::vector<ActivityEntry> ParseActivityLog(std::string_view bytes);

// The rows of the dated files of the folder from firstDay to lastDay (day numbers, see CalendarDays),
// oldest first. At most maxBytesPerFile of the end of each file are read.
inline constexpr std::size_t kMaxLogBytesPerFile = std::size_t{8} << 20;
std::vector<ActivityEntry> ReadActivityLog(std::string_view folder, int firstDay, int lastDay,
                                           std::size_t maxBytesPerFile = kMaxLogBytesPerFile);

enum class ActivityPeriod { Today, ThisWeek, LastMonth };
inline constexpr int kActivityMonthDays = 31;

// The first day of a period that ends today: today, the Monday of this week, or 30 days before.
int FirstDayOfPeriod(ActivityPeriod period, int today);

// The rows from the first day on, spam only when asked, newest first.
std::vector<ActivityEntry> FilterActivity(const std::vector<ActivityEntry>& entries, int firstDay,
                                          bool spamOnly);

}  // namespace bramvell
