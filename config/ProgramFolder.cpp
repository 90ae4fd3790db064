#include "config/ProgramFolder.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace bramvell {
namespace {

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
    const std::string executable = ExecutablePath();
    if (!executable.empty()) {
        std::string folder = std::filesystem::path(executable).parent_path().string();
        if (::access(folder.c_str(), W_OK) == 0) {
            return WithoutTrailingSeparator(folder);
        }
    }
    std::string dataHome;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
        dataHome = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        dataHome = std::string(home) + "/.local/share";
    } else {
        dataHome = "/tmp";
    }
    return WithoutTrailingSeparator(dataHome + "/bramvell");
}

void CreateDefaultFolders(const std::string& programFolder) {
    std::error_code error;
    for (const char* name : {"Data", "log", "quarantine"}) {
        std::filesystem::create_directories(programFolder + "/" + name, error);
    }
}

}  // namespace bramvell
