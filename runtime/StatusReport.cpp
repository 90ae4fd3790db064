#include "runtime/StatusReport.h"

#include "engine/MessageVerdict.h"

namespace bramvell {

void DayCounts::Count(const MessageVerdict& verdict, int day) {
    if (day != day_) {
        day_ = day;
        good_ = spam_ = unsure_ = 0;
    }
    ++(verdict.isSpam ? spam_ : verdict.isUnsure ? unsure_ : good_);
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
