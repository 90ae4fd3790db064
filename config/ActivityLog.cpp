#include "config/ActivityLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "config/FilterSettings.h"

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
        }
        line += c;
    }

    const std::string path = ActivityLogPath(folder, now);
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    const char* data = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            break;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    ::close(fd);
}

void LogActivity(const FilterSettings& settings, std::string_view text, const Clock& clock) {
    if (settings.activityLogEnabled == 0) {
        return;
    }
    ActivityLog(settings.LogFolder(), text, clock);
}

}  // namespace bramvell
