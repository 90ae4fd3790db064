#pragma once

#include <string>

namespace bramvell {

class FilterSettings;

inline constexpr std::size_t kStatisticsBackupSize = 32;

// programFolder + "/reg.bak".
std::string StatisticsBackupPath(const FilterSettings& settings);

// Reads the eight statistics (4 bytes little-endian each, in backup order) from the start of the
// backup. A statistic whose 4 bytes are not all there, and every one after it, is left as it is.
// A missing file changes nothing.
void ReadStatisticsBackup(FilterSettings& settings);

// Writes the eight statistics over the first 32 bytes of the backup, creating it when missing.
// The file is not truncated: the 32 bytes are always written in full, so any longer tail is never
// read. Another writer holding the file, or a file that cannot be opened, is ignored.
void WriteStatisticsBackup(const FilterSettings& settings);

}  // namespace bramvell
