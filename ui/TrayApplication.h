#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "ui/ControlPanel.h"

namespace bramvell {

class PacketSource;
class Prompter;

inline constexpr const char* kDriverFailedMessage =
    "Bramvell network driver failed to load or was not installed.";

struct TrayApplicationOptions {
    std::string programFolder;
    bool simulatedSource = false;
    // When set, makes the packet source in place of the machine's own (tests).
    std::function<std::unique_ptr<PacketSource>()> createSource;
    // Where the single-instance lock lives; empty for the default place.
    std::string lockPath;
    // Tests answer the dialogs and fix the tray's presence; the application leaves both unset.
    Prompter* prompter = nullptr;
    std::optional<TrayPresence> trayPresence;
    // Called once the control panel is initialised, just before the run's event loop starts.
    std::function<void(ControlPanel&)> onRunning;
};

// Exit codes of the tray application.
inline constexpr int kExitNormal = 0;
inline constexpr int kExitNoSource = 1;

// The tray application from start to end, inside an existing QApplication: single instance,
// settings, packet-source check, adapter names, pages, lists and tables (with events pumped: a
// termination request meanwhile ends the start-up), the hidden control panel's run, then the stop
// handshake, saving and autostart. SIGTERM and SIGINT end the run in the same order without the
// question. A second copy returns at once and saves nothing.
int RunTrayApplication(const TrayApplicationOptions& options);

}  // namespace bramvell
