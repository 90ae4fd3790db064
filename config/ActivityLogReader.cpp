#include "config/ActivityLogReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/ActivityLog.h"
#include "config/CalendarDays.h"
#include "config/FileHandle.h"
#include "config/PrintableText.h"

namespace bramvell {

namespace {

constexpr std::string_view kStampSeparator = " - ";
constexpr std::string_view kAnalysing = "Analysing email message from: ";
constexpr std::string_view kSpam = "Bramvell suspects this message is Spam";
constexpr std::string_view kNotSpam = "Bramvell suspects this message is NOT Spam";
constexpr std::string_view kUnsure = "Bramvell is unsure whether this message is Spam";
constexpr std::string_view kSaving = "Saving message to Quarantine folder: ";
constexpr std::size_t kMaxTextLength = 1000;

std::string ReadFileEnd(const std::string& path, std::size_t maxBytes) {
    FileHandle file(OpenRegularForReading(path));
    struct stat status {};
    if (!file.IsOpen() || ::fstat(file.Get(), &status) != 0) {
        return {};
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    const bool cut = size > maxBytes;
    if (cut && ::lseek(file.Get(), static_cast<off_t>(size - maxBytes), SEEK_SET) < 0) {
        return {};
    }
    std::string bytes(cut ? maxBytes : size, '\0');
    std::size_t got = 0;
    if (!ReadFully(file.Get(), bytes.data(), bytes.size(), got)) {
        return {};
    }
    bytes.resize(got);
    if (cut) {
        const std::size_t lf = bytes.find('\n');
        bytes.erase(0, lf == std::string::npos ? bytes.size() : lf + 1);
    }
    return bytes;
}

}  // namespace

std::vector<ActivityEntry> ParseActivityLog(std::string_view bytes) {
    std::vector<ActivityEntry> entries;
    // The row of the message under analysis, until its verdict (and quarantine copy) are in.
    std::size_t open = std::string::npos;
    while (!bytes.empty()) {
        const std::size_t lf = bytes.find('\n');
        std::string_view line = bytes.substr(0, lf);
        bytes = lf == std::string_view::npos ? std::string_view() : bytes.substr(lf + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
            line.remove_suffix(1);
        }
        ActivityEntry entry;
        if (line.size() < 14 + kStampSeparator.size() || !ParseTimeStamp(line.substr(0, 14), entry.when) ||
            line.substr(14, kStampSeparator.size()) != kStampSeparator) {
            continue;
        }
        std::string_view text = line.substr(14 + kStampSeparator.size());
        text = text.substr(0, std::min(text.size(), kMaxTextLength));
        const bool messageOpen = open != std::string::npos;
        if (text.starts_with(kAnalysing)) {
            entry.event = "Message";
            entry.sender = PrintableText(text.substr(kAnalysing.size()));
            open = entries.size();
            entries.push_back(std::move(entry));
            continue;
        }
        if (messageOpen && text.starts_with(kNotSpam)) {
            entries[open].verdict = "Not spam";
            open = std::string::npos;
            continue;
        }
        if (messageOpen && text.starts_with(kUnsure)) {
            entries[open].verdict = "Unsure";
            open = std::string::npos;
            continue;
        }
        if (messageOpen && text.starts_with(kSpam)) {
            entries[open].verdict = "Spam";
            entries[open].spam = true;
            continue;  // the quarantine copy may follow
        }
        if (messageOpen && entries[open].spam && text.starts_with(kSaving)) {
            entries[open].verdict = "Spam, quarantined";
            open = std::string::npos;
            continue;
        }
        entry.event = PrintableText(text);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<ActivityEntry> ReadActivityLog(std::string_view folder, int firstDay, int lastDay,
                                           std::size_t maxBytesPerFile) {
    std::vector<ActivityEntry> entries;
    for (int day = firstDay; day <= lastDay; ++day) {
        const std::string bytes = ReadFileEnd(ActivityLogPath(folder, DateOfDayNumber(day)), maxBytesPerFile);
        std::vector<ActivityEntry> ofDay = ParseActivityLog(bytes);
        entries.insert(entries.end(), std::make_move_iterator(ofDay.begin()),
                       std::make_move_iterator(ofDay.end()));
    }
    return entries;
}

int FirstDayOfPeriod(ActivityPeriod period, int today) {
    switch (period) {
        case ActivityPeriod::Today:
            return today;
        case ActivityPeriod::ThisWeek:
            return today - WeekdayOf(today);
        case ActivityPeriod::LastMonth:
            break;
    }
    return today - (kActivityMonthDays - 1);
}

std::vector<ActivityEntry> FilterActivity(const std::vector<ActivityEntry>& entries, int firstDay,
                                          bool spamOnly) {
    std::vector<ActivityEntry> shown;
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        if (DayNumber(entry->when) >= firstDay && (!spamOnly || entry->spam)) {
            shown.push_back(*entry);
        }
    }
    return shown;
}

}  // namespace bramvell
