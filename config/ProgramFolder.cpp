#include "config/ProgramFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "config/FileHandle.h"

namespace bramvell {
namespace {

constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string Absolute(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return WithoutTrailingSeparator(error ? path : absolute.lexically_normal().string());
}

// An environment variable that names an absolute path, else empty.
std::string AbsoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : std::string();
}

// The user's home folder: $HOME when absolute, else the password database's entry.
std::string HomeFolder() {
    std::string home = AbsoluteVariable("HOME");
    if (home.empty()) {
        if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_dir != nullptr &&
                                                           entry->pw_dir[0] == '/') {
            home = entry->pw_dir;
        }
    }
    return WithoutTrailingSeparator(home);
}

}  // namespace

std::string ExecutablePath() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.string();
}

std::string ResolveProgramFolder(const std::string& explicitHome) {
    if (!explicitHome.empty()) {
        return Absolute(explicitHome);
    }
    if (const char* home = std::getenv("BRAMVELL_HOME"); home != nullptr && *home != '\0') {
        return Absolute(home);
    }
    if (::geteuid() == 0) {
        // Never the executable's folder: /usr/local/bin is no place for mail and logs.
        return kSystemProgramFolder;
    }
    const std::string executable = ExecutablePath();
    if (!executable.empty()) {
        const std::string folder = std::filesystem::path(executable).parent_path().string();
        if (IsPrivateFolderOfThisUser(folder) && ::access(folder.c_str(), W_OK) == 0) {
            return WithoutTrailingSeparator(folder);
        }
    }
    std::string dataHome = AbsoluteVariable("XDG_DATA_HOME");
    if (dataHome.empty()) {
        const std::string home = HomeFolder();
        if (home.empty() || home == "/") {
            return {};
        }
        dataHome = home + "/.local/share";
    }
    return WithoutTrailingSeparator(dataHome) + "/bramvell";
}

bool PrepareProgramFolder(const std::string& programFolder, std::string* problem) {
    auto fail = [&](const std::string& reason) {
        if (problem != nullptr) {
            *problem = reason;
        }
        return false;
    };
    if (programFolder.empty()) {
        return fail("no safe place for the program folder (no home folder); choose one with --home DIR");
    }
    if (!CreateDirectories(programFolder, kPrivateFolderMode)) {
        return fail("cannot create the program folder " + programFolder + ": " + std::strerror(errno));
    }
    struct stat info {};
    if (::stat(programFolder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return fail("the program folder " + programFolder + " is not a folder");
    }
    if (info.st_uid != ::geteuid()) {
        return fail("the program folder " + programFolder + " belongs to another user");
    }
    if ((info.st_mode & kWritableByOthers) != 0) {
        return fail("the program folder " + programFolder +
                    " may be written by other users; make it private (chmod go-w)");
    }
    return true;
}

void CreateDefaultFolders(const std::string& programFolder) {
    for (const char* name : {"Data", "log", "quarantine"}) {
        CreateDirectories(programFolder + "/" + name, kPrivateFolderMode);
    }
}

}  // namespace bramvell
