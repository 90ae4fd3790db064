#pragma once

#include <string>
#include <string_view>

#include "platform/linux/NfqueueOptions.h"

namespace bramvell {

// Shown when the packet source cannot be used (the counterpart of a missing filter driver).
inline constexpr std::string_view kNetworkDriverFailedMessage =
    "Bramvell network driver failed to load or was not installed.";

// True when the process can use CAP_NET_ADMIN and CAP_NET_RAW (see HoldsCapability); CAP_NET_RAW is
// not needed any more once the raw socket is open (rawSocketOpen).
bool HasNetworkCapabilities(bool rawSocketOpen, std::string* problem = nullptr);

// Everything else the NFQUEUE packet source needs, once its raw socket is open: CAP_NET_ADMIN, the
// iptables programs (trusted, see FindTrustedProgram) with the raw table, and the queue itself (bound
// and released again; a queue another program holds fails). On failure problem says what is missing.
bool IsPacketSourceUsable(const NfqueueOptions& options, std::string* problem = nullptr);

}  // namespace bramvell
