#pragma once

#include <string>
#include <string_view>

namespace bramvell {

class FilterSettings;

// True when the folder may be emptied: its text is longer than 3 characters and, made absolute
// and normalised, it has at least two components below the root (never "/", "/tmp", "/home"...).
bool MayEmptyQuarantineFolder(const std::string& folder);

// True for the names quarantine copies get: 14 digits, optionally "-" and digits, then ".txt".
bool IsQuarantineFileName(std::string_view name);

// Deletes the folder's own entries named like quarantine copies, other than sub-folders, in byte-wise
// name order. The folder
// itself is opened without following a symbolic link, and the folder actually opened must pass the
// same two-component rule; entries are removed relative to it, so a symbolic link inside is removed
// as a link and never followed. Failures are ignored. Returns the number of entries deleted.
int DeleteQuarantineFiles(const std::string& folder);

// The handler of WM_DAY_CHANGED, on the user-interface thread: counts the day change, and when the
// count reaches "Empty folder after this many days :" (0 or less acts as 1) empties the quarantine
// folder if that option is on and the folder is safe, then starts the count again.
void EmptyQuarantineFolder(FilterSettings& settings);

}  // namespace bramvell
