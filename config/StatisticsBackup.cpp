#include "config/StatisticsBackup.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>

#include "config/FileHandle.h"
#include "config/FilterSettings.h"

namespace bramvell {
namespace {

constexpr std::size_t kStatisticCount = kStatisticsBackupSize / 4;

// The statistics in backup order; const or not, as the record is.
template <typename Settings>
auto BackupOrder(Settings& settings) {
    return std::array{&settings.hamMessageCount,    &settings.spamMessageCount,
                      &settings.newLowerTokenCount, &settings.newCapitalTokenCount,
                      &settings.newUpperTokenCount, &settings.emailsFiltered,
                      &settings.spamCount,          &settings.popupsBlocked};
}

}  // namespace

std::string StatisticsBackupPath(const FilterSettings& settings) {
    return settings.programFolder + "/" + kStatisticsBackupName;
}

void ReadStatisticsBackup(FilterSettings& settings) {
    FileHandle file(OpenRegularForReading(StatisticsBackupPath(settings)));
    if (!file.IsOpen()) {
        return;
    }
    unsigned char bytes[kStatisticsBackupSize];
    std::size_t got = 0;
    if (!ReadFullyAt(file.Get(), bytes, sizeof bytes, 0, got)) {
        return;
    }
    const auto fields = BackupOrder(settings);
    for (std::size_t i = 0; i < kStatisticCount && (i + 1) * 4 <= got; ++i) {
        const unsigned char* p = bytes + i * 4;
        uint32_t value = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
        *fields[i] = static_cast<int32_t>(value);
    }
}

bool WriteStatisticsBackup(const FilterSettings& settings) {
    char bytes[kStatisticsBackupSize];
    const auto fields = BackupOrder(settings);
    for (std::size_t i = 0; i < kStatisticCount; ++i) {
        const auto value = static_cast<uint32_t>(fields[i]->load());
        for (int b = 0; b < 4; ++b) {
            bytes[i * 4 + static_cast<std::size_t>(b)] = static_cast<char>(value >> (8 * b));
        }
    }
    // Replaced like the settings file: a reader never sees half of it, and a link planted under the
    // name is replaced, not written through.
    return WriteFileAtomically(settings.programFolder, kStatisticsBackupName,
                               std::string_view(bytes, sizeof bytes), kPrivateFileMode);
}

}  // namespace bramvell
