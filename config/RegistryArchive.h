#pragma once

#include <string>

#include "config/SettingsStore.h"

namespace bramvell {

class FilterSettings;

// Binds one FilterSettings record to its stored value ("General" in section "Options").
class RegistryArchive {
public:
    explicit RegistryArchive(SettingsLocation location = DefaultSettingsLocation())
        : location_(std::move(location)) {}

    // Closes a section open before, opens (creating when missing) the section and keeps the
    // value name and the record. False when the section cannot be opened.
    bool Open(const std::string& section, const std::string& valueName, FilterSettings* record);
    bool IsOpen() const { return store_.IsOpen() && record_ != nullptr; }

    // True when the value was read and fully deserialised into the record.
    bool Load();
    // True when the serialised record was written as the value.
    bool Save();

    const SettingsStore& Store() const { return store_; }

private:
    SettingsLocation location_;
    SettingsStore store_;
    std::string valueName_;
    FilterSettings* record_ = nullptr;
};

}  // namespace bramvell
