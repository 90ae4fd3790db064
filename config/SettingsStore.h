#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "config/FileHandle.h"

namespace bramvell {

// Where settings live: <configHome>/Bramvell/<applicationName>/<section>/<value name>.
struct SettingsLocation {
    std::string configHome;
    std::string applicationName;
};

// The default location: DefaultConfigHome() and ApplicationName().
SettingsLocation DefaultSettingsLocation();

// A folder of named binary values, the counterpart of one registry key. Values are whole files,
// replaced atomically and readable by their owner only.
class SettingsStore {
public:
    // Largest value read back; the SettingsBlob is about a kilobyte, anything far larger is damage.
    static constexpr std::size_t kMaxValueSize = 1 << 20;

    // Opens the section folder, creating missing levels (mode 0700). Closes a section open before.
    bool Open(const SettingsLocation& location, const std::string& section);
    void Close();
    bool IsOpen() const { return folder_.IsOpen(); }
    const std::string& Folder() const { return folderPath_; }

    // The value's bytes, or nothing when it is absent, unreadable or larger than kMaxValueSize.
    std::optional<std::string> Read(const std::string& name) const;
    // Replaces the value (temporary file + rename, mode 0600). True when written.
    bool Write(const std::string& name, std::string_view bytes);

private:
    FileHandle folder_;
    std::string folderPath_;
};

}  // namespace bramvell
