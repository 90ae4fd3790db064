#include "config/ConfigHome.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "config/ProgramFolder.h"

namespace bramvell {

std::string DefaultConfigHome() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    std::string home;
    if (const char* value = std::getenv("HOME"); value != nullptr && value[0] == '/') {
        home = value;
    } else if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        home = entry->pw_dir;
    }
    if (home.empty()) {
        return {};
    }
    while (home.size() > 1 && home.back() == '/') {
        home.pop_back();
    }
    return home == "/" ? "/.config" : home + "/.config";
}

std::string ApplicationName() {
    const std::string executable = ExecutablePath();
    std::string name = std::filesystem::path(executable).stem().string();
    return name.empty() ? "bramvell" : name;
}

}  // namespace bramvell
