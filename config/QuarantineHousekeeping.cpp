#include "config/QuarantineHousekeeping.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include "config/FileHandle.h"
#include "config/FilterSettings.h"

namespace bramvell {
namespace {

constexpr std::size_t kMinimumFolderLength = 4;
constexpr int kMinimumComponents = 2;

int ComponentsBelowRoot(const std::filesystem::path& path) {
    int count = 0;
    for (const auto& part : path.relative_path()) {
        if (!part.empty() && part != ".") {
            ++count;
        }
    }
    return count;
}

// Where the open directory really is, taken from the descriptor so that no later rename or link
// change can make it lie.
std::string OpenedFolderPath(int fd) {
    std::error_code error;
    std::filesystem::path real = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    return error ? std::string() : real.string();
}

std::vector<std::string> SortedEntryNames(int folderFd) {
    std::vector<std::string> names;
    int listingFd = ::dup(folderFd);
    if (listingFd < 0) {
        return names;
    }
    DIR* listing = ::fdopendir(listingFd);
    if (listing == nullptr) {
        ::close(listingFd);
        return names;
    }
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

bool IsQuarantineFileName(std::string_view name) {
    constexpr std::size_t kStampDigits = 14;  // YYYYMMDDhhmmss
    constexpr std::string_view kExtension = ".txt";
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (name.size() < kStampDigits + kExtension.size() || !name.ends_with(kExtension)) {
        return false;
    }
    for (std::size_t i = 0; i < kStampDigits; ++i) {
        if (!isDigit(name[i])) {
            return false;
        }
    }
    std::string_view suffix = name.substr(kStampDigits, name.size() - kStampDigits - kExtension.size());
    if (suffix.empty()) {
        return true;
    }
    if (suffix.size() < 2 || suffix.front() != '-') {
        return false;
    }
    suffix.remove_prefix(1);
    for (char c : suffix) {
        if (!isDigit(c)) {
            return false;
        }
    }
    return true;
}

bool MayEmptyQuarantineFolder(const std::string& folder) {
    if (folder.size() < kMinimumFolderLength) {
        return false;
    }
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(folder, error);
    if (error) {
        return false;
    }
    return ComponentsBelowRoot(absolute.lexically_normal()) >= kMinimumComponents;
}

int DeleteQuarantineFiles(const std::string& folder) {
    if (!MayEmptyQuarantineFolder(folder)) {
        return 0;
    }
    FileHandle folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folderFd.IsOpen()) {
        return 0;
    }
    const std::string real = OpenedFolderPath(folderFd.Get());
    if (real.empty() || ComponentsBelowRoot(std::filesystem::path(real)) < kMinimumComponents) {
        return 0;
    }
    int deleted = 0;
    for (const std::string& name : SortedEntryNames(folderFd.Get())) {
        if (!IsQuarantineFileName(name)) {
            continue;  // not ours: a folder set by mistake to a home folder loses nothing
        }
        struct stat info {};
        if (::fstatat(folderFd.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            S_ISDIR(info.st_mode)) {
            continue;
        }
        if (::unlinkat(folderFd.Get(), name.c_str(), 0) == 0) {
            ++deleted;
        }
    }
    return deleted;
}

void EmptyQuarantineFolder(FilterSettings& settings) {
    // A count below zero can only come from a damaged settings file; it would hold emptying off for
    // years, so it counts from zero.
    const int before = std::max(0, settings.daysSinceQuarantineEmptied.load());
    const int counted = before == std::numeric_limits<int>::max() ? before : before + 1;
    settings.daysSinceQuarantineEmptied = counted;
    if (settings.emptyQuarantineDays > counted) {
        return;
    }
    if (settings.emptyQuarantine == 1) {
        DeleteQuarantineFiles(settings.QuarantineFolder());
    }
    settings.daysSinceQuarantineEmptied = 0;
}

}  // namespace bramvell
