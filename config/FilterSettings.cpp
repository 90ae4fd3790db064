#include "config/FilterSettings.h"

#include "config/SettingsItems.h"

namespace bramvell {

int ThresholdLimit(bool thresholdEnabled, int thresholdLevel) {
    if (!thresholdEnabled || thresholdLevel < kMinThresholdLevel || thresholdLevel > kMaxThresholdLevel) {
        return kThresholdBase;
    }
    return kThresholdBase + kThresholdStep * (thresholdLevel - 1);
}

FilterSettings::FilterSettings() { SetDefaults(); }

void FilterSettings::SetDefaults() {
    filterRunning = 0;
    stopRequested = 0;
    outboundEmailLock = 0;
    tipsShownThisSession = 0;
    for (const SettingsItem& item : SettingsItems()) {
        switch (item.kind) {
            case SettingsItem::Kind::Integer:
                this->*item.integer = item.defaultValue;
                break;
            case SettingsItem::Kind::Text:
                (this->*item.text).clear();
                break;
            case SettingsItem::Kind::LogFolder:
                SetLogFolder(programFolder + "/" + item.defaultSubfolder);
                break;
            case SettingsItem::Kind::QuarantineFolder:
                SetQuarantineFolder(programFolder + "/" + item.defaultSubfolder);
                break;
        }
    }
}

std::string FilterOptions::LogFolder() const {
    std::lock_guard lock(folderMutex_);
    return logFolder_;
}

void FilterOptions::SetLogFolder(std::string folder) {
    std::lock_guard lock(folderMutex_);
    logFolder_ = std::move(folder);
}

std::string FilterOptions::QuarantineFolder() const {
    std::lock_guard lock(folderMutex_);
    return quarantineFolder_;
}

void FilterOptions::SetQuarantineFolder(std::string folder) {
    std::lock_guard lock(folderMutex_);
    quarantineFolder_ = std::move(folder);
}

}  // namespace bramvell
