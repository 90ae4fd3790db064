#pragma once

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace bramvell {

enum class DecidingRule { None, FromTo, Passphrase };

// The From value as a verdict carries it: at most kMaxLength characters, cut where it is set and
// nowhere else.
class SenderText {
  public:
    static constexpr std::size_t kMaxLength = 79;

    SenderText() = default;
    void assign(std::string_view text) { text_.assign(text.substr(0, std::min(text.size(), kMaxLength))); }
    std::string_view view() const { return text_; }
    const char* c_str() const { return text_.c_str(); }
    std::size_t size() const { return text_.size(); }
    bool empty() const { return text_.empty(); }

    friend bool operator==(const SenderText& a, const SenderText& b) = default;
    friend bool operator==(const SenderText& a, std::string_view b) { return a.text_ == b; }
    friend std::ostream& operator<<(std::ostream& out, const SenderText& text) { return out << text.text_; }

  private:
    std::string text_;
};

// The verdict on one message.
struct ClassificationResult {
    static constexpr std::size_t kMaxSenderLength = SenderText::kMaxLength;

    bool isSpam = false;
    bool decidedByRule = false;
    DecidingRule rule = DecidingRule::None;
    int32_t score = 0;  // 0..10000; meaningful only when no rule decided
    // Spam probability in whole percent for the client's error line: "99" for every rule verdict,
    // the score's two leading digits for a spam score. Empty when the verdict sets none (a message
    // that is not spam by score); then `sender` is not set either.
    std::string probabilityText;
    SenderText sender;  // the From value
};

}  // namespace bramvell
