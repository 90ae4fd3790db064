#pragma once

// The help texts of every control of the option pages, and the rule that picks the pair a help
// request shows. No toolkit here: the control panel's help handler asks and draws the balloon.

#include <optional>
#include <span>
#include <string_view>

namespace bramvell {

// A balloon's title (one leading space) and text (lines joined by "\r", each after the first starting
// with a space).
struct HelpPair {
    std::string_view title;
    std::string_view text;
};

struct HelpEntry {
    int controlId;
    HelpPair pair;
};

// Shown when no control-specific entry applies.
inline constexpr HelpPair kGeneralHelp = {
    " Bramvell Help",
    " For context-sensitive help simply click on the\r ? icon at the top right corner of this window\r and "
    "then click on any input control"};

// One entry per control, grouped by page.
std::span<const HelpEntry> ContextHelpTable();

// The entry of a control, or nullptr.
const HelpPair* FindContextHelp(int controlId);

// One help request: the control asked about, its help context (0 = none), and whether F1 is down.
struct HelpRequest {
    int controlId = 0;
    int contextId = 0;
    bool f1Down = false;
};

// The pair to show: the general pair while F1 is down; nothing for a context of zero; else the
// control's entry, or the general pair when it has none.
std::optional<HelpPair> ContextHelpFor(const HelpRequest& request);

}  // namespace bramvell
