#pragma once

#include <string_view>

#include "config/Clock.h"
#include "engine/MessageLineReader.h"

namespace bramvell {

class FilterSettings;

// Makes an executable attachment harmless: when the line names a quoted file whose last three
// characters are an executable or script extension, the extension is overwritten in the held reply
// ("a.exe" becomes "a.tb ", "x.js" becomes "x.tb"), so the message keeps its length. Writes one
// activity-log line per renaming. Returns true when the line was patched.
bool RenameAttachmentInLine(std::string_view line, LinePosition position, MessageLineReader& reader,
                            const FilterSettings& settings, const Clock& clock = DefaultClock());

}  // namespace bramvell
