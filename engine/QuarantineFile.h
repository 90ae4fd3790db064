#pragma once

#include <span>
#include <string>
#include <string_view>

#include "config/Clock.h"
#include "config/FileHandle.h"
#include "engine/HeldSegment.h"

namespace bramvell {

// A copy of one suspected spam message in the quarantine folder, named after the local time of the
// verdict: YYYYMMDDhhmmss.txt, or YYYYMMDDhhmmss-1.txt, -2... when that name is taken, so that no
// message overwrites another.
class QuarantineFile {
  public:
    // The first name tried: folder, "/" unless the folder ends with one, the time, ".txt".
    static std::string BasePath(std::string_view folder, const LocalTime& when);

    // Creates a new file (mode 0600, never through a link) under the first free name. False when no
    // file could be created.
    bool Create(std::string_view folder, const LocalTime& when);
    // Writes the held payload without the server's status line (everything up to and including the
    // first LF), raw, and flushes the file and its folder to disk: once the server deletes the
    // message this is the only copy. A failed write removes the file; false then.
    bool Write(std::span<const HeldSegment> segments);

    const std::string& path() const { return path_; }

    QuarantineFile() = default;
    QuarantineFile(const QuarantineFile&) = delete;
    QuarantineFile& operator=(const QuarantineFile&) = delete;

  private:
    FileHandle folder_;
    FileHandle file_;
    std::string name_;
    std::string path_;
};

}  // namespace bramvell
