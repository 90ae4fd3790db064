#include "platform/linux/NetfilterRules.h"

#include <cstdio>
#include <utility>

#include "platform/linux/ProcessRunner.h"

namespace bramvell {
namespace {

// Held: the engine may change or drop these. Watched: the engine only looks at them.
constexpr const char* kHeldOutboundTcpPorts = "25,110";
constexpr const char* kWatchedOutboundTcpPorts = "80,1080,3128,8080,6661:6669";
// A watched segment shorter than this carries no data worth a look (a bare ACK with timestamps is 52
// bytes over IPv4, 72 over IPv6).
constexpr const char* kWatchedMinimumLength = "53:65535";
constexpr const char* kWatchedMinimumLength6 = "73:65535";
constexpr const char* kWatchedRate = "-m limit --limit 20/second --limit-burst 20";
constexpr int kMaxJumpCopies = 64;
constexpr const char* kPop3Port = "110";

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

// Interface names reach the iptables-restore text unquoted; allow only the characters that plain
// names use.
bool IsPlainInterfaceName(const std::string& name) {
    if (name.empty() || name.size() > 15) {
        return false;
    }
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '_' || c == '-' || c == '.' || c == '@' || c == '+';
        if (!plain) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string BuildRuleset(const NfqueueOptions& options, const RuleScope& scope, IpFamily family) {
    if (!scope.interfaceName.empty() && !IsPlainInterfaceName(scope.interfaceName)) {
        return {};
    }
    const std::string out = scope.interfaceName.empty() ? "! -o lo" : "-o " + scope.interfaceName;
    const std::string in = scope.interfaceName.empty() ? "! -i lo" : "-i " + scope.interfaceName;
    const std::string mark = Hex(options.mark) + "/" + Hex(options.markMask);
    const std::string skipOurs = " -m mark --mark " + mark + " -j RETURN\n";
    const std::string queue =
        "-j NFQUEUE --queue-num " + std::to_string(options.queueNumber) + " --queue-bypass";
    // One user's run: outgoing packets by the socket's owner; incoming POP3 replies by the connection
    // mark that mangle OUTPUT gave that user's connections (raw OUTPUT comes before conntrack).
    const bool oneUser = options.ownerUid.has_value();
    const std::string owner = oneUser ? " -m owner --uid-owner " + std::to_string(*options.ownerUid) : "";
    const std::string ownConnection = oneUser ? " -m connmark --mark " + mark : "";
    const std::string& outChain = options.outboundChain;
    const std::string& inChain = options.inboundChain;

    std::string text;
    text += "*raw\n";
    text += ":" + outChain + " - [0:0]\n";
    text += "-A " + outChain + skipOurs;
    text += "-A " + outChain + " " + out + " -p tcp -m multiport --dports " + kHeldOutboundTcpPorts + owner +
            " " + queue + "\n";
    if (options.observeActivityPorts) {
        text += "-A " + outChain + " " + out + " -p tcp -m multiport --dports " + kWatchedOutboundTcpPorts +
                owner + " -m length --length " +
                (family == IpFamily::Ipv6 ? kWatchedMinimumLength6 : kWatchedMinimumLength) + " " +
                kWatchedRate + " -j NFLOG --nflog-group " + std::to_string(options.logGroup) + "\n";
    }
    text += "-I OUTPUT 1 -j " + outChain + "\n";
    text += "COMMIT\n";

    if (oneUser) {
        const std::string& markChain = options.connectionChain;
        text += "*mangle\n";
        text += ":" + markChain + " - [0:0]\n";
        text += "-A " + markChain + " " + out + " -p tcp --dport " + kPop3Port + owner +
                " -j CONNMARK --set-mark " + mark + "\n";
        text += "-I OUTPUT 1 -j " + markChain + "\n";
        text += "COMMIT\n";
    }

    text += "*filter\n";
    text += ":" + inChain + " - [0:0]\n";
    text += "-A " + inChain + skipOurs;
    text += "-A " + inChain + " " + in + " -p tcp --sport " + kPop3Port + ownConnection + " " + queue + "\n";
    if (options.holdDatagrams) {
        // A run for one user keeps the machine-wide datagram rules apart, so another run can see who
        // holds them.
        const std::string& datagramChain = oneUser ? options.datagramChain : inChain;
        if (oneUser) {
            text += ":" + datagramChain + " - [0:0]\n";
            text += "-A " + datagramChain + skipOurs;
        }
        text += "-A " + datagramChain + " " + in + " -p udp --dport 135 " + queue + "\n";
        // Replies from DNS servers to these ports are not Messenger datagrams; they need not wait for us.
        text += "-A " + datagramChain + " " + in + " -p udp --dport 1025:1029 ! --sport 53 " + queue + "\n";
        if (oneUser) {
            text += "-I INPUT 1 -j " + datagramChain + "\n";
        }
    }
    text += "-I INPUT 1 -j " + inChain + "\n";
    text += "COMMIT\n";
    return text;
}

NetfilterRules::NetfilterRules(NfqueueOptions options, IpFamily family)
    : NetfilterRules(std::move(options), family, RunProgram) {}

NetfilterRules::NetfilterRules(NfqueueOptions options, IpFamily family, Runner runner)
    : options_(std::move(options)),
      family_(family),
      program_(family == IpFamily::Ipv6 ? options_.ip6tables : options_.iptables),
      restoreProgram_(family == IpFamily::Ipv6 ? options_.ip6tablesRestore : options_.iptablesRestore),
      runner_(std::move(runner)) {}

int NetfilterRules::Run(std::vector<std::string> arguments, const std::string& input, std::string* output) {
    return runner_(arguments, input, output);
}

bool NetfilterRules::ChainExists(const std::string& table, const std::string& chain) {
    return Run({program_, "-w", "5", "-t", table, "-n", "-L", chain}) == 0;
}

bool NetfilterRules::RemoveChain(const std::string& table, const std::string& builtin,
                                 const std::string& chain) {
    // A jump may have been added more than once (crashes between installs); delete until none is left.
    for (int copy = 0; copy < kMaxJumpCopies; ++copy) {
        if (Run({program_, "-w", "5", "-t", table, "-D", builtin, "-j", chain}) != 0) {
            break;
        }
    }
    if (!ChainExists(table, chain)) {
        return true;
    }
    Run({program_, "-w", "5", "-t", table, "-F", chain});
    std::string output;
    if (Run({program_, "-w", "5", "-t", table, "-X", chain}, {}, &output) != 0 && ChainExists(table, chain)) {
        problem_ = "cannot remove chain " + chain + " from table " + table + ": " + output;
        return false;
    }
    return true;
}

NetfilterRules::DatagramHolder NetfilterRules::WhoHoldsDatagrams() {
    std::string listing;
    if (Run({program_, "-w", "5", "-t", "filter", "-S", options_.datagramChain}, {}, &listing) != 0) {
        return DatagramHolder::Nobody;
    }
    const std::string ourQueue = "--queue-num " + std::to_string(options_.queueNumber) + " ";
    return listing.find(ourQueue) != std::string::npos ? DatagramHolder::Us : DatagramHolder::Another;
}

bool NetfilterRules::Remove() {
    const bool outRemoved = RemoveChain("raw", "OUTPUT", options_.outboundChain);
    const bool inRemoved = RemoveChain("filter", "INPUT", options_.inboundChain);
    if (!options_.ownerUid) {
        return outRemoved && inRemoved;
    }
    const bool markRemoved = RemoveChain("mangle", "OUTPUT", options_.connectionChain);
    // The shared datagram chain is removed only by the run that holds it.
    const bool datagramsRemoved =
        WhoHoldsDatagrams() != DatagramHolder::Us || RemoveChain("filter", "INPUT", options_.datagramChain);
    return outRemoved && inRemoved && markRemoved && datagramsRemoved;
}

bool NetfilterRules::AnyPresent() {
    return ChainExists("raw", options_.outboundChain) || ChainExists("filter", options_.inboundChain) ||
           (options_.ownerUid &&
            (ChainExists("mangle", options_.connectionChain) || WhoHoldsDatagrams() == DatagramHolder::Us));
}

bool NetfilterRules::Install(const RuleScope& scope) {
    problem_.clear();
    holdsDatagrams_ = false;
    if (BuildRuleset(options_, scope, family_).empty()) {
        problem_ = "interface name not usable in a rule: " + scope.interfaceName;
        return false;
    }
    if (!Remove()) {
        return false;
    }
    NfqueueOptions installed = options_;
    // First come: another user's run that already holds the datagram rules keeps them.
    if (installed.ownerUid && installed.holdDatagrams && WhoHoldsDatagrams() == DatagramHolder::Another) {
        installed.holdDatagrams = false;
    }
    std::string output;
    const int status =
        Run({restoreProgram_, "-w", "5", "--noflush"}, BuildRuleset(installed, scope, family_), &output);
    if (status != 0) {
        problem_ = restoreProgram_ + " failed (status " + std::to_string(status) + "): " + output;
        // One table may have been committed before the other failed.
        Remove();
        return false;
    }
    holdsDatagrams_ = installed.holdDatagrams;
    return true;
}

}  // namespace bramvell
