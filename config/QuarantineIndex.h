#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/Clock.h"
#include "config/MailHistory.h"

namespace bramvell {

// The header fields a reader of the quarantine wants to see, from a message's first bytes.
struct MessageHeaderSummary {
    std::string from;
    std::string subject;
    std::string date;
    std::string messageId;
};

// Reads From, Subject, Date and Message-ID from the header at the start of bytes (up to the first empty
// line), unfolding continuation lines and making control bytes '?'. Fields that are missing stay empty.
MessageHeaderSummary SummariseHeader(std::string_view bytes);

// The address inside a From value: "Ann <ann@example.org>" gives "ann@example.org", a bare address
// itself; lower case. Empty when there is no '@'.
std::string AddressOfSender(std::string_view from);

// One quarantined message.
struct QuarantinedMessage {
    std::string name;  // file name inside the folder
    std::string path;
    LocalTime when;  // from the name
    uint64_t size = 0;
    MessageHeaderSummary header;
    // The verdict recorded for it, when the history knows the file.
    std::optional<MailRecord> verdict;
};

// Every regular file of the folder named like a quarantine copy, newest first (by name, which is the
// time of the verdict); the verdicts are looked up by file name in history. Only the first
// kHeaderBytes of each file are read.
inline constexpr std::size_t kHeaderBytes = 64 * 1024;
std::vector<QuarantinedMessage> ListQuarantine(const std::string& folder,
                                               const std::vector<MailRecord>& history = {});

// The message of a quarantine copy as a mail program reads it (.eml): the POP3 terminating "." line is
// dropped and a line's leading ".." (dot-stuffing) becomes ".". Line ends stay as they were.
std::string MessageOfQuarantineCopy(std::string_view copy);

// At most maxBytes of the file from its start (empty when it cannot be read), for a preview.
std::string ReadMessageStart(const std::string& path, std::size_t maxBytes);

}  // namespace bramvell
