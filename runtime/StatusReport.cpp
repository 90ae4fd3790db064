#include "runtime/StatusReport.h"

#include <ctime>

#include "config/CalendarDays.h"
#include "config/Clock.h"
#include "config/FilterSettings.h"
#include "config/MailHistory.h"

namespace bramvell {

void CountToday(const std::vector<MailRecord>& history, int today, StatusFacts& facts) {
    facts.todayGood = facts.todaySpam = facts.todayUnsure = 0;
    for (const MailRecord& record : history) {
        if (DayNumber(record.when) != today) {
            continue;
        }
        ++(record.outcome == MailOutcome::Spam     ? facts.todaySpam
           : record.outcome == MailOutcome::Unsure ? facts.todayUnsure
                                                   : facts.todayGood);
    }
}

std::string StatusReporter::Report(const FilterSettings& settings) const {
    StatusFacts now = fixed_;
    CountToday(ReadMailHistory(MailHistoryPath(programFolder_)), DayNumber(DefaultClock().Now()), now);
    now.filterEnabled = settings.filterEnabled != 0;
    now.outboundLock = settings.outboundEmailLock != 0;
    now.emailsFiltered = static_cast<uint32_t>(settings.emailsFiltered.load());
    now.spamCount = static_cast<uint32_t>(settings.spamCount.load());
    now.popupsBlocked = static_cast<uint32_t>(settings.popupsBlocked.load());
    return StatusReportText(now);
}

std::string StartedAtNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
    return text;
}

namespace {

std::string Plural(uint32_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

std::string StatusReportText(const StatusFacts& facts) {
    std::string state;
    if (!facts.filterEnabled) {
        state = "running, spam filter off";
    } else if (facts.packetFilter) {
        state = "filtering";
    } else {
        state = "filtering TLS bridge accounts only";
    }
    std::string text = "State: " + state + "\n";
    text += "Process: " + facts.kind + ", pid " + std::to_string(facts.pid) + ", started " + facts.startedAt + "\n";
    text += "Packet filter: ";
    if (facts.packetFilter) {
        text += facts.interfaceName.empty() ? "on\n" : "on, interface " + facts.interfaceName + "\n";
    } else {
        text += "off\n";
    }
    text += std::string("Outbound email lock: ") + (facts.outboundLock ? "engaged" : "not engaged") + "\n";
    text += "Scorer: " + facts.scorer + "\n";
    text += "Today: " + Plural(facts.todayGood + facts.todaySpam + facts.todayUnsure, "message", "messages") +
            " classified, " + std::to_string(facts.todayGood) + " good, " + std::to_string(facts.todaySpam) +
            " spam";
    if (facts.todayUnsure != 0) {
        text += ", " + std::to_string(facts.todayUnsure) + " unsure";
    }
    text += "\n";
    text += "All time: " + Plural(facts.emailsFiltered, "email", "emails") + " filtered, " +
            std::to_string(facts.spamCount) + " spam, " + Plural(facts.popupsBlocked, "popup", "popups") +
            " blocked\n";
    if (facts.accounts.empty()) {
        text += "Accounts: none\n";
    } else {
        text += "Accounts:\n";
        for (const MailAccount& account : facts.accounts) {
            text += "  " + account.name + ": " + account.ServerText() + " (" + std::string(SecurityName(account.security)) +
                    "), mail client to 127.0.0.1:" + std::to_string(account.listenPort) + "\n";
        }
    }
    return text;
}

}  // namespace bramvell
