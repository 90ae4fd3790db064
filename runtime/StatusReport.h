#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "config/MailAccounts.h"

namespace bramvell {

struct MailRecord;

// What `bramvell status` prints of a running filter.
struct StatusFacts {
    long pid = 0;
    std::string kind;             // "headless run", "tray application"
    std::string startedAt;        // "YYYY-MM-DD HH:MM"
    bool packetFilter = false;    // the packet filter holds this machine's POP3 connections
    std::string interfaceName;    // the interface it filters, when known
    bool filterEnabled = true;    // "Enable Spam Filter" (off: mail is analysed by nothing)
    bool outboundLock = false;
    std::string scorer;           // "classic" or "chi-square"
    uint32_t todayGood = 0;
    uint32_t todaySpam = 0;
    uint32_t todayUnsure = 0;
    uint32_t emailsFiltered = 0;  // the program's own counters, over its whole life
    uint32_t spamCount = 0;
    uint32_t popupsBlocked = 0;
    std::vector<MailAccount> accounts;
};

// Today's good, spam and unsure verdicts of the history (those of the bridge and of earlier runs of
// the day included) into facts.
void CountToday(const std::vector<MailRecord>& history, int today, StatusFacts& facts);

class FilterSettings;

// The facts of a run that stay as they are, completed at each query with today's verdicts from the
// history and the counters and lock as they stand.
class StatusReporter {
  public:
    StatusReporter(StatusFacts fixed, std::string programFolder)
        : fixed_(std::move(fixed)), programFolder_(std::move(programFolder)) {}
    std::string Report(const FilterSettings& settings) const;

  private:
    StatusFacts fixed_;
    std::string programFolder_;
};

// The local time now as "YYYY-MM-DD HH:MM", for StatusFacts::startedAt.
std::string StartedAtNow();

// One line per fact, in words; the first line names the state: filtering, spam filter off, or
// bridge accounts only.
std::string StatusReportText(const StatusFacts& facts);

}  // namespace bramvell
