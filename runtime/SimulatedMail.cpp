#include "runtime/SimulatedMail.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "config/ActivityLog.h"
#include "config/FilterSettings.h"
#include "engine/HeldSegment.h"
#include "engine/MessageVerdict.h"
#include "engine/VerdictEffects.h"

namespace bramvell {

namespace {

struct MadeUpMessage {
    const char* from;
    const char* subject;
    const char* body;
    bool spam;
    VerdictBasis basis;
    int score;
};

constexpr std::array<MadeUpMessage, 6> kRound = {{
    {"Ann Example <ann@example.org>", "Minutes of Tuesday's meeting",
     "Hello,\r\n\r\nthe minutes are below; the next meeting is on Thursday.\r\n\r\nAnn\r\n", false,
     VerdictBasis::ClassicScore, 1200},
    {"Prize Centre <winner@lottery-prizes.example>", "You have WON 1,000,000 - claim now",
     "Dear winner,\r\n\r\nclick here to claim your prize before it expires!\r\n", true,
     VerdictBasis::ClassicScore, 9900},
    {"Bob Builder <bob@example.net>", "[project] release 2.1 is out",
     "The release notes are on the project page.\r\n", false, VerdictBasis::PassphraseRule, 0},
    {"Cheap Meds <sales@pharmacy.example>", "Lowest prices on meds, no prescription",
     "Order today and save 80%.\r\n..Stock is limited.\r\n", true, VerdictBasis::ChiSquareScore, 9700},
    {"Carol <carol@example.com>", "Photos from the weekend", "The photos are attached.\r\n", false,
     VerdictBasis::ChiSquareScore, 600},
    {"you@example.org", "Your account", "Confirm your password here.\r\n", true, VerdictBasis::FromToRule, 0},
}};

std::string ReplyOf(const MadeUpMessage& message, const LocalTime& when) {
    char date[64];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", when.year, when.month, when.day,
                  when.hour, when.minute, when.second);
    std::string reply = "+OK message follows\r\n";
    reply += std::string("From: ") + message.from + "\r\n";
    reply += "To: you@example.org\r\n";
    reply += std::string("Subject: ") + message.subject + "\r\n";
    reply += std::string("Date: ") + date + "\r\n";
    reply += "Message-ID: <simulated-" + std::to_string(when.hour * 10000 + when.minute * 100 + when.second) +
             "@bramvell.invalid>\r\n\r\n";
    reply += message.body;
    reply += ".\r\n";
    return reply;
}

}  // namespace

SimulatedMail::SimulatedMail(FilterSettings& settings, MessageTarget& target, const Clock& clock)
    : settings_(settings), target_(target), clock_(clock) {}

void SimulatedMail::Next() {
    const MadeUpMessage& message = kRound[count_ % kRound.size()];
    ++count_;
    const LocalTime now = clock_.Now();
    std::string reply = ReplyOf(message, now);
    std::vector<uint8_t> bytes(reply.begin(), reply.end());
    const HeldSegment segment = PlainBytesSegment(bytes);

    MessageVerdict verdict;
    verdict.isSpam = message.spam;
    verdict.sender.assign(message.from);
    verdict.basis = message.basis;
    verdict.score = message.score;
    verdict.probabilityText = {message.spam ? '9' : '1', message.spam ? '9' : '2'};
    LogActivity(settings_, std::string("Analysing email message from: ") + message.from + "\n", clock_);
    LogActivity(settings_,
                message.spam ? "Bramvell suspects this message is Spam\n"
                             : "Bramvell suspects this message is NOT Spam\n",
                clock_);
    ApplyVerdictEffects(settings_, target_, clock_, verdict, std::span<const HeldSegment>(&segment, 1), "1");
}

}  // namespace bramvell
