#pragma once

#include <string>

namespace bramvell {

class FilterSettings;

inline constexpr std::size_t kStatisticsBackupSize = 32;
inline constexpr const char* kStatisticsBackupName = "reg.bak";

// programFolder + "/reg.bak".
std::string StatisticsBackupPath(const FilterSettings& settings);

// Reads the eight statistics (4 bytes little-endian each, in backup order) from the start of the
// backup. A statistic whose 4 bytes are not all there, and every one after it, is left as it is.
// A missing file changes nothing.
void ReadStatisticsBackup(FilterSettings& settings);

// Replaces the backup with the eight statistics (32 bytes, mode 0600) through a temporary file and a
// rename, as the settings file is written. False when it could not be written; the old file stays.
bool WriteStatisticsBackup(const FilterSettings& settings);

}  // namespace bramvell
