#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config/Clock.h"
#include "config/FilterSettings.h"
#include "engine/KeyState.h"
#include "engine/MessageAnalyzer.h"

namespace bramvell::testing {

// Stands in for the classifier: a message is spam when a header line "Subject:" contains "SPAM". It
// reads every line, renames attachments while the option is on, and takes the sender from "From:".
class ScriptedAnalyzer final : public MessageAnalyzer {
  public:
    ScriptedAnalyzer(const FilterSettings& settings, const Clock& /*clock*/)
        : settings_(settings) {}

    MessageVerdict Analyze(MessageLineReader& reader, LineRewriter& rewriter) override;

    std::array<char, 2> probability{'8', '7'};
    MessageAnalyzer* delegate = nullptr;  // set: the verdict is this analyser's (still counted)
    int analysed = 0;
    std::vector<std::string> statusLines;  // first line of each analysed reply
    static constexpr std::size_t kKeptLines = 2000;
    std::vector<std::string> lastLines;  // the first lines of the last reply

  private:
    const FilterSettings& settings_;
};

class SettableKeys final : public KeyState {
  public:
    bool IsPauseKeyHeld() override { return held.load(); }
    std::atomic<bool> held{false};
};

}  // namespace bramvell::testing
