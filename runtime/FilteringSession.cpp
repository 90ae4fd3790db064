#include "runtime/FilteringSession.h"

#include "classify/ScorerChoice.h"
#include "config/FileOptions.h"
#include "config/FilterSettings.h"

namespace bramvell {

FilteringSession::FilteringSession(const std::string& programFolder, Kind kind)
    : kind_(kind), stored_(programFolder) {}

FilteringSession::~FilteringSession() {
    if (!stopped_) {
        // Dropped without an orderly stop: end the thread, save nothing.
        stored_.settings().stopRequested = 1;
        filter_.Join();
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
    return filter_.Start(settings, source, keys, tables_.ChiSquare());
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
