#pragma once

// The points where the tray application meets the rest of the system: settings persistence, the
// packet source, the sender lists and token tables, the filter thread, housekeeping and the password
// gate. One function or small class each, so that the start-up sequence reads as a list of steps.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bramvell {

class ChiSquareClassifier;
class ChiSquareStore;
class FilterSettings;
class KeyState;
class PacketSource;
class PacketFilterThread;
class PasswordPrompt;

using PumpEvents = std::function<bool()>;                             // false: the application is quitting
using ListDisplayTargets = std::array<std::vector<std::string>*, 8>;  // the list pages' display lists, A..H

// The settings of one run: created with defaults, bound to the stored value and loaded on
// construction; saved (statistics backup, stored value, autostart entry) only by Exit, so a run that
// must leave no trace simply drops the object.
class StoredSettings {
  public:
    explicit StoredSettings(const std::string& programFolder);
    ~StoredSettings();
    StoredSettings(const StoredSettings&) = delete;
    StoredSettings& operator=(const StoredSettings&) = delete;

    FilterSettings& settings();
    // The orderly exit's saving; true when the stored value was written. A run without a desktop
    // session leaves the autostart entry alone.
    bool Exit(bool updateAutostart = true);

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// The packet source the filter thread reads. A simulated source has two made-up adapters and no
// traffic (trying the panel without privileges, screenshots). The real one takes the connections of
// the user running it - or, run by root, everyone's unless onlyUser names one uid. Null when none can
// be made.
std::unique_ptr<PacketSource> CreatePacketSource(bool simulated, std::optional<uint32_t> onlyUser = {});

// With "Automatically select network adaptor :" on, points adapterIndex at the interface of the
// default route (left as it is when there is none).
void ApplyAutomaticAdapterSelection(FilterSettings& settings, PacketSource& source);

// The sender lists and token tables that start-up loads and the exit path frees.
class CoreTables {
  public:
    CoreTables();
    ~CoreTables();
    CoreTables(const CoreTables&) = delete;
    CoreTables& operator=(const CoreTables&) = delete;

    // Loads the eight sender lists and fills the list pages' display lists; false when quitting.
    bool LoadSenderLists(FilterSettings& settings, const PumpEvents& pump,
                         const ListDisplayTargets& displays);
    // Loads the bucket-count and token files; false when quitting.
    bool LoadTokenTables(FilterSettings& settings, const PumpEvents& pump);
    // With the option `scorer` at chi-square, opens the chi-square store in Data/ (made when missing) and
    // keeps it, with its classifier, until Free; with classic, nothing. A store that cannot be opened is
    // logged, and every message then scores unsure: delivered, never deleted.
    void OpenScorer(FilterSettings& settings, bool chiSquare);
    // The chi-square classifier of the filter, or null for the classic tables.
    const ChiSquareClassifier* ChiSquare() const;
    // The chi-square store the filter holds open, or null (classic scorer).
    ChiSquareStore* OpenChiSquareStore() const;
    // Frees what was loaded and clears the record's handles.
    void Free(FilterSettings& settings);

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// PacketFilterThread, started by the control panel's initialisation and joined after the stop
// handshake.
class FilterThreadRunner {
  public:
    FilterThreadRunner();
    ~FilterThreadRunner();
    // Starts the thread; false (with WM_FILTER_FAILED posted) when it cannot run. With a chi-square
    // classifier (which must outlive the thread) the analysis scores with it.
    bool Start(FilterSettings& settings, PacketSource& source, KeyState& keys,
               const ChiSquareClassifier* chiSquare = nullptr);
    // After the handshake: waits for the thread to be gone and returns the adapter to normal mode.
    void Join();

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

// The control panel's answer to WM_DAY_CHANGED.
void EmptyQuarantineOnDayChange(FilterSettings& settings);

// True when the panel may come back: protection inactive, or the right password given.
bool RunPasswordGate(const FilterSettings& settings, PasswordPrompt& prompt);

}  // namespace bramvell
