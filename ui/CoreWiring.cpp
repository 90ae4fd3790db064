#include "ui/CoreWiring.h"

#include "config/FilterSettings.h"
#include "config/ProgramFolder.h"
#include "engine/KeyState.h"
#include "engine/MemoryPacketSource.h"
#include "engine/MessageTarget.h"
#include "ui/PasswordRule.h"

namespace bramvell {

// ---- Settings: until persistence is in, a run starts from the defaults and saves nothing.

struct StoredSettings::Parts {
    FilterSettings settings;
};

StoredSettings::StoredSettings(const std::string& programFolder) : parts_(std::make_unique<Parts>()) {
    parts_->settings.programFolder = programFolder;
    parts_->settings.SetDefaults();
    if (!programFolder.empty()) {
        CreateDefaultFolders(programFolder);
    }
}

StoredSettings::~StoredSettings() = default;

FilterSettings& StoredSettings::settings() {
    return parts_->settings;
}

bool StoredSettings::Exit() {
    return false;
}

// ---- Packet source: until the NFQUEUE source is in, only the simulated one exists.

std::unique_ptr<PacketSource> CreatePacketSource(bool simulated) {
    if (!simulated) {
        return nullptr;
    }
    auto source = std::make_unique<MemoryPacketSource>();
    source->SetAdapters({AdapterInfo{"eth0", 1}, AdapterInfo{"wlan0", 2}});
    return source;
}

// ---- Tables: until the list store and token tables are in, nothing is loaded.

struct CoreTables::Parts {};

CoreTables::CoreTables() : parts_(std::make_unique<Parts>()) {}
CoreTables::~CoreTables() = default;

bool CoreTables::LoadSenderLists(FilterSettings&, const PumpEvents& pump, const ListDisplayTargets&) {
    return !pump || pump();
}

bool CoreTables::LoadTokenTables(FilterSettings&, const PumpEvents& pump) {
    return !pump || pump();
}

void CoreTables::Free(FilterSettings& settings) {
    settings.listStore = nullptr;
    settings.tokenTables = nullptr;
}

// ---- Filter thread: until the engine's thread is in, filtering reports that it cannot start.

FilterThreadRunner::~FilterThreadRunner() {
    Join();
}

bool FilterThreadRunner::Start(FilterSettings& settings, PacketSource&, KeyState&) {
    if (settings.mainWindow != nullptr) {
        settings.mainWindow->Post(WM_FILTER_FAILED, WM_FILTER_FAILED);
    }
    return false;
}

void FilterThreadRunner::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

// ---- Housekeeping: until it is in, a day change does nothing.

void EmptyQuarantineOnDayChange(FilterSettings&) {}

// ---- Password gate.

bool RunPasswordGate(const FilterSettings& settings, UnlockPrompt& prompt) {
    if (!IsPasswordProtectionActive(settings)) {
        return true;
    }
    const std::optional<std::string> entered = prompt.AskPassword();
    if (!entered) {
        return false;
    }
    if (!IsPasswordCorrect(settings, *entered)) {
        prompt.ShowWarning("Incorrect Password!");
        return false;
    }
    return true;
}

}  // namespace bramvell
