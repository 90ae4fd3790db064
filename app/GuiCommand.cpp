// The tray application, run when bramvell is started without a command.
#ifdef BRAMVELL_HAVE_UI

#include <QApplication>
#include <cstdio>
#include <string>

#include "app/Command.h"
#include "config/ProgramFolder.h"
#include "ui/TrayApplication.h"

namespace bramvell {

namespace {

int RunGui(CommandContext& context) {
    TrayApplicationOptions options;
    options.programFolder = context.programFolder;
    for (const std::string& argument : context.arguments) {
        if (argument == "--simulate") {
            options.simulatedSource = true;
        } else {
            std::fprintf(stderr, "bramvell gui: unknown option '%s'\n", argument.c_str());
            return 2;
        }
    }
    // QApplication keeps references to argc and argv for its whole life.
    static std::string executable = ExecutablePath().empty() ? std::string("bramvell") : ExecutablePath();
    static int argc = 1;
    static char* argv[] = {executable.data(), nullptr};
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("bramvell"));
    QApplication::setQuitOnLastWindowClosed(false);
    return RunTrayApplication(options);
}

const CommandRegistration registration({"gui", "gui [--simulate]",
                                        "the tray application (the default; --simulate: no real traffic)",
                                        RunGui});

}  // namespace

}  // namespace bramvell

#endif
