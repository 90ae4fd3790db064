#pragma once

#include <string>

namespace bramvell {

class FilterSettings;

// configHome + "/autostart/Bramvell.desktop": the XDG autostart entry of the desktop session.
std::string AutostartFilePath(const std::string& configHome);

// Exec value of a desktop entry that runs the executable with --home programFolder (left out when
// programFolder is empty), each argument quoted and escaped as desktop entries require.
std::string AutostartExecLine(const std::string& executablePath, const std::string& programFolder);

// The whole desktop entry.
std::string AutostartDesktopEntry(const std::string& executablePath, const std::string& programFolder);

// Called at every orderly exit: writes the entry when "Automatically start when Windows starts" is
// on, removes it when off. An entry that cannot be written or removed is left as it was, silently.
void UpdateAutostart(const FilterSettings& settings, const std::string& configHome,
                     const std::string& executablePath);

}  // namespace bramvell
