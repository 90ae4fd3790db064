#include "config/Startup.h"

#include "config/Autostart.h"
#include "config/ProgramFolder.h"
#include "config/SettingsPersistence.h"

namespace bramvell {

StartupPaths DefaultStartupPaths(const std::string& programFolder) {
    return StartupPaths{programFolder, DefaultSettingsLocation(), ExecutablePath()};
}

ApplicationSettings::ApplicationSettings(StartupPaths paths)
    : paths_(std::move(paths)),
      settings_(std::make_unique<FilterSettings>()),
      store_(paths_.settingsLocation) {
    settings_->programFolder = paths_.programFolder;
    if (!paths_.programFolder.empty()) {
        CreateDefaultFolders(paths_.programFolder);
    }
    store_.Open("Options", "General", settings_.get());
    LoadSettings(*settings_, store_);
}

bool ApplicationSettings::Save() {
    return SaveSettings(*settings_, store_);
}

bool ApplicationSettings::Exit(bool updateAutostart) {
    if (!exited_) {
        exited_ = true;
        exitSaved_ = Save();
        if (updateAutostart) {
            UpdateAutostart(*settings_, paths_.settingsLocation.configHome, paths_.executablePath);
        }
    }
    return exitSaved_;
}

}  // namespace bramvell
