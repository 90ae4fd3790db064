#pragma once

#include <string>

namespace bramvell {

// The folder that holds Data/, log/, quarantine/ and reg.bak: the explicit choice (--home) when given,
// else $BRAMVELL_HOME, else the executable's folder when writable, else $XDG_DATA_HOME/bramvell.
// Returned without a trailing separator.
std::string ResolveProgramFolder(const std::string& explicitHome);

// Creates Data/, log/ and quarantine/ under the program folder when missing.
void CreateDefaultFolders(const std::string& programFolder);

// Path of the running executable, empty when unknown.
std::string ExecutablePath();

}  // namespace bramvell
