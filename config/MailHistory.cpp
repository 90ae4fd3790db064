#include "config/MailHistory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cstdio>

#include "config/CalendarDays.h"
#include "config/FileHandle.h"
#include "config/PrintableText.h"

namespace bramvell {

namespace {

constexpr std::array<std::string_view, 3> kOutcomeWords = {"good", "spam", "unsure"};
constexpr std::array<std::string_view, 4> kDecidedByWords = {"from-to", "passphrase", "classic",
                                                             "chi-square"};
constexpr std::size_t kFieldCount = 6;
constexpr std::size_t kMaxSenderLength = 200;

void AppendCleaned(std::string& line, std::string_view text, std::size_t limit) {
    for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
        const char c = text[i];
        line += (c == '\t' || IsControlByte(c)) ? '?' : c;
    }
}

template <std::size_t N>
bool WordIndex(const std::array<std::string_view, N>& words, std::string_view word, std::size_t& index) {
    for (std::size_t i = 0; i < N; ++i) {
        if (words[i] == word) {
            index = i;
            return true;
        }
    }
    return false;
}

}  // namespace

std::string MailHistoryPath(std::string_view programFolder) {
    std::string path(programFolder);
    path += "/Data/history.tsv";
    return path;
}

std::string FormatMailRecord(const MailRecord& record) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", record.when.year, record.when.month,
                  record.when.day, record.when.hour, record.when.minute, record.when.second);
    std::string line = stamp;
    line += '\t';
    line += kOutcomeWords[static_cast<std::size_t>(record.outcome)];
    line += '\t';
    line += kDecidedByWords[static_cast<std::size_t>(record.decidedBy)];
    line += '\t';
    line += std::to_string(record.score);
    line += '\t';
    AppendCleaned(line, record.quarantineName, 255);
    line += '\t';
    AppendCleaned(line, record.sender, kMaxSenderLength);
    line += '\n';
    return line;
}

std::optional<MailRecord> ParseMailRecord(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    std::array<std::string_view, kFieldCount> fields;
    std::size_t count = 0;
    while (count < kFieldCount) {
        const std::size_t tab = count + 1 < kFieldCount ? line.find('\t') : std::string_view::npos;
        if (tab == std::string_view::npos && count + 1 < kFieldCount) {
            return std::nullopt;
        }
        fields[count++] = line.substr(0, tab);
        line = tab == std::string_view::npos ? std::string_view() : line.substr(tab + 1);
    }
    MailRecord record;
    std::size_t outcome = 0;
    std::size_t decidedBy = 0;
    if (!ParseTimeStamp(fields[0], record.when) || !WordIndex(kOutcomeWords, fields[1], outcome) ||
        !WordIndex(kDecidedByWords, fields[2], decidedBy)) {
        return std::nullopt;
    }
    const auto parsed = std::from_chars(fields[3].data(), fields[3].data() + fields[3].size(), record.score);
    if (parsed.ec != std::errc() || parsed.ptr != fields[3].data() + fields[3].size() || record.score < 0 ||
        record.score > 10000) {
        return std::nullopt;
    }
    record.outcome = static_cast<MailOutcome>(outcome);
    record.decidedBy = static_cast<DecidedBy>(decidedBy);
    record.quarantineName = fields[4];
    record.sender = fields[5];
    return record;
}

void AppendMailRecord(std::string_view programFolder, const MailRecord& record) {
    if (programFolder.empty()) {
        return;
    }
    const std::string path = MailHistoryPath(programFolder);
    FileHandle file(OpenNoFollow(path, O_WRONLY | O_CREAT | O_APPEND));
    if (file.IsOpen()) {
        WriteAll(file.Get(), FormatMailRecord(record));
    }
}

std::vector<MailRecord> ReadMailHistory(const std::string& path, std::size_t maxBytes) {
    std::vector<MailRecord> records;
    FileHandle file(OpenRegularForReading(path));
    struct stat status {};
    if (!file.IsOpen() || ::fstat(file.Get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return records;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    const bool cut = size > maxBytes;
    if (cut && ::lseek(file.Get(), static_cast<off_t>(size - maxBytes), SEEK_SET) < 0) {
        return records;
    }
    std::string bytes(cut ? maxBytes : size, '\0');
    std::size_t got = 0;
    if (!ReadFully(file.Get(), bytes.data(), bytes.size(), got)) {
        return records;
    }
    bytes.resize(got);
    std::string_view rest = bytes;
    if (cut) {
        const std::size_t lf = rest.find('\n');
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
    }
    while (!rest.empty()) {
        const std::size_t lf = rest.find('\n');
        const std::string_view line = rest.substr(0, lf);
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
        if (std::optional<MailRecord> record = ParseMailRecord(line)) {
            records.push_back(std::move(*record));
        }
    }
    return records;
}

std::string_view OutcomeWord(MailOutcome outcome) {
    return kOutcomeWords[static_cast<std::size_t>(outcome)];
}

std::string_view DecidedByText(DecidedBy decidedBy) {
    switch (decidedBy) {
        case DecidedBy::FromTo:
            return "From/To";
        case DecidedBy::Passphrase:
            return "Passphrase";
        case DecidedBy::ClassicScore:
            return "Score";
        case DecidedBy::ChiSquareScore:
            break;
    }
    return "Chi-square score";
}

std::string ScoreOrRuleText(const MailRecord& record) {
    switch (record.decidedBy) {
        case DecidedBy::FromTo:
            return "From/To rule";
        case DecidedBy::Passphrase:
            return "Passphrase rule";
        case DecidedBy::ClassicScore:
        case DecidedBy::ChiSquareScore:
            break;
    }
    return std::to_string(record.score / 100) + "%";
}

std::string_view ScorerText(const MailRecord& record) {
    switch (record.decidedBy) {
        case DecidedBy::ClassicScore:
            return "classic";
        case DecidedBy::ChiSquareScore:
            return "chi-square";
        case DecidedBy::FromTo:
        case DecidedBy::Passphrase:
            break;
    }
    return "";
}

}  // namespace bramvell
