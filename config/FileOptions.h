#pragma once

#include "config/SettingsStore.h"

namespace bramvell {

class OptionsFile;
struct FileOptions;

// Copies what the options file says into the shared record (values it may not take read as defaults).
void ApplyOptionsFile(const OptionsFile& file, FileOptions& options);
// Reads the options file at `location` and applies it; a file that cannot be read leaves the defaults.
void LoadFileOptions(FileOptions& options, const SettingsLocation& location = DefaultSettingsLocation());

}  // namespace bramvell
