#include "runtime/CoreWiring.h"

#include "config/Clock.h"
#include "config/FilterSettings.h"
#include "config/PasswordGate.h"
#include "config/QuarantineHousekeeping.h"
#include "config/Startup.h"
#include "engine/KeyState.h"
#include "engine/MemoryPacketSource.h"
#include "engine/MessageTarget.h"
#include "engine/PacketFilterThread.h"
#include "lists/ListStore.h"

namespace bramvell {

// ---- Settings: the stored value, the statistics backup and the autostart entry.

struct StoredSettings::Parts {
    explicit Parts(const std::string& programFolder) : application(DefaultStartupPaths(programFolder)) {}
    ApplicationSettings application;
};

StoredSettings::StoredSettings(const std::string& programFolder)
    : parts_(std::make_unique<Parts>(programFolder)) {}

StoredSettings::~StoredSettings() = default;

FilterSettings& StoredSettings::settings() {
    return parts_->application.Settings();
}

bool StoredSettings::Exit() {
    return parts_->application.Exit();
}

// ---- Packet source. The NFQUEUE source plugs in here; the simulated one has no traffic.

std::unique_ptr<PacketSource> CreatePacketSource(bool simulated) {
    if (!simulated) {
        return nullptr;
    }
    auto source = std::make_unique<MemoryPacketSource>();
    source->SetAdapters({AdapterInfo{"eth0", 1}, AdapterInfo{"wlan0", 2}});
    return source;
}

// ---- Tables: the sender lists now; the token tables plug in beside them.

struct CoreTables::Parts {
    std::unique_ptr<ListStore> lists;
};

CoreTables::CoreTables() : parts_(std::make_unique<Parts>()) {}
CoreTables::~CoreTables() = default;

bool CoreTables::LoadSenderLists(FilterSettings& settings, const PumpEvents& pump,
                                 const ListDisplayTargets& displays) {
    parts_->lists = std::make_unique<ListStore>(settings.programFolder);
    settings.listStore = parts_->lists.get();
    DisplayLists loaded;
    const bool goOn = parts_->lists->LoadAll(pump, &loaded);
    for (std::size_t i = 0; i < displays.size() && i < loaded.size(); ++i) {
        if (displays[i] != nullptr) {
            *displays[i] = std::move(loaded[i]);
        }
    }
    return goOn;
}

bool CoreTables::LoadTokenTables(FilterSettings&, const PumpEvents& pump) {
    return !pump || pump();
}

void CoreTables::Free(FilterSettings& settings) {
    settings.listStore = nullptr;
    settings.tokenTables = nullptr;
    if (parts_->lists) {
        parts_->lists->FreeAll();
        parts_->lists.reset();
    }
}

// ---- Filter thread. The POP3 handler plugs in as the thread's last argument.

FilterThreadRunner::FilterThreadRunner() = default;

FilterThreadRunner::~FilterThreadRunner() {
    Join();
}

bool FilterThreadRunner::Start(FilterSettings& settings, PacketSource& source, KeyState& keys) {
    if (settings.mainWindow == nullptr || thread_) {
        return false;
    }
    thread_ = std::make_unique<PacketFilterThread>(settings, source, *settings.mainWindow, keys,
                                                   DefaultClock(), nullptr);
    thread_->Start();
    return true;
}

void FilterThreadRunner::Join() {
    if (thread_) {
        thread_->Join();
        thread_->StopFiltering();
        thread_.reset();
    }
}

// ---- Housekeeping and the password gate.

void EmptyQuarantineOnDayChange(FilterSettings& settings) {
    EmptyQuarantineFolder(settings);
}

bool RunPasswordGate(const FilterSettings& settings, PasswordPrompt& prompt) {
    return PasswordGate(settings, prompt);
}

}  // namespace bramvell
