// Command line of bramvell: the tray application by default, or one of the registered commands.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/Command.h"
#include "config/ProgramFolder.h"
#include "platform/linux/Capabilities.h"

namespace bramvell {

namespace {

std::vector<CommandInfo>& Registry() {
    static std::vector<CommandInfo> commands;
    return commands;
}

void PrintHelp() {
    std::printf(
        "Usage: bramvell [--home DIR] [COMMAND [ARGS...]]\n"
        "\n"
        "Bramvell filters spam out of POP3 mail before the mail client sees it.\n"
        "Without a command it starts the tray application.\n"
        "\n"
        "Options:\n"
        "  --home DIR    program folder holding Data/, log/, quarantine/ and reg.bak\n"
        "  --help        show this help\n"
        "  --version     show the version\n");
    std::vector<CommandInfo> commands = Registry();
    std::sort(commands.begin(), commands.end(),
              [](const CommandInfo& a, const CommandInfo& b) { return std::strcmp(a.name, b.name) < 0; });
    if (!commands.empty()) {
        std::printf("\nCommands:\n");
        for (const CommandInfo& command : commands) {
            std::printf("  %-28s %s\n", command.usage, command.summary);
        }
    }
}

}  // namespace

void CommandRegistry::Add(const CommandInfo& info) {
    Registry().push_back(info);
}

const CommandInfo* CommandRegistry::Find(const std::string& name) {
    for (const CommandInfo& command : Registry()) {
        if (name == command.name) {
            return &command;
        }
    }
    return nullptr;
}

const std::vector<CommandInfo>& CommandRegistry::All() {
    return Registry();
}

}  // namespace bramvell

int main(int argc, char** argv) {
    using namespace bramvell;
    // Before any thread exists, so that every thread starts with no effective capability.
    LowerEffectiveCapabilities();
    std::string home;
    std::string commandName;
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--help" || word == "-h") {
            PrintHelp();
            return 0;
        }
        if (word == "--version") {
            std::printf("bramvell %s\n", BRAMVELL_VERSION);
            return 0;
        }
        if (word == "--home") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "bramvell: --home needs a folder\n");
                return 2;
            }
            home = argv[++i];
            continue;
        }
        if (word.rfind("--home=", 0) == 0) {
            home = word.substr(7);
            continue;
        }
        if (commandName.empty() && (word.empty() || word[0] != '-')) {
            commandName = word;
            continue;
        }
        arguments.push_back(word);
    }

    if (commandName.empty()) {
        commandName = "gui";
    }
    const CommandInfo* command = CommandRegistry::Find(commandName);
    if (command == nullptr) {
        if (commandName == "gui") {
            std::fprintf(stderr, "bramvell: this build has no tray application; see --help\n");
        } else {
            std::fprintf(stderr, "bramvell: unknown command '%s'; see --help\n", commandName.c_str());
        }
        return 2;
    }
    CommandContext context{ResolveProgramFolder(home), arguments};
    std::string problem;
    if (!PrepareProgramFolder(context.programFolder, &problem)) {
        std::fprintf(stderr, "bramvell: %s\n", problem.c_str());
        return 1;
    }
    return command->run(context);
}
