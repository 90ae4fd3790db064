#pragma once

#include <cstdint>
#include <string>

namespace bramvell {

enum class DecidingRule { None, FromTo, Passphrase };

// The verdict on one message.
struct ClassificationResult {
    static constexpr std::size_t kMaxSenderLength = 79;

    bool isSpam = false;
    bool decidedByRule = false;
    DecidingRule rule = DecidingRule::None;
    int32_t score = 0;  // 0..10000; meaningful only when no rule decided
    // Spam probability in whole percent for the client's error line: "99" for every rule verdict,
    // the score's two leading digits for a spam score. Empty when the verdict sets none (a message
    // that is not spam by score); then `sender` is not set either.
    std::string probabilityText;
    std::string sender;  // the From value, at most 79 characters
};

}  // namespace bramvell
