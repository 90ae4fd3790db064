#pragma once

#include <functional>
#include <memory>

#include "bridge/Pop3StreamFilter.h"
#include "config/Clock.h"
#include "config/MailAccounts.h"

namespace bramvell {

class FilterSettings;
class MessageAnalyzer;
class MessageTarget;
class TlsContext;

using AnalyzerFactory = std::function<std::unique_ptr<MessageAnalyzer>()>;

// What every connection of the bridge shares: the settings (their atomics and locked folders), the
// main window's message target, a maker of analyses (one per connection, so that connections never
// share the classifier's buffers) and the clock.
struct BridgeServices {
    FilterSettings& settings;
    MessageTarget& target;
    AnalyzerFactory makeAnalyzer;
    const Clock& clock;
};

// Serves one accepted mail client until either side leaves or stopFd becomes readable: connects to
// the account's server over TLS, then moves the POP3 stream through a Pop3StreamFilter. A failure to
// reach the server securely answers the client "-ERR" with the reason and is logged. Closes clientFd.
// Returns the last problem (empty when the session ended normally).
std::string ServeBridgeClient(int clientFd, const MailAccount& account, const TlsContext& tls,
                              const BridgeServices& services, int stopFd);

// The line the client gets when the server cannot be reached securely.
std::string NoSecureConnectionReply(const MailAccount& account, const std::string& problem);

}  // namespace bramvell
