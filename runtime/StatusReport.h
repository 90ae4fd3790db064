#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "config/MailAccounts.h"

namespace bramvell {

struct MessageVerdict;

// The verdicts of one local day, counted by the run as they are posted; a new day starts at zero.
class DayCounts {
  public:
    // day is the local date as YYYYMMDD.
    void Count(const MessageVerdict& verdict, int day);
    uint32_t Good(int day) const { return day == day_ ? good_ : 0; }
    uint32_t Spam(int day) const { return day == day_ ? spam_ : 0; }
    uint32_t Unsure(int day) const { return day == day_ ? unsure_ : 0; }

  private:
    int day_ = 0;
    uint32_t good_ = 0;
    uint32_t spam_ = 0;
    uint32_t unsure_ = 0;
};

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

// One line per fact, in words; the first line names the state: filtering, spam filter off, or
// bridge accounts only.
std::string StatusReportText(const StatusFacts& facts);

}  // namespace bramvell
