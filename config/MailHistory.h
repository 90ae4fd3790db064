#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/Clock.h"

namespace bramvell {

// What became of one retrieved message.
enum class MailOutcome : uint8_t { Good, Spam, Unsure };
// What decided it.
enum class DecidedBy : uint8_t { FromTo, Passphrase, ClassicScore, ChiSquareScore };

// One verdict as the history keeps it: the control panel's quarantine, activity and statistics pages
// read these, whatever the activity log option says.
struct MailRecord {
    LocalTime when;
    MailOutcome outcome = MailOutcome::Good;
    DecidedBy decidedBy = DecidedBy::ClassicScore;
    int score = 0;               // 0..10000 when a score decided
    std::string quarantineName;  // the quarantine copy's file name, empty when none was kept
    std::string sender;          // the From value
};

// Data/history.tsv of the program folder.
std::string MailHistoryPath(std::string_view programFolder);

// One tab-separated line with its LF: time stamp, outcome, deciding rule, score, quarantine name,
// sender. Tabs and control bytes of the texts become '?'.
std::string FormatMailRecord(const MailRecord& record);
// The record of one line (without its line end); nothing when a field is missing or malformed.
std::optional<MailRecord> ParseMailRecord(std::string_view line);

// Appends the record in one write, so that lines of the filter thread and of the bridge's threads never
// interleave. Nothing happens without a program folder or when the file cannot be opened.
void AppendMailRecord(std::string_view programFolder, const MailRecord& record);

// The history's records in file order, reading at most the last maxBytes of the file (a partial first
// line is dropped); malformed lines are skipped.
inline constexpr std::size_t kMaxHistoryBytes = std::size_t{16} << 20;
std::vector<MailRecord> ReadMailHistory(const std::string& path, std::size_t maxBytes = kMaxHistoryBytes);

std::string_view OutcomeWord(MailOutcome outcome);
// "From/To", "Passphrase", "Score" or "Chi-square score".
std::string_view DecidedByText(DecidedBy decidedBy);

// For a table of verdicts: "From/To rule", "Passphrase rule", or the score as "97%"; and the scorer,
// "classic" or "chi-square" ("" for a rule).
std::string ScoreOrRuleText(const MailRecord& record);
std::string_view ScorerText(const MailRecord& record);

}  // namespace bramvell
