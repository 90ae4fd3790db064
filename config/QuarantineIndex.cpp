#include "config/QuarantineIndex.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <unordered_map>

#include "config/CalendarDays.h"
#include "config/FileHandle.h"
#include "config/PrintableText.h"
#include "config/QuarantineHousekeeping.h"

namespace bramvell {

namespace {

constexpr std::size_t kMaxFieldLength = 998;  // a header line's limit in mail

bool StartsWithField(std::string_view line, std::string_view field) {
    if (line.size() <= field.size() || line[field.size()] != ':') {
        return false;
    }
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char a = line[i] >= 'A' && line[i] <= 'Z' ? static_cast<char>(line[i] + 32) : line[i];
        if (a != field[i]) {
            return false;
        }
    }
    return true;
}

std::string Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return PrintableText(text.substr(0, std::min(text.size(), kMaxFieldLength)));
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

}  // namespace

MessageHeaderSummary SummariseHeader(std::string_view bytes) {
    MessageHeaderSummary summary;
    std::string* current = nullptr;
    std::string field;
    auto finish = [&] {
        if (current != nullptr && current->empty()) {
            *current = Trimmed(field);
        }
        current = nullptr;
        field.clear();
    };
    while (!bytes.empty()) {
        const std::size_t lf = bytes.find('\n');
        std::string_view line = bytes.substr(0, lf);
        bytes = lf == std::string_view::npos ? std::string_view() : bytes.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.empty()) {
            break;  // the end of the header
        }
        if (line.front() == ' ' || line.front() == '\t') {
            if (current != nullptr && field.size() < kMaxFieldLength) {
                field += ' ';
                field.append(line.substr(1));
            }
            continue;
        }
        finish();
        // The first field of each name counts; a repeated one is ignored.
        if (StartsWithField(line, "from")) {
            current = &summary.from;
        } else if (StartsWithField(line, "subject")) {
            current = &summary.subject;
        } else if (StartsWithField(line, "date")) {
            current = &summary.date;
        } else if (StartsWithField(line, "message-id")) {
            current = &summary.messageId;
        }
        if (current != nullptr) {
            field.assign(line.substr(line.find(':') + 1));
        }
    }
    finish();
    return summary;
}

std::string AddressOfSender(std::string_view from) {
    const std::size_t open = from.find('<');
    if (open != std::string_view::npos) {
        const std::size_t close = from.find('>', open);
        from = from.substr(open + 1,
                           close == std::string_view::npos ? std::string_view::npos : close - open - 1);
    }
    std::string address;
    for (char c : from) {
        if (c != ' ' && c != '\t' && c != '"') {
            address += Lower(c);
        }
    }
    return address.find('@') == std::string::npos ? std::string() : address;
}

std::string MessageOfQuarantineCopy(std::string_view copy) {
    std::string message;
    message.reserve(copy.size());
    while (!copy.empty()) {
        const std::size_t lf = copy.find('\n');
        std::string_view line = copy.substr(0, lf == std::string_view::npos ? copy.size() : lf + 1);
        copy.remove_prefix(line.size());
        std::string_view text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.remove_suffix(1);
        }
        if (text == ".") {
            break;  // the end of the POP3 reply
        }
        if (line.starts_with("..")) {
            line.remove_prefix(1);
        }
        message.append(line);
    }
    return message;
}

std::string ReadMessageStart(const std::string& path, std::size_t maxBytes) {
    FileHandle file(OpenRegularForReading(path));
    std::string bytes(maxBytes, '\0');
    std::size_t got = 0;
    if (!file.IsOpen() || !ReadFully(file.Get(), bytes.data(), bytes.size(), got)) {
        return {};
    }
    bytes.resize(got);
    return bytes;
}

std::vector<QuarantinedMessage> ListQuarantine(const std::string& folder,
                                               const std::vector<MailRecord>& history) {
    std::vector<QuarantinedMessage> messages;
    FileHandle folderFd(OpenNoFollow(folder, O_RDONLY | O_DIRECTORY));
    if (!folderFd.IsOpen()) {
        return messages;
    }
    std::vector<std::string> names;
    if (DIR* listing = ::fdopendir(::dup(folderFd.Get()))) {
        while (const dirent* entry = ::readdir(listing)) {
            if (IsQuarantineFileName(entry->d_name)) {
                names.emplace_back(entry->d_name);
            }
        }
        ::closedir(listing);
    }
    std::sort(names.begin(), names.end(), std::greater<>());

    std::unordered_map<std::string_view, const MailRecord*> verdicts;
    for (const MailRecord& record : history) {
        if (!record.quarantineName.empty()) {
            verdicts[record.quarantineName] = &record;
        }
    }
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (const std::string& name : names) {
        struct stat info {};
        if (::fstatat(folderFd.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode)) {
            continue;
        }
        QuarantinedMessage message;
        message.name = name;
        message.path = prefix + name;
        message.size = static_cast<uint64_t>(info.st_size);
        ParseTimeStamp(std::string_view(name).substr(0, 14), message.when);
        message.header = SummariseHeader(ReadMessageStart(message.path, kHeaderBytes));
        if (const auto found = verdicts.find(name); found != verdicts.end()) {
            message.verdict = *found->second;
        }
        messages.push_back(std::move(message));
    }
    return messages;
}

}  // namespace bramvell
