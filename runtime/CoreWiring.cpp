#include "runtime/CoreWiring.h"

#include <unistd.h>

#include "classify/ChiSquareClassifier.h"
#include "classify/ChiSquareStore.h"
#include "classify/ScorerChoice.h"
#include "classify/TokenTableLoader.h"
#include "classify/TokenTables.h"
#include "config/ActivityLog.h"
#include "config/Clock.h"
#include "config/FilterSettings.h"
#include "config/PasswordGate.h"
#include "config/QuarantineHousekeeping.h"
#include "config/Startup.h"
#include "engine/KeyState.h"
#include "engine/MemoryPacketSource.h"
#include "engine/MessageTarget.h"
#include "engine/PacketFilterThread.h"
#include "engine/Pop3Interceptor.h"
#include "lists/ListStore.h"
#include "platform/linux/NetworkInterfaces.h"
#include "platform/linux/NfqueuePacketSource.h"
#include "runtime/ClassifierAnalyzer.h"

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

bool StoredSettings::Exit(bool updateAutostart) {
    return parts_->application.Exit(updateAutostart);
}

// ---- Packet source: NFQUEUE on this machine; the simulated one has no traffic.

std::unique_ptr<PacketSource> CreatePacketSource(bool simulated, std::optional<uint32_t> onlyUser) {
    if (!simulated) {
        // An ordinary user's capabilities come with the executable, not with a right to others' mail.
        const uid_t user = geteuid();
        return std::make_unique<NfqueuePacketSource>(NfqueueOptionsFor(user == 0 ? onlyUser : user));
    }
    auto source = std::make_unique<MemoryPacketSource>();
    source->SetAdapters({AdapterInfo{"eth0", 1}, AdapterInfo{"wlan0", 2}});
    return source;
}

void ApplyAutomaticAdapterSelection(FilterSettings& settings, PacketSource& source) {
    if (settings.autoSelectAdapter == 0) {
        return;
    }
    const unsigned defaultRoute = DefaultRouteInterfaceIndex();
    if (defaultRoute == 0) {
        return;
    }
    const int position = AdapterPosition(source.GetTcpipBoundAdaptersInfo(), defaultRoute);
    if (position >= 0) {
        settings.adapterIndex = position;
    }
}

// ---- Tables: the sender lists now; the token tables plug in beside them.

struct CoreTables::Parts {
    std::unique_ptr<ListStore> lists;
    std::unique_ptr<TokenTables> tokens;
    std::unique_ptr<ChiSquareStore> chiSquareStore;
    std::unique_ptr<ChiSquareClassifier> chiSquare;
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

bool CoreTables::LoadTokenTables(FilterSettings& settings, const PumpEvents& pump) {
    parts_->tokens = std::make_unique<TokenTables>();
    settings.tokenTables = parts_->tokens.get();
    return bramvell::LoadTokenTables(*parts_->tokens, settings.programFolder, pump) == LoadStatus::Complete;
}

void CoreTables::OpenScorer(FilterSettings& settings, bool chiSquare) {
    parts_->chiSquare.reset();
    parts_->chiSquareStore.reset();
    if (!chiSquare) {
        return;
    }
    parts_->chiSquareStore = std::make_unique<ChiSquareStore>();
    std::string problem;
    if (!parts_->chiSquareStore->Open(ChiSquareStoreFolder(settings.programFolder), true, problem)) {
        LogActivity(settings, "The chi-square store could not be opened (" + problem +
                                  "); every message is judged unsure and delivered\n");
    }
    // The cutoffs are the threshold level's at each message; the classifier's own go unused.
    parts_->chiSquare = std::make_unique<ChiSquareClassifier>(*parts_->chiSquareStore, ChiSquareParameters{},
                                                              ChiSquareCutoffsOf(settings));
}

const ChiSquareClassifier* CoreTables::ChiSquare() const {
    return parts_->chiSquare.get();
}

ChiSquareStore* CoreTables::OpenChiSquareStore() const {
    return parts_->chiSquareStore && parts_->chiSquareStore->IsOpen() ? parts_->chiSquareStore.get()
                                                                      : nullptr;
}

void CoreTables::Free(FilterSettings& settings) {
    settings.listStore = nullptr;
    settings.tokenTables = nullptr;
    if (parts_->lists) {
        parts_->lists->FreeAll();
        parts_->lists.reset();
    }
    parts_->tokens.reset();
    parts_->chiSquare.reset();
    parts_->chiSquareStore.reset();
}

// ---- Filter thread, with POP3 interception and the message analysis behind it.

struct FilterThreadRunner::Parts {
    std::unique_ptr<ClassifierAnalyzer> analyzer;
    std::unique_ptr<Pop3Interceptor> pop3;
    std::unique_ptr<PacketFilterThread> thread;
};

FilterThreadRunner::FilterThreadRunner() : parts_(std::make_unique<Parts>()) {}

FilterThreadRunner::~FilterThreadRunner() {
    Join();
}

bool FilterThreadRunner::Start(FilterSettings& settings, PacketSource& source, KeyState& keys,
                               const ChiSquareClassifier* chiSquare) {
    if (settings.mainWindow == nullptr || parts_->thread) {
        return false;
    }
    settings.filterRunning = 0;
    settings.stopRequested = 0;
    parts_->analyzer =
        std::make_unique<ClassifierAnalyzer>(settings, settings.listStore, DefaultClock(), chiSquare);
    parts_->pop3 = std::make_unique<Pop3Interceptor>(settings, *parts_->analyzer, keys, *settings.mainWindow);
    parts_->thread = std::make_unique<PacketFilterThread>(settings, source, *settings.mainWindow, keys,
                                                          DefaultClock(), parts_->pop3.get());
    parts_->thread->Start();
    return true;
}

void FilterThreadRunner::Join() {
    if (parts_->thread) {
        parts_->thread->Join();
        parts_->thread->StopFiltering();
        parts_->thread.reset();
    }
    parts_->pop3.reset();
    parts_->analyzer.reset();
}

// ---- Housekeeping and the password gate.

void EmptyQuarantineOnDayChange(FilterSettings& settings) {
    EmptyQuarantineFolder(settings);
}

bool RunPasswordGate(const FilterSettings& settings, PasswordPrompt& prompt) {
    return PasswordGate(settings, prompt);
}

}  // namespace bramvell
