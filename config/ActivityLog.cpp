#include "config/ActivityLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "config/FileHandle.h"
#include "config/FilterSettings.h"
#include "config/PrintableText.h"

namespace bramvell {

std::string ActivityLogPath(std::string_view folder, const LocalTime& when) {
    char name[32];
    std::snprintf(name, sizeof name, "%4.4d%2.2d%2.2d.txt", when.year, when.month, when.day);
    std::string path(folder);
    path += '/';
    path += name;
    return path;
}

void ActivityLog(std::string_view folder, std::string_view text, const Clock& clock) {
    const LocalTime now = clock.Now();
    char stamp[40];
    int stampLength = std::snprintf(stamp, sizeof stamp, "%4.4d%2.2d%2.2d%2.2d%2.2d%2.2d - ", now.year,
                                    now.month, now.day, now.hour, now.minute, now.second);
    std::string line(stamp, static_cast<std::size_t>(stampLength));
    line.reserve(line.size() + text.size() + 4);
    for (char c : text) {
        if (c == '\n') {
            line += '\r';
        } else if (IsControlByte(c)) {
            c = '?';  // header text from mail must not reach a terminal as escape sequences
        }
        line += c;
    }

    const std::string path = ActivityLogPath(folder, now);
    FileHandle file(OpenNoFollow(path, O_WRONLY | O_CREAT | O_APPEND));
    if (file.IsOpen()) {
        WriteAll(file.Get(), line);
    }
}

void LogActivity(const FilterSettings& settings, std::string_view text, const Clock& clock) {
    if (settings.activityLogEnabled == 0) {
        return;
    }
    ActivityLog(settings.LogFolder(), text, clock);
}

}  // namespace bramvell
