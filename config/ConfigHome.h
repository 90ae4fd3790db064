#pragma once

#include <string>

namespace bramvell {

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
// Empty when neither can be found.
std::string DefaultConfigHome();

// The executable's file name without its extension ("bramvell"); "bramvell" when unknown.
std::string ApplicationName();

}  // namespace bramvell
