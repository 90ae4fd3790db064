#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace bramvell {

class ChiSquareStore;
class FilterSettings;

enum class QuarantineAction { LearnGood, LearnSpam, Delete };

// What one action on quarantined messages came to, for the line the user reads.
struct QuarantineActionResult {
    QuarantineAction action = QuarantineAction::LearnGood;
    std::size_t done = 0;            // learned (by the classic tables) or deleted
    std::size_t movedFromSpam = 0;   // the chi-square store held them as spam and now as good
    std::size_t alreadyLearned = 0;  // the chi-square store held them as this class already
    std::size_t trusted = 0;         // senders added to Trusted Addresses (filled by the caller)
    std::size_t failed = 0;
    std::string problem;
};

// "3 messages learned as spam", "1 message learned as good, taken out of spam; 1 sender added to
// Trusted Addresses", "2 messages deleted", with the failures and the problem when there were any.
std::string QuarantineResultText(const QuarantineActionResult& result);

// Learning and deleting quarantined messages from the control panel, for both scorers: the classic
// token tables of the settings and the chi-square store (learning as good takes a message the store
// holds as spam out of spam). Runs on the user-interface thread.
class QuarantineActions {
  public:
    // runningStore: the filter's open chi-square store, or null when the filter scores classic; the store
    // is then opened for each action (one process must not open the same store twice).
    QuarantineActions(FilterSettings& settings, ChiSquareStore* runningStore);

    QuarantineActionResult LearnAsGood(const std::vector<std::string>& files);
    QuarantineActionResult LearnAsSpam(const std::vector<std::string>& files);
    // Deletes only files named like quarantine copies; links are removed, never followed.
    QuarantineActionResult Delete(const std::vector<std::string>& files);

  private:
    QuarantineActionResult Learn(QuarantineAction action, const std::vector<std::string>& files);

    FilterSettings& settings_;
    ChiSquareStore* runningStore_;
};

}  // namespace bramvell
