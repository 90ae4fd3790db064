#include "config/OptionsFile.h"

#include <algorithm>
#include <array>

namespace bramvell {
namespace {

constexpr std::array<std::string_view, 2> kScorers = {"classic", "chi-square"};
constexpr std::array<std::string_view, 2> kSpamAnswers = {"error", "notice"};
constexpr std::array<std::string_view, 2> kOffOn = {"off", "on"};

constexpr uint64_t kMaxEarlyVerdictBytes = 64u << 20;  // the cap on one held message

constexpr std::array<OptionSpec, 4> kOptions = {{
    {"scorer", "classic", kScorers,
     "the scorer of the filter, classify and test: classic, or chi-square (its own store; unsure mail is "
     "delivered; read when filtering starts)"},
    {"spam-answer", "error", kSpamAnswers,
     "what the mail client gets for a deleted spam: error (an -ERR line), or notice (a short stand-in "
     "message, for clients that stop at an error)"},
    {"notify-quarantine", "off", kOffOn,
     "on: the tray application shows a desktop notification each time a message is quarantined"},
    {"early-verdict-bytes",
     "1048576",
     {},
     "a retrieved message growing past this many bytes is judged on what has arrived, and good mail then "
     "streams on to the mail client (0: every message is judged whole)",
     kMaxEarlyVerdictBytes},
}};

std::string_view Trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

bool IsNumberUpTo(std::string_view value, uint64_t max) {
    if (value.empty() || value.size() > 19) {
        return false;
    }
    uint64_t number = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') {
            return false;
        }
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    return number <= max;
}

bool IsAllowed(const OptionSpec& option, std::string_view value) {
    if (option.maxNumber != 0) {
        return IsNumberUpTo(value, option.maxNumber);
    }
    return option.allowedValues.empty() || std::find(option.allowedValues.begin(), option.allowedValues.end(),
                                                     value) != option.allowedValues.end();
}

}  // namespace

std::span<const OptionSpec> KnownOptions() {
    return kOptions;
}

const OptionSpec* FindOption(std::string_view key) {
    for (const OptionSpec& option : kOptions) {
        if (option.key == key) {
            return &option;
        }
    }
    return nullptr;
}

OptionsFile::OptionsFile(SettingsLocation location) : location_(std::move(location)) {}

std::string OptionsFile::Path() const {
    return location_.configHome + "/Bramvell/" + location_.applicationName + "/Options/" +
           std::string(kFileName);
}

bool OptionsFile::Load() {
    lines_.clear();
    if (!store_.Open(location_, "Options")) {
        return false;
    }
    const std::optional<std::string> bytes = store_.Read(std::string(kFileName));
    if (!bytes || bytes->size() > kMaxFileSize) {
        return true;  // missing (or damaged beyond use): every option has its default
    }
    std::string_view rest = *bytes;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view text = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        Line line;
        const std::size_t equals = text.find('=');
        const std::string_view key =
            equals == std::string_view::npos ? std::string_view() : Trimmed(text.substr(0, equals));
        if (Trimmed(text).starts_with('#') || key.empty()) {
            line.text.assign(text);
        } else {
            line.key.assign(key);
            line.value.assign(Trimmed(text.substr(equals + 1)));
        }
        lines_.push_back(std::move(line));
    }
    return true;
}

const std::string* OptionsFile::Stored(std::string_view key) const {
    const std::string* found = nullptr;
    for (const Line& line : lines_) {
        if (!line.key.empty() && line.key == key) {
            found = &line.value;  // the last one wins, as in most configuration files
        }
    }
    return found;
}

std::string OptionsFile::Get(std::string_view key) const {
    const OptionSpec* option = FindOption(key);
    if (option == nullptr) {
        return {};
    }
    const std::string* stored = Stored(key);
    return stored != nullptr && IsAllowed(*option, *stored) ? *stored : std::string(option->defaultValue);
}

bool OptionsFile::Set(std::string_view key, std::string_view value, std::string* problem) {
    const OptionSpec* option = FindOption(key);
    if (option == nullptr) {
        *problem = "unknown option '" + std::string(key) + "'";
        return false;
    }
    if (!IsAllowed(*option, value) && option->maxNumber != 0) {
        *problem = "'" + std::string(value) + "' is not a number of bytes from 0 to " +
                   std::to_string(option->maxNumber) + " for " + std::string(key);
        return false;
    }
    if (!IsAllowed(*option, value)) {
        *problem = "'" + std::string(value) + "' is not a value of " + std::string(key) + " (";
        for (std::size_t i = 0; i < option->allowedValues.size(); ++i) {
            *problem += (i == 0 ? "" : ", ") + std::string(option->allowedValues[i]);
        }
        *problem += ")";
        return false;
    }
    SetUnchecked(key, value);
    return true;
}

void OptionsFile::SetUnchecked(std::string_view key, std::string_view value) {
    bool replaced = false;
    for (Line& line : lines_) {
        if (!line.key.empty() && line.key == key) {
            line.value.assign(value);
            replaced = true;
        }
    }
    if (!replaced) {
        lines_.push_back(Line{{}, std::string(key), std::string(value)});
    }
}

bool OptionsFile::Remove(std::string_view key) {
    const auto removed =
        std::erase_if(lines_, [&](const Line& line) { return !line.key.empty() && line.key == key; });
    return removed != 0;
}

std::vector<std::pair<std::string, std::string>> OptionsFile::StoredEntries() const {
    std::vector<std::pair<std::string, std::string>> entries;
    for (const Line& line : lines_) {
        if (!line.key.empty()) {
            entries.emplace_back(line.key, line.value);
        }
    }
    return entries;
}

bool OptionsFile::Save() {
    if (!store_.IsOpen() && !store_.Open(location_, "Options")) {
        return false;
    }
    std::string bytes;
    for (const Line& line : lines_) {
        bytes += line.key.empty() ? line.text : line.key + " = " + line.value;
        bytes += '\n';
    }
    return store_.Write(std::string(kFileName), bytes);
}

}  // namespace bramvell
