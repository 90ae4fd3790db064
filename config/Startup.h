#pragma once

#include <memory>
#include <string>

#include "config/FilterSettings.h"
#include "config/RegistryArchive.h"
#include "config/SettingsStore.h"

namespace bramvell {

// Everything start-up needs to know about where things live.
struct StartupPaths {
    std::string programFolder;          // holds Data/, log/, quarantine/ and reg.bak
    SettingsLocation settingsLocation;  // the stored settings value; its configHome also holds autostart/
    std::string executablePath;         // what the autostart entry runs
};

// The program folder given, the user's configuration folder and the running executable.
StartupPaths DefaultStartupPaths(const std::string& programFolder);

// The settings side of one run, shared by the tray application, the headless run and the commands.
// Construction is the start-up: the record is created with defaults, programFolder is set, the
// default folders are created when missing, and the record is bound to its stored value and loaded.
// Nothing is saved unless Save or Exit is called, so a run that must leave no trace (a second copy)
// simply drops the object.
class ApplicationSettings {
public:
    explicit ApplicationSettings(StartupPaths paths);
    ApplicationSettings(const ApplicationSettings&) = delete;
    ApplicationSettings& operator=(const ApplicationSettings&) = delete;

    // The record lives as long as this object; its address never changes.
    FilterSettings& Settings() { return *settings_; }
    const FilterSettings& Settings() const { return *settings_; }
    const RegistryArchive& Store() const { return store_; }
    const StartupPaths& Paths() const { return paths_; }

    // Writes the statistics backup and the stored value; true when the stored value was written.
    bool Save();

    // The orderly exit, once the filter thread has ended: Save, then (for the desktop application)
    // the autostart entry from "Automatically start when Windows starts". Only the first call acts;
    // it returns what Save did.
    bool Exit(bool updateAutostart = true);

private:
    StartupPaths paths_;
    std::unique_ptr<FilterSettings> settings_;
    RegistryArchive store_;
    bool exited_ = false;
    bool exitSaved_ = false;
};

}  // namespace bramvell
