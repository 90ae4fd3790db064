#pragma once

#include <cstdint>
#include <string>

namespace bramvell {

// Pane 0 of the status bar: "Emails filtered: N (P% Spam)", the percentage truncated toward zero.
std::string EmailsFilteredText(int32_t emailsFiltered, int32_t spamCount);
// Pane 1 of the status bar.
std::string PopupsBlockedText(int32_t popupsBlocked);

}  // namespace bramvell
