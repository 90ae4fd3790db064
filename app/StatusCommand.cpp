// `bramvell status`: what the running filter of this user reports through its status socket.
#include <cstdio>
#include <string>

#include "app/Command.h"
#include "runtime/StatusSocket.h"

namespace bramvell {
namespace {

constexpr int kNotRunningStatus = 3;  // as `systemctl status` answers for a stopped unit
constexpr int kStatusTimeoutMs = 3000;

int RunStatus(CommandContext& context) {
    if (!context.arguments.empty()) {
        std::fprintf(stderr, "usage: bramvell status\n");
        return 2;
    }
    const std::string path = StatusSocketPath(context.programFolder);
    if (path.empty()) {
        std::fprintf(stderr, "bramvell status: no private runtime folder ($XDG_RUNTIME_DIR) to look in\n");
        return 1;
    }
    std::string report;
    switch (QueryStatus(path, kStatusTimeoutMs, report)) {
        case StatusQuery::Answered:
            std::fputs(report.c_str(), stdout);
            return 0;
        case StatusQuery::NotRunning:
            std::printf("State: not running (no filter of this user answers at %s)\n", path.c_str());
            return kNotRunningStatus;
        case StatusQuery::Failed:
            break;
    }
    std::fprintf(stderr, "bramvell status: the filter at %s did not answer\n", path.c_str());
    return 1;
}

const CommandRegistration registration({"status", "status",
                                        "show the state, today's counts and the accounts of this user's running filter",
                                        RunStatus});

}  // namespace
}  // namespace bramvell
