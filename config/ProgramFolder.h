#pragma once

#include <string>

namespace bramvell {

// Root's program folder when none is chosen.
inline constexpr const char* kSystemProgramFolder = "/var/lib/bramvell";

// The folder that holds Data/, log/, quarantine/ and reg.bak: the explicit choice (--home) when given,
// else $BRAMVELL_HOME, else (for an ordinary user) the executable's folder when it is the user's own
// and writable by no one else, else $XDG_DATA_HOME/bramvell or ~/.local/share/bramvell; root's is
// /var/lib/bramvell. Empty when there is nowhere safe (no home folder): never a shared folder such as
// /tmp. Returned without a trailing separator.
std::string ResolveProgramFolder(const std::string& explicitHome);

// Creates the program folder when missing (new levels 0700) and checks that it is a folder of this
// user's that no one else may write to: another user's folder, or one writable by group or others,
// could have links planted in it. False with the reason in problem otherwise.
bool PrepareProgramFolder(const std::string& programFolder, std::string* problem);

// Creates Data/, log/ and quarantine/ under the program folder when missing (mode 0700).
void CreateDefaultFolders(const std::string& programFolder);

// Path of the running executable, empty when unknown.
std::string ExecutablePath();

}  // namespace bramvell
