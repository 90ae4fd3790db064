#include "app/CommandSettings.h"

namespace bramvell {

CommandSettings::CommandSettings(const CommandContext& context)
    : application_(DefaultStartupPaths(context.programFolder)) {}

}  // namespace bramvell
