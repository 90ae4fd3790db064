#include "config/RegistryArchive.h"

#include "config/FilterSettings.h"
#include "config/SettingsBlob.h"

namespace bramvell {

bool RegistryArchive::Open(const std::string& section, const std::string& valueName, FilterSettings* record) {
    valueName_ = valueName;
    record_ = record;
    return store_.Open(location_, section);
}

bool RegistryArchive::Load() {
    if (!IsOpen()) {
        return false;
    }
    std::optional<std::string> blob = store_.Read(valueName_);
    if (!blob) {
        return false;
    }
    LoadingArchive archive(*blob);
    return Serialize(*record_, archive);
}

bool RegistryArchive::Save() {
    if (!IsOpen()) {
        return false;
    }
    StoringArchive archive;
    if (!Serialize(*record_, archive)) {
        return false;
    }
    return store_.Write(valueName_, archive.Bytes());
}

}  // namespace bramvell
