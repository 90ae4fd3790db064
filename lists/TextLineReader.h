#pragma once

#include <cstddef>
#include <string>

#include "config/FileHandle.h"

namespace bramvell {

// Reads a text file line by line. A line ends at LF or CR LF (the end is not part of the line); a
// last line without LF is still a line, and a CR not followed by LF stays in the line.
//
// The file is untrusted: only a regular file opens (a FIFO or device would block or never end), and
// what is read is bounded. A line longer than kMaxLineLength keeps its first kMaxLineLength bytes
// and the rest up to its LF is skipped; reading ends after kMaxFileSize bytes.
class TextLineReader {
  public:
    // List lines hold at most 80 characters and an expiry day; anything near this is not a list line.
    static constexpr std::size_t kMaxLineLength = 4096;
    // Far above any real list (a full bucket file is a few kilobytes).
    static constexpr std::size_t kMaxFileSize = std::size_t{16} << 20;

    // The program's own files refuse a symbolic link; a file the user names may be one.
    enum class Links { Refuse, Follow };

    explicit TextLineReader(const std::string& path, Links links = Links::Refuse);

    bool IsOpen() const { return file_.IsOpen(); }
    // False once no line is left.
    bool Next(std::string& line);

  private:
    // Refills the buffer; false at the end of the file, on an error or at the size bound.
    bool Fill();

    FileHandle file_;
    char buffer_[16384];
    std::size_t next_ = 0;
    std::size_t held_ = 0;
    std::size_t readSoFar_ = 0;
};

}  // namespace bramvell
