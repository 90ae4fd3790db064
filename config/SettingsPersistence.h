#pragma once

namespace bramvell {

class FilterSettings;
class RegistryArchive;

// Loads the record from its stored value. When that fails (no value, unreadable, too short or
// malformed) every field returns to its default, with the folders under programFolder, and the
// statistics come from the backup file when it exists. The record always ends usable.
void LoadSettings(FilterSettings& settings, RegistryArchive& store);

// Writes the statistics backup, then the stored value. True when the stored value was written.
bool SaveSettings(FilterSettings& settings, RegistryArchive& store);

}  // namespace bramvell
