#pragma once

#include <fstream>
#include <string>

namespace bramvell {

// Reads a text file line by line. A line ends at LF or CR LF (the end is not part of the line); a
// last line without LF is still a line, and a CR not followed by LF stays in the line.
class TextLineReader {
  public:
    explicit TextLineReader(const std::string& path);

    bool IsOpen() const { return in_.is_open(); }
    // False once no line is left.
    bool Next(std::string& line);

  private:
    std::ifstream in_;
};

}  // namespace bramvell
