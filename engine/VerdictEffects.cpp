#include "engine/VerdictEffects.h"

#include "config/ActivityLog.h"
#include "config/FilterSettings.h"
#include "config/MailHistory.h"
#include "engine/MessageTarget.h"
#include "engine/QuarantineFile.h"
#include "engine/SpamAnswer.h"

namespace bramvell {

namespace {

DecidedBy DecidedByOf(VerdictBasis basis) {
    switch (basis) {
        case VerdictBasis::FromToRule:
            return DecidedBy::FromTo;
        case VerdictBasis::PassphraseRule:
            return DecidedBy::Passphrase;
        case VerdictBasis::ClassicScore:
            return DecidedBy::ClassicScore;
        case VerdictBasis::ChiSquareScore:
            break;
    }
    return DecidedBy::ChiSquareScore;
}

// The control panel's pages read the verdicts from the history, the quarantine copy's name included.
void RecordInHistory(const FilterSettings& settings, const Clock& clock, const MessageVerdict& verdict,
                     const std::string& quarantinePath) {
    MailRecord record;
    record.when = clock.Now();
    record.outcome = verdict.isSpam     ? MailOutcome::Spam
                     : verdict.isUnsure ? MailOutcome::Unsure
                                        : MailOutcome::Good;
    record.decidedBy = DecidedByOf(verdict.basis);
    record.score = verdict.score < 0 ? 0 : verdict.score > 10000 ? 10000 : verdict.score;
    const std::size_t slash = quarantinePath.find_last_of('/');
    record.quarantineName = slash == std::string::npos ? quarantinePath : quarantinePath.substr(slash + 1);
    record.sender = std::string(verdict.sender.view());
    AppendMailRecord(settings.programFolder, record);
}

}  // namespace

VerdictOutcome ApplyVerdictEffects(const FilterSettings& settings, MessageTarget& target, const Clock& clock,
                                   const MessageVerdict& verdict, std::span<const HeldSegment> reply,
                                   std::string_view retrArgument, bool replyComplete) {
    target.PostClassified(verdict);
    VerdictOutcome outcome;
    if (!verdict.isSpam) {
        RecordInHistory(settings, clock, verdict, {});
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
            RecordInHistory(settings, clock, verdict, {});
            return outcome;
        }
    }
    RecordInHistory(settings, clock, verdict, outcome.quarantinePath);
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
