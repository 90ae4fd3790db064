#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/SettingsStore.h"

namespace bramvell {

// An option that is not an item of the stored settings value: its key, its default and the values it
// may take.
struct OptionSpec {
    std::string_view key;
    std::string_view defaultValue;
    std::span<const std::string_view> allowedValues;
    std::string_view help;
    // A count of bytes instead of a word from allowedValues: decimal digits, at most maxNumber.
    uint64_t maxNumber = 0;
};

// Every option the options file knows, in the order `config list` shows them.
std::span<const OptionSpec> KnownOptions();
const OptionSpec* FindOption(std::string_view key);

// The options file bramvell.conf beside the stored settings value ("key = value" lines; "#" starts a
// comment). Unknown keys, comments and malformed lines are kept as they are when the file is written
// back, so a hand-edited file loses nothing; a known key with a value it may not take reads as the
// default. Written atomically, mode 0600.
class OptionsFile {
  public:
    static constexpr std::string_view kFileName = "bramvell.conf";
    static constexpr std::size_t kMaxFileSize = 64 * 1024;

    explicit OptionsFile(SettingsLocation location = DefaultSettingsLocation());

    // Reads the file; a missing file is an empty one. False when the folder cannot be opened.
    bool Load();
    // The stored value of a known key, else its default; empty for an unknown key.
    std::string Get(std::string_view key) const;
    // Validates and sets the value in memory; false with the reason otherwise.
    bool Set(std::string_view key, std::string_view value, std::string* problem);
    // Keys outside the option table, such as the accounts, are checked by their owners: every stored
    // key and value in file order, a set without checks, and the removal of every line of a key.
    std::vector<std::pair<std::string, std::string>> StoredEntries() const;
    void SetUnchecked(std::string_view key, std::string_view value);
    bool Remove(std::string_view key);
    // Writes the file back. False when it could not be written.
    bool Save();

    std::string Path() const;

  private:
    struct Line {
        std::string text;  // as read, for lines that are not "key = value"
        std::string key;
        std::string value;
    };
    // The stored value of key, or null.
    const std::string* Stored(std::string_view key) const;

    SettingsLocation location_;
    SettingsStore store_;
    std::vector<Line> lines_;
};

}  // namespace bramvell
