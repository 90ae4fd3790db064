#pragma once

#include "app/Command.h"
#include "config/Startup.h"

namespace bramvell {

// The stored settings of context.programFolder for a command. Construction loads them (defaults and
// the statistics backup when nothing is stored). A command that changes statistics (learn) calls
// Save before it returns; the others just let the object go. Commands never touch the autostart
// entry: that belongs to the exit of the tray application and the headless run.
class CommandSettings {
public:
    explicit CommandSettings(const CommandContext& context);

    FilterSettings& Settings() { return application_.Settings(); }

    // Writes the statistics backup and the stored value. True when the stored value was written.
    bool Save() { return application_.Save(); }

private:
    ApplicationSettings application_;
};

}  // namespace bramvell
