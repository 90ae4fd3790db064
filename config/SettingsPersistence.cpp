#include "config/SettingsPersistence.h"

#include "config/FilterSettings.h"
#include "config/RegistryArchive.h"
#include "config/StatisticsBackup.h"

namespace bramvell {

void LoadSettings(FilterSettings& settings, RegistryArchive& store) {
    if (store.Load()) {
        return;
    }
    settings.SetDefaults();
    ReadStatisticsBackup(settings);
}

bool SaveSettings(FilterSettings& settings, RegistryArchive& store) {
    WriteStatisticsBackup(settings);
    return store.Save();
}

}  // namespace bramvell
