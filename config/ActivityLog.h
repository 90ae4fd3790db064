#pragma once

#include <string>
#include <string_view>

#include "config/Clock.h"

namespace bramvell {

class FilterSettings;

// Name of the day's log file: folder + "/" + YYYYMMDD + ".txt" (the separator is always added).
std::string ActivityLogPath(std::string_view folder, const LocalTime& when);

// Appends one time-stamped line to the dated log file of the folder. The caller's text carries its
// own line feed; every LF is stored as CR LF. A file that cannot be opened loses the line silently.
void ActivityLog(std::string_view folder, std::string_view text, const Clock& clock = DefaultClock());

// Writes the line only when "Create Activity Log files in this folder :" is on.
void LogActivity(const FilterSettings& settings, std::string_view text, const Clock& clock = DefaultClock());

}  // namespace bramvell
