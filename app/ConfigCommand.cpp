// `bramvell config`: the options that live in the options file beside the stored settings.
#include <cstdio>
#include <string>

#include "app/Command.h"
#include "config/OptionsFile.h"

namespace bramvell {
namespace {

int Usage() {
    std::fprintf(stderr, "usage: bramvell config get KEY | set KEY VALUE | list\n");
    return 2;
}

int RunConfig(CommandContext& context) {
    const std::vector<std::string>& words = context.arguments;
    if (words.empty()) {
        return Usage();
    }
    OptionsFile options;
    if (!options.Load()) {
        std::fprintf(stderr, "bramvell config: cannot open the settings folder for %s\n",
                     options.Path().c_str());
        return 1;
    }
    const std::string& verb = words[0];
    if (verb == "list" && words.size() == 1) {
        for (const OptionSpec& option : KnownOptions()) {
            const std::string key(option.key);
            std::printf("%s = %s\t# %.*s\n", key.c_str(), options.Get(key).c_str(),
                        static_cast<int>(option.help.size()), option.help.data());
        }
        return 0;
    }
    if (verb == "get" && words.size() == 2) {
        if (FindOption(words[1]) == nullptr) {
            std::fprintf(stderr, "bramvell config: unknown option '%s'\n", words[1].c_str());
            return 2;
        }
        std::printf("%s\n", options.Get(words[1]).c_str());
        return 0;
    }
    if (verb == "set" && words.size() == 3) {
        std::string problem;
        if (!options.Set(words[1], words[2], &problem)) {
            std::fprintf(stderr, "bramvell config: %s\n", problem.c_str());
            return 2;
        }
        if (!options.Save()) {
            std::fprintf(stderr, "bramvell config: cannot write %s\n", options.Path().c_str());
            return 1;
        }
        return 0;
    }
    return Usage();
}

const CommandRegistration registration({"config", "config get KEY | set KEY VALUE | list",
                                        "read or change an option of the options file", RunConfig});

}  // namespace
}  // namespace bramvell
