#include "runtime/FilteringSession.h"

#include "classify/ScorerChoice.h"
#include "config/FileOptions.h"
#include "config/FilterSettings.h"
#include "config/MailAccounts.h"
#include "config/OptionsFile.h"
#include "lists/ListStore.h"
#include "runtime/ClassifierAnalyzer.h"

namespace bramvell {

FilteringSession::FilteringSession(const std::string& programFolder, Kind kind)
    : kind_(kind), stored_(programFolder) {}

FilteringSession::~FilteringSession() {
    if (!stopped_) {
        // Dropped without an orderly stop: end the thread, save nothing.
        stored_.settings().stopRequested = 1;
        filter_.Join();
        bridge_.reset();
        stored_.settings().mainWindow = nullptr;
        tables_.Free(stored_.settings());
    }
}

FilterSettings& FilteringSession::settings() {
    return stored_.settings();
}

bool FilteringSession::Load(const PumpEvents& pump, const ListDisplayTargets& displays) {
    FilterSettings& settings = stored_.settings();
    LoadFileOptions(settings);
    if (!tables_.LoadSenderLists(settings, pump, displays) || !tables_.LoadTokenTables(settings, pump)) {
        return false;
    }
    // The scorer is chosen once per run: a change of the option takes effect at the next start.
    tables_.OpenScorer(settings, StoredScorer() == Scorer::ChiSquare);
    return true;
}

bool FilteringSession::Start(PacketSource& source, MessageTarget& target, KeyState& keys) {
    FilterSettings& settings = stored_.settings();
    settings.mainWindow = &target;
    const bool started = filter_.Start(settings, source, keys, tables_.ChiSquare());
    StartBridge(target);
    return started;
}

bool FilteringSession::StartBridgeOnly(MessageTarget& target) {
    stored_.settings().mainWindow = &target;
    return StartBridge(target);
}

bool FilteringSession::StartBridge(MessageTarget& target) {
    if (bridge_) {
        return true;
    }
    OptionsFile options;
    if (!options.Load()) {
        return false;
    }
    const std::vector<MailAccount> accounts = LoadAccounts(options);
    if (accounts.empty()) {
        return false;
    }
    FilterSettings& settings = stored_.settings();
    // One analysis per bridge connection, over the same tables the filter thread reads under their locks.
    // The chi-square classifier (when the option chooses it) serves several threads.
    AnalyzerFactory makeAnalyzer = [&settings, chiSquare = tables_.ChiSquare()]() -> std::unique_ptr<MessageAnalyzer> {
        return std::make_unique<ClassifierAnalyzer>(settings, settings.listStore, DefaultClock(), chiSquare);
    };
    bridge_ = std::make_unique<TlsBridge>(BridgeServices{settings, target, std::move(makeAnalyzer), DefaultClock()});
    return bridge_->Start(accounts);
}

std::vector<AccountStatus> FilteringSession::BridgeStatus() const {
    return bridge_ ? bridge_->Status() : std::vector<AccountStatus>{};
}

bool FilteringSession::Stop(const StopSteps& steps) {
    if (stopped_) {
        return saved_;
    }
    stopped_ = true;
    FilterSettings& settings = stored_.settings();
    settings.stopRequested = 1;
    if (steps.waitForThread) {
        steps.waitForThread();
    }
    filter_.Join();
    bridge_.reset();  // its connections end first; what they posted is taken below
    // Verdicts posted while the thread was stopping still count.
    if (steps.takeLateMessages) {
        steps.takeLateMessages();
    }
    settings.mainWindow = nullptr;
    if (steps.beforeSaving) {
        steps.beforeSaving();
    }
    saved_ = stored_.Exit(kind_ == Kind::Desktop);
    tables_.Free(settings);
    return saved_;
}

bool FilteringSession::SaveOnly() {
    return Stop();
}

}  // namespace bramvell
