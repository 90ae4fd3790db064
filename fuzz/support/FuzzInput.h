#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bramvell::fuzz {

// A property every input must keep; when it fails the target aborts, which the fuzzer reports as a
// finding and the replay run as a failed test.
[[noreturn]] void PropertyFailed(const char* what);
inline void Require(bool holds, const char* what) {
    if (!holds) {
        PropertyFailed(what);
    }
}

inline std::string_view AsText(const uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The input cut at every occurrence of the separator, at most maxParts pieces (the last piece keeps
// the rest, separators included).
std::vector<std::string_view> SplitParts(std::string_view input, std::string_view separator,
                                         std::size_t maxParts);

// One file described by the input: its name is the first line of the piece, its content the rest.
struct NamedFile {
    std::string name;
    std::string_view content;
};

// Multi-file inputs: pieces separated by kFileSeparator, each "NAME\nCONTENT". Names keep letters,
// digits, '.', '-' and '_' (anything else becomes '_'), at most 32 characters; an empty name becomes
// "_", and "." or ".." get a leading '_' so that a name never leaves its folder.
inline constexpr std::string_view kFileSeparator = "\n--file ";
std::vector<NamedFile> SplitNamedFiles(std::string_view input, std::size_t maxFiles);

// Reads from the front of the input; once it runs out every value is zero or empty.
class InputReader {
  public:
    explicit InputReader(std::string_view input) : rest_(input) {}
    uint8_t Byte();
    uint16_t Word();
    uint32_t Long();
    // Up to maxLength bytes, the length from the next byte.
    std::string_view Text(std::size_t maxLength);
    std::string_view Take(std::size_t length);
    std::string_view Rest() const { return rest_; }
    bool Empty() const { return rest_.empty(); }

  private:
    std::string_view rest_;
};

}  // namespace bramvell::fuzz
