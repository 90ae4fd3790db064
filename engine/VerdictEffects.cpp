#include "engine/VerdictEffects.h"

#include "config/ActivityLog.h"
#include "config/FilterSettings.h"
#include "engine/MessageTarget.h"
#include "engine/QuarantineFile.h"

namespace bramvell {

std::string ApplyVerdictEffects(const FilterSettings& settings, MessageTarget& target, const Clock& clock,
                                const MessageVerdict& verdict, std::span<const HeldSegment> reply,
                                std::string_view retrArgument, bool replyComplete) {
    target.Post(WM_MAIL_CLASSIFIED, verdict.isSpam ? 1 : 0);
    if (!verdict.isSpam) {
        return {};
    }
    if (settings.quarantineEnabled != 0) {
        bool saved = false;
        if (replyComplete) {
            QuarantineFile file;
            const bool created = file.Create(settings.QuarantineFolder(), clock.Now());
            LogActivity(settings, "Saving message to Quarantine folder: " + file.path() + "\n", clock);
            saved = created && file.Write(reply);
        }
        if (!saved) {
            LogActivity(settings, "The quarantine copy could not be written; the message was left on the server\n",
                        clock);
            return "NOOP\r\n";
        }
    }
    std::string command = "DELE ";
    command += retrArgument;
    command += "\r\n";
    return command;
}

}  // namespace bramvell
