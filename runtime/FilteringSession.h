#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bridge/TlsBridge.h"
#include "runtime/CoreWiring.h"

namespace bramvell {

class FilterSettings;
class KeyState;
class TlsBridge;
class MessageTarget;
class PacketSource;

// One run of the filter, for the tray application and the headless run alike. Construction loads
// the stored settings; Load reads the lists and word tables; Start runs the filter thread with the
// given source, message target and key state; Stop (or destruction) ends it in one order: the stop
// request, the wait, the join, the messages posted on the way out, saving, then freeing the tables.
// Dropped without Stop it ends the thread and saves nothing (a run that must leave no trace).
class FilteringSession {
  public:
    // A desktop session writes the autostart entry at its orderly exit; a headless one, and a simulated
    // desktop session (whose entry would start the real filter at the next log-in), leave it.
    enum class Kind { Desktop, SimulatedDesktop, Headless };

    FilteringSession(const std::string& programFolder, Kind kind);
    ~FilteringSession();
    FilteringSession(const FilteringSession&) = delete;
    FilteringSession& operator=(const FilteringSession&) = delete;

    FilterSettings& settings();

    // The eight sender lists (filling the list pages' display lists) and the word tables; false
    // when the pump says the application is quitting.
    bool Load(const PumpEvents& pump = {}, const ListDisplayTargets& displays = {});

    // True when Load found the option `scorer` at chi-square: the filter scores with the chi-square store.
    bool ScoresByChiSquare() const { return tables_.ChiSquare() != nullptr; }
    // The chi-square store the filter holds open, for learning from the control panel; null otherwise.
    ChiSquareStore* OpenChiSquareStore() const { return tables_.OpenChiSquareStore(); }

    // Starts the filter thread and the TLS bridge of the configured accounts; false (with
    // WM_FILTER_FAILED posted) when the filter thread cannot run.
    bool Start(PacketSource& source, MessageTarget& target, KeyState& keys);
    // The TLS bridge alone, for a run whose packet source cannot start (the bridge needs no network
    // capabilities). False when no account is configured or none could listen.
    bool StartBridgeOnly(MessageTarget& target);
    // The accounts' state while the bridge runs (empty otherwise).
    std::vector<AccountStatus> BridgeStatus() const;

    // How the stop waits for the thread and takes what it posted meanwhile.
    struct StopSteps {
        std::function<void()> waitForThread;  // empty: the join waits
        std::function<void()> takeLateMessages;
        std::function<void()> beforeSaving;  // e.g. windows closed, a run-only choice put back
    };
    // The orderly end; only the first call acts. True when the stored settings were written.
    bool Stop(const StopSteps& steps = {});

    // Ends the run without filtering (no packet source): saves as an orderly exit does.
    bool SaveOnly();

  private:
    bool StartBridge(MessageTarget& target);

    Kind kind_;
    StoredSettings stored_;
    CoreTables tables_;
    FilterThreadRunner filter_;
    std::unique_ptr<TlsBridge> bridge_;
    bool stopped_ = false;
    bool saved_ = false;
};

}  // namespace bramvell
