#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "classify/PumpCallback.h"
#include "classify/TextLineSource.h"

namespace bramvell {

struct SampleEntry {
    std::string path;
    bool isDirectory = false;
};

// Every entry of the folder but "." and "..", in byte-wise name order; empty when it cannot be listed.
std::vector<SampleEntry> ListSampleFolder(const std::string& folder);

enum class SampleReadStatus { Read, CannotOpen, Stopped };

// Reads sample messages for the corpus tools. Of the header only Subject lines are used (whole, and
// marked as header lines); every body line is used. Reading ends at a line that begins with
// "Content-Transfer-Encoding: base64" exactly. The pump runs after every line read.
class SampleReader {
  public:
    using OnLine = std::function<void(std::string_view line, bool subjectLine)>;

    SampleReadStatus Read(const std::string& path, const PumpCallback& pump, const OnLine& onLine);
    // Opens the file only; Read of an opened file follows. Lets a caller count a message before reading.
    bool Open(const std::string& path) { return lines_.LoadFile(path); }
    SampleReadStatus ReadOpened(const PumpCallback& pump, const OnLine& onLine);

  private:
    TextLineSource lines_;
};

}  // namespace bramvell
