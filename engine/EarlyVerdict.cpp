#include "engine/EarlyVerdict.h"

#include <string>

#include "config/ActivityLog.h"

namespace bramvell {

void LogEarlyVerdict(const FilterSettings& settings, const Clock& clock, std::size_t heldBytes) {
    const std::string line = "Large message judged on its first " + std::to_string(heldBytes / 1024) +
                             " KB; the rest goes on unchecked as it arrives\n";
    LogActivity(settings, line, clock);
}

}  // namespace bramvell
