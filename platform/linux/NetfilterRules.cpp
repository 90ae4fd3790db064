#include "platform/linux/NetfilterRules.h"

#include <cstdio>
#include <utility>

#include "platform/linux/ProcessRunner.h"

namespace bramvell {
namespace {

// Held: the engine may change or drop these. Watched: the engine only looks at them.
constexpr const char* kHeldOutboundTcpPorts = "25,110";
constexpr const char* kWatchedOutboundTcpPorts = "80,1080,3128,8080,6661:6669";
// A watched segment shorter than this carries no data worth a look (a bare ACK with timestamps is 52).
constexpr const char* kWatchedMinimumLength = "53:65535";
constexpr const char* kWatchedRate = "-m limit --limit 20/second --limit-burst 20";
constexpr int kMaxJumpCopies = 64;

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

std::string BuildRuleset(const NfqueueOptions& options, const RuleScope& scope) {
    if (!scope.interfaceName.empty() && !IsPlainInterfaceName(scope.interfaceName)) {
        return {};
    }
    const std::string out = scope.interfaceName.empty() ? "! -o lo" : "-o " + scope.interfaceName;
    const std::string in = scope.interfaceName.empty() ? "! -i lo" : "-i " + scope.interfaceName;
    const std::string mark = Hex(options.markBit) + "/" + Hex(options.markBit);
    const std::string queue =
        "-j NFQUEUE --queue-num " + std::to_string(options.queueNumber) + " --queue-bypass";
    const std::string& outChain = options.outboundChain;
    const std::string& inChain = options.inboundChain;

    std::string text;
    text += "*raw\n";
    text += ":" + outChain + " - [0:0]\n";
    text += "-A " + outChain + " -m mark --mark " + mark + " -j RETURN\n";
    text += "-A " + outChain + " " + out + " -p tcp -m multiport --dports " + kHeldOutboundTcpPorts + " " +
            queue + "\n";
    if (options.observeActivityPorts) {
        text += "-A " + outChain + " " + out + " -p tcp -m multiport --dports " + kWatchedOutboundTcpPorts +
                " -m length --length " + kWatchedMinimumLength + " " + kWatchedRate +
                " -j NFLOG --nflog-group " + std::to_string(options.logGroup) + "\n";
    }
    text += "-I OUTPUT 1 -j " + outChain + "\n";
    text += "COMMIT\n";

    text += "*filter\n";
    text += ":" + inChain + " - [0:0]\n";
    text += "-A " + inChain + " -m mark --mark " + mark + " -j RETURN\n";
    text += "-A " + inChain + " " + in + " -p tcp --sport 110 " + queue + "\n";
    text += "-A " + inChain + " " + in + " -p udp --dport 135 " + queue + "\n";
    // Replies from DNS servers to these ports are not Messenger datagrams; they need not wait for us.
    text += "-A " + inChain + " " + in + " -p udp --dport 1025:1029 ! --sport 53 " + queue + "\n";
    text += "-I INPUT 1 -j " + inChain + "\n";
    text += "COMMIT\n";
    return text;
}

NetfilterRules::NetfilterRules(NfqueueOptions options) : NetfilterRules(std::move(options), RunProgram) {}

NetfilterRules::NetfilterRules(NfqueueOptions options, Runner runner)
    : options_(std::move(options)), runner_(std::move(runner)) {}

int NetfilterRules::Run(std::vector<std::string> arguments, const std::string& input, std::string* output) {
    return runner_(arguments, input, output);
}

bool NetfilterRules::ChainExists(const std::string& table, const std::string& chain) {
    return Run({options_.iptables, "-w", "5", "-t", table, "-n", "-L", chain}) == 0;
}

bool NetfilterRules::RemoveChain(const std::string& table, const std::string& builtin,
                                 const std::string& chain) {
    // A jump may have been added more than once (crashes between installs); delete until none is left.
    for (int copy = 0; copy < kMaxJumpCopies; ++copy) {
        if (Run({options_.iptables, "-w", "5", "-t", table, "-D", builtin, "-j", chain}) != 0) {
            break;
        }
    }
    if (!ChainExists(table, chain)) {
        return true;
    }
    Run({options_.iptables, "-w", "5", "-t", table, "-F", chain});
    std::string output;
    if (Run({options_.iptables, "-w", "5", "-t", table, "-X", chain}, {}, &output) != 0 &&
        ChainExists(table, chain)) {
        problem_ = "cannot remove chain " + chain + " from table " + table + ": " + output;
        return false;
    }
    return true;
}

bool NetfilterRules::Remove() {
    const bool outRemoved = RemoveChain("raw", "OUTPUT", options_.outboundChain);
    const bool inRemoved = RemoveChain("filter", "INPUT", options_.inboundChain);
    return outRemoved && inRemoved;
}

bool NetfilterRules::AnyPresent() {
    return ChainExists("raw", options_.outboundChain) || ChainExists("filter", options_.inboundChain);
}

bool NetfilterRules::Install(const RuleScope& scope) {
    problem_.clear();
    const std::string ruleset = BuildRuleset(options_, scope);
    if (ruleset.empty()) {
        problem_ = "interface name not usable in a rule: " + scope.interfaceName;
        return false;
    }
    if (!Remove()) {
        return false;
    }
    std::string output;
    const int status = Run({options_.iptablesRestore, "-w", "5", "--noflush"}, ruleset, &output);
    if (status != 0) {
        problem_ = options_.iptablesRestore + " failed (status " + std::to_string(status) + "): " + output;
        // One table may have been committed before the other failed.
        Remove();
        return false;
    }
    return true;
}

}  // namespace bramvell
