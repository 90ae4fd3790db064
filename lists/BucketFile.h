#pragma once

#include <string>
#include <string_view>

namespace bramvell {

// Appends bytes to a file, creating it when missing. When the file's last byte is not a line feed, a
// CR LF goes first, so that appended lines stay lines of their own. False when it cannot be opened or
// written; a failed write takes back what it added. Created 0600; a symbolic link, FIFO or device
// under the name is refused.
bool AppendToFile(const std::string& path, std::string_view bytes);

// Replaces a file's content as one step: the bytes go to a temporary file beside it, which is then
// renamed over the old one. On failure the old file is untouched and false is returned. The
// temporary name starts with a dot, so no list load ever mistakes it for a bucket file. The new file
// is 0600, and a link under either name is replaced, never followed.
bool ReplaceFile(const std::string& path, std::string_view bytes);

}  // namespace bramvell
