#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/FilterSettings.h"

namespace bramvell {

// One stored item of the settings value: an integer field with its default, a text field (default
// empty), or one of the two guarded folders (default: the program folder and a sub-folder name).
struct SettingsItem {
    enum class Kind : uint8_t { Integer, Text, LogFolder, QuarantineFolder };

    Kind kind;
    const char* name;
    SharedInt FilterSettings::*integer = nullptr;
    std::string FilterSettings::*text = nullptr;
    int32_t defaultValue = 0;
    const char* defaultSubfolder = nullptr;  // folders: programFolder + "/" + this
};

inline constexpr std::size_t kSettingsItemCount = 51;

// Every stored item in the stored order, written once: defaults, the blob's layout and its item count
// all come from here.
const std::array<SettingsItem, kSettingsItemCount>& SettingsItems();

}  // namespace bramvell
