#pragma once

#include <string>
#include <vector>

namespace bramvell {

// What every command receives: the resolved program folder and the words after the command name.
struct CommandContext {
    std::string programFolder;
    std::vector<std::string> arguments;
};

using CommandFunction = int (*)(CommandContext& context);

struct CommandInfo {
    const char* name;
    const char* usage;
    const char* summary;
    CommandFunction run;
};

// Commands register themselves from their own source file through a static CommandRegistration.
class CommandRegistry {
public:
    static void Add(const CommandInfo& info);
    static const CommandInfo* Find(const std::string& name);
    static const std::vector<CommandInfo>& All();
};

struct CommandRegistration {
    explicit CommandRegistration(const CommandInfo& info) { CommandRegistry::Add(info); }
};

}  // namespace bramvell
