#include "config/MailStatistics.h"

#include <algorithm>
#include <map>

#include "config/CalendarDays.h"
#include "config/QuarantineIndex.h"

namespace bramvell {

MailStatistics AggregateMailStatistics(const std::vector<MailRecord>& records, int today, int dayCount,
                                       std::size_t topCount) {
    MailStatistics statistics;
    dayCount = std::max(dayCount, 1);
    const int firstDay = today - dayCount + 1;
    for (int day = firstDay; day <= today; ++day) {
        statistics.days.push_back({day, 0, 0});
    }
    std::map<std::string, int> spamSenders;
    for (const MailRecord& record : records) {
        const int day = DayNumber(record.when);
        if (day < firstDay || day > today) {
            continue;
        }
        DayCounts& counts = statistics.days[static_cast<std::size_t>(day - firstDay)];
        ++statistics.byRule[static_cast<std::size_t>(record.decidedBy)];
        switch (record.outcome) {
            case MailOutcome::Spam: {
                ++counts.spam;
                ++statistics.spam;
                std::string address = AddressOfSender(record.sender);
                ++spamSenders[address.empty() ? record.sender : address];
                break;
            }
            case MailOutcome::Unsure:
                ++statistics.unsure;
                ++counts.good;
                break;
            case MailOutcome::Good:
                ++statistics.good;
                ++counts.good;
                break;
        }
    }
    statistics.topSpamSenders.assign(spamSenders.begin(), spamSenders.end());
    std::stable_sort(statistics.topSpamSenders.begin(), statistics.topSpamSenders.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    if (statistics.topSpamSenders.size() > topCount) {
        statistics.topSpamSenders.resize(topCount);
    }
    return statistics;
}

DayCounts CountsOfDay(const std::vector<MailRecord>& records, int day) {
    DayCounts counts{day, 0, 0};
    for (const MailRecord& record : records) {
        if (DayNumber(record.when) == day) {
            (record.outcome == MailOutcome::Spam ? counts.spam : counts.good) += 1;
        }
    }
    return counts;
}

}  // namespace bramvell
