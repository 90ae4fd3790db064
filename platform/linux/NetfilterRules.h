#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/NfqueueOptions.h"

namespace bramvell {

// Which of the two rule sets: iptables for IPv4, ip6tables for IPv6. Each family has its own tables,
// so the same chain names, queue, log group and marks serve both.
enum class IpFamily { Ipv4, Ipv6 };

// The interfaces the rules apply to: one interface by name, or every interface but loopback.
struct RuleScope {
    std::string interfaceName;  // empty = all but loopback

    static RuleScope AllButLoopback() { return {}; }
    static RuleScope Interface(std::string name) { return {std::move(name)}; }
};

// The iptables-restore text that installs our chains and the jumps into them. Outbound TCP to the
// SMTP and POP3 ports is queued in the raw table's OUTPUT chain (before conntrack, so conntrack sees
// what goes on the wire); inbound POP3 replies and Messenger datagrams are queued in filter INPUT.
// Web and chat ports are logged, rate-limited, when options.observeActivityPorts is on. Every chain
// that queues starts with a RETURN for packets that carry our mark. With options.ownerUid, every TCP
// rule takes that user's connections only: outgoing by socket owner, incoming POP3 replies by the
// connection mark that a mangle OUTPUT chain sets on the user's POP3 connections; the datagram rules
// (machine-wide: datagrams have no owner) go into their own chain. The IPv6 text (ip6tables-restore)
// has the same rules; only the watched segments' least length counts the 40-byte header.
std::string BuildRuleset(const NfqueueOptions& options, const RuleScope& scope,
                         IpFamily family = IpFamily::Ipv4);

// Installs and removes the ruleset with the iptables programs. The runner is injectable so that the
// commands can be checked without touching the machine's tables.
class NetfilterRules {
  public:
    // Runs one command: arguments (program first) and standard input; returns the exit status.
    using Runner = std::function<int(const std::vector<std::string>& arguments, const std::string& input,
                                     std::string* output)>;

    explicit NetfilterRules(NfqueueOptions options, IpFamily family = IpFamily::Ipv4);
    NetfilterRules(NfqueueOptions options, IpFamily family, Runner runner);
    NetfilterRules(NfqueueOptions options, Runner runner)
        : NetfilterRules(std::move(options), IpFamily::Ipv4, std::move(runner)) {}

    // Removes whatever of ours is there (a crash may have left rules behind), then installs the
    // ruleset for the scope in one iptables-restore run. False (with Problem() set) when the
    // installation failed; nothing of ours is left installed then. A run for one user leaves out the
    // datagram rules when another run holds them already.
    bool Install(const RuleScope& scope);
    // Removes every jump to our chains and the chains themselves (the shared datagram chain only when
    // it queues to us). True when none is left.
    bool Remove();
    // True when a chain of ours exists in any table.
    bool AnyPresent();
    // After a successful Install: whether our rules hold the Messenger datagrams.
    bool HoldsDatagrams() const { return holdsDatagrams_; }

    const std::string& Problem() const { return problem_; }
    // The programs this family's rules are made with (iptables or ip6tables, and their -restore).
    const std::string& Program() const { return program_; }
    const std::string& RestoreProgram() const { return restoreProgram_; }

  private:
    enum class DatagramHolder { Nobody, Us, Another };
    DatagramHolder WhoHoldsDatagrams();
    int Run(std::vector<std::string> arguments, const std::string& input = {}, std::string* output = nullptr);
    bool RemoveChain(const std::string& table, const std::string& builtin, const std::string& chain);
    bool ChainExists(const std::string& table, const std::string& chain);

    NfqueueOptions options_;
    IpFamily family_;
    std::string program_;
    std::string restoreProgram_;
    Runner runner_;
    std::string problem_;
    bool holdsDatagrams_ = false;
};

}  // namespace bramvell
