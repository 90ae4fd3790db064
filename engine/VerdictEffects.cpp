#include "engine/VerdictEffects.h"

#include "config/ActivityLog.h"
#include "config/FilterSettings.h"
#include "engine/MessageTarget.h"
#include "engine/QuarantineFile.h"
#include "engine/SpamAnswer.h"

namespace bramvell {

VerdictOutcome ApplyVerdictEffects(const FilterSettings& settings, MessageTarget& target, const Clock& clock,
                                   const MessageVerdict& verdict, std::span<const HeldSegment> reply,
                                   std::string_view retrArgument, bool replyComplete) {
    target.PostClassified(verdict);
    VerdictOutcome outcome;
    if (!verdict.isSpam) {
        return outcome;
    }
    if (settings.quarantineEnabled != 0) {
        bool saved = false;
        if (replyComplete) {
            QuarantineFile file;
            const bool created = file.Create(settings.QuarantineFolder(), clock.Now());
            LogActivity(settings, "Saving message to Quarantine folder: " + file.path() + "\n", clock);
            saved = created && file.Write(reply);
            if (saved) {
                outcome.quarantinePath = file.path();
            }
        }
        if (!saved) {
            LogActivity(settings,
                        "The quarantine copy could not be written; the message was left on the server\n",
                        clock);
            outcome.command = "NOOP\r\n";
            return outcome;
        }
    }
    outcome.command = "DELE ";
    outcome.command += retrArgument;
    outcome.command += "\r\n";
    outcome.deletedOnServer = true;
    return outcome;
}

std::string SpamAnswerFor(const FilterSettings& settings, const MessageVerdict& verdict,
                          const VerdictOutcome& outcome) {
    SpamAnswerParts parts;
    parts.notice = settings.spamAnswerNotice != 0;
    parts.deletedOnServer = outcome.deletedOnServer;
    parts.quarantinePath = outcome.quarantinePath;
    return BuildSpamAnswer(verdict, parts);
}

}  // namespace bramvell
