#include "config/Autostart.h"

#include <unistd.h>

#include "config/FileHandle.h"
#include "config/FilterSettings.h"

namespace bramvell {
namespace {

constexpr const char* kAutostartFileName = "Bramvell.desktop";

// One argument of an Exec key: inside double quotes, " ` $ \ take a backslash; % is doubled as
// field codes require. Then the value itself escapes backslashes and control characters.
std::string QuotedExecArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        if (c == '%') {
            quoted += '%';
        }
        quoted += c;
    }
    quoted += '"';

    std::string value;
    for (char c : quoted) {
        switch (c) {
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\r':
                value += "\\r";
                break;
            case '\t':
                value += "\\t";
                break;
            default:
                value += c;
        }
    }
    return value;
}

}  // namespace

std::string AutostartFilePath(const std::string& configHome) {
    return configHome + "/autostart/" + kAutostartFileName;
}

std::string AutostartExecLine(const std::string& executablePath, const std::string& programFolder) {
    std::string line = QuotedExecArgument(executablePath);
    if (!programFolder.empty()) {
        line += " --home ";
        line += QuotedExecArgument(programFolder);
    }
    return line;
}

std::string AutostartDesktopEntry(const std::string& executablePath, const std::string& programFolder) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Bramvell\n"
           "Comment=Bramvell Anti-Spam Filter\n"
           "Exec=" +
           AutostartExecLine(executablePath, programFolder) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void UpdateAutostart(const FilterSettings& settings, const std::string& configHome,
                     const std::string& executablePath) {
    if (configHome.empty()) {
        return;
    }
    if (settings.startWithWindows != 1) {
        ::unlink(AutostartFilePath(configHome).c_str());
        return;
    }
    if (executablePath.empty() || executablePath.front() != '/') {
        return;
    }
    const std::string folder = configHome + "/autostart";
    if (!CreateDirectories(folder, 0700)) {
        return;
    }
    WriteFileAtomically(folder, kAutostartFileName,
                        AutostartDesktopEntry(executablePath, settings.programFolder), 0644);
}

}  // namespace bramvell
