#include "config/SettingsStore.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "config/ConfigHome.h"

namespace bramvell {

SettingsLocation DefaultSettingsLocation() {
    return SettingsLocation{DefaultConfigHome(), ApplicationName()};
}

bool SettingsStore::Open(const SettingsLocation& location, const std::string& section) {
    Close();
    if (location.configHome.empty() || location.applicationName.empty() || section.empty()) {
        return false;
    }
    std::string path = location.configHome + "/Bramvell/" + location.applicationName + "/" + section;
    if (!CreateDirectories(path, 0700)) {
        return false;
    }
    folder_.Reset(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder_.IsOpen()) {
        folderPath_ = std::move(path);
    }
    return folder_.IsOpen();
}

void SettingsStore::Close() {
    folder_.Reset();
    folderPath_.clear();
}

std::optional<std::string> SettingsStore::Read(const std::string& name) const {
    if (!IsOpen()) {
        return std::nullopt;
    }
    FileHandle file(::openat(folder_.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file.IsOpen() || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    std::string bytes;
    if (!ReadAll(file.Get(), kMaxValueSize, bytes)) {
        return std::nullopt;
    }
    return bytes;
}

bool SettingsStore::Write(const std::string& name, std::string_view bytes) {
    return IsOpen() && WriteFileAtomically(folder_.Get(), name, bytes, 0600);
}

}  // namespace bramvell
