#include "platform/linux/NetfilterRules.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace bramvell {
namespace {

// A small model of iptables: chains per table with their rules, and how many jumps the built-in
// chains hold to each. iptables-restore input is applied line by line.
class FakeIptables {
  public:
    std::map<std::string, int> jumps;  // "table/chain" -> jumps from a built-in chain
    std::map<std::string, bool> chains;
    std::map<std::string, std::string> rules;  // "table/chain" -> its "-A" lines
    std::vector<std::string> commands;
    std::string restoreInput;
    int restoreStatus = 0;
    bool chainsUndeletable = false;

    NetfilterRules::Runner Runner() {
        return [this](const std::vector<std::string>& arguments, const std::string& input,
                      std::string* output) { return Run(arguments, input, output); };
    }

    void Restore(const std::string& text, bool firstTableOnly) {
        std::string table;
        std::size_t start = 0;
        while (start < text.size()) {
            const std::size_t end = text.find('\n', start);
            const std::string line = text.substr(start, end - start);
            start = end + 1;
            if (line[0] == '*') {
                table = line.substr(1);
            } else if (line[0] == ':') {
                const std::string key = table + "/" + line.substr(1, line.find(' ') - 1);
                chains[key] = true;
                rules[key].clear();
            } else if (line.rfind("-I ", 0) == 0) {
                ++jumps[table + "/" + line.substr(line.rfind(' ') + 1)];
            } else if (line.rfind("-A ", 0) == 0) {
                const std::string chain = line.substr(3, line.find(' ', 3) - 3);
                rules[table + "/" + chain] += line + "\n";
            } else if (line == "COMMIT" && firstTableOnly) {
                return;
            }
        }
    }

  private:
    int Run(const std::vector<std::string>& a, const std::string& input, std::string* output) {
        std::string joined;
        for (const std::string& word : a) {
            joined += (joined.empty() ? "" : " ") + word;
        }
        commands.push_back(joined);
        if (a[0] == "iptables-restore" || a[0] == "ip6tables-restore") {
            restoreInput = input;
            Restore(input, restoreStatus != 0);
            if (restoreStatus != 0 && output) {
                *output = "line 5 failed";
            }
            return restoreStatus;
        }
        // iptables -w 5 -t TABLE OPERATION ...
        const std::string key = a[4] + "/" + a.back();
        std::string operation;
        for (const std::string& word : a) {
            if (word == "-D" || word == "-L" || word == "-F" || word == "-X" || word == "-S") {
                operation = word;
            }
        }
        if (operation == "-D") {
            return jumps[key] > 0 ? (--jumps[key], 0) : 1;
        }
        if (operation == "-L" || operation == "-F") {
            return chains[key] ? 0 : 1;
        }
        if (operation == "-S") {
            if (output) {
                *output = rules[key];
            }
            return chains[key] ? 0 : 1;
        }
        if (operation == "-X") {
            if (!chains[key] || jumps[key] > 0 || chainsUndeletable) {
                return 1;
            }
            chains[key] = false;
            rules[key].clear();
            return 0;
        }
        return 2;
    }
};

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST(NetfilterRulesTest, RulesetForOneInterface) {
    const std::string expected =
        "*raw\n"
        ":BRAMVELL-OUT - [0:0]\n"
        "-A BRAMVELL-OUT -m mark --mark 0x1/0x1 -j RETURN\n"
        "-A BRAMVELL-OUT -o eth0 -p tcp -m multiport --dports 25,110 -j NFQUEUE --queue-num 110 "
        "--queue-bypass\n"
        "-A BRAMVELL-OUT -o eth0 -p tcp -m multiport --dports 80,1080,3128,8080,6661:6669 -m length --length "
        "53:65535 -m limit --limit 20/second --limit-burst 20 -j NFLOG --nflog-group 110\n"
        "-I OUTPUT 1 -j BRAMVELL-OUT\n"
        "COMMIT\n"
        "*filter\n"
        ":BRAMVELL-IN - [0:0]\n"
        "-A BRAMVELL-IN -m mark --mark 0x1/0x1 -j RETURN\n"
        "-A BRAMVELL-IN -i eth0 -p tcp --sport 110 -j NFQUEUE --queue-num 110 --queue-bypass\n"
        "-A BRAMVELL-IN -i eth0 -p udp --dport 135 -j NFQUEUE --queue-num 110 --queue-bypass\n"
        "-A BRAMVELL-IN -i eth0 -p udp --dport 1025:1029 ! --sport 53 -j NFQUEUE --queue-num 110 "
        "--queue-bypass\n"
        "-I INPUT 1 -j BRAMVELL-IN\n"
        "COMMIT\n";
    EXPECT_EQ(BuildRuleset(NfqueueOptions{}, RuleScope::Interface("eth0")), expected);
}

TEST(NetfilterRulesTest, RulesetOptionsAndScopes) {
    NfqueueOptions options;
    options.mark = 0x40;
    options.markMask = 0x40;
    options.queueNumber = 7;
    options.observeActivityPorts = false;
    const std::string text = BuildRuleset(options, RuleScope::AllButLoopback());
    EXPECT_NE(text.find("-A BRAMVELL-OUT ! -o lo -p tcp"), std::string::npos) << text;
    EXPECT_NE(text.find("-A BRAMVELL-IN ! -i lo -p tcp --sport 110"), std::string::npos) << text;
    EXPECT_NE(text.find("--mark 0x40/0x40 -j RETURN"), std::string::npos) << text;
    EXPECT_NE(text.find("--queue-num 7 --queue-bypass"), std::string::npos) << text;
    EXPECT_EQ(text.find("NFLOG"), std::string::npos) << text;
}

TEST(NetfilterRulesTest, InterfaceNamesThatCouldBreakTheRuleTextAreRefused) {
    for (const std::string name : {"eth0 -j ACCEPT", "a\nCOMMIT", "x\"y", "name-longer-than-15", "br#0"}) {
        EXPECT_EQ(BuildRuleset(NfqueueOptions{}, RuleScope::Interface(name)), "") << name;
        FakeIptables iptables;
        NetfilterRules rules(NfqueueOptions{}, iptables.Runner());
        EXPECT_FALSE(rules.Install(RuleScope::Interface(name)));
        EXPECT_NE(rules.Problem(), "");
        EXPECT_TRUE(iptables.commands.empty());
    }
    EXPECT_NE(BuildRuleset(NfqueueOptions{}, RuleScope::Interface("wlp2s0.10@x+y_z")), "");
}

TEST(NetfilterRulesTest, InstallRemovesStaleRulesFirstThenLoadsTheRulesetInOneRun) {
    FakeIptables iptables;
    iptables.chains["raw/BRAMVELL-OUT"] = true;
    iptables.jumps["raw/BRAMVELL-OUT"] = 2;  // a jump left twice by crashes
    iptables.chains["filter/BRAMVELL-IN"] = true;
    NetfilterRules rules(NfqueueOptions{}, iptables.Runner());

    ASSERT_TRUE(rules.Install(RuleScope::Interface("eth0"))) << rules.Problem();
    EXPECT_EQ(iptables.jumps["raw/BRAMVELL-OUT"], 1);
    EXPECT_EQ(iptables.jumps["filter/BRAMVELL-IN"], 1);
    EXPECT_FALSE(iptables.chains["mangle/BRAMVELL-MARK"]);
    EXPECT_EQ(iptables.restoreInput, BuildRuleset(NfqueueOptions{}, RuleScope::Interface("eth0")));
    EXPECT_EQ(iptables.commands.back(), "iptables-restore -w 5 --noflush");
    int deletes = 0;
    int chainDeletes = 0;
    for (const std::string& command : iptables.commands) {
        deletes += command.find("-t raw -D OUTPUT -j BRAMVELL-OUT") != std::string::npos;
        chainDeletes += command.find(" -X ") != std::string::npos;
    }
    EXPECT_EQ(deletes, 3);  // two removed, the third finds none
    EXPECT_EQ(chainDeletes, 2);

    ASSERT_TRUE(rules.Remove());
    EXPECT_FALSE(rules.AnyPresent());
    EXPECT_FALSE(iptables.chains["raw/BRAMVELL-OUT"]);
    EXPECT_EQ(iptables.jumps["raw/BRAMVELL-OUT"], 0);
}

TEST(NetfilterRulesTest, FailedRestoreLeavesNothingInstalledAndSaysWhy) {
    FakeIptables iptables;
    iptables.restoreStatus = 1;
    for (const std::optional<uint32_t> owner : {std::optional<uint32_t>{}, std::optional<uint32_t>{1000}}) {
        NetfilterRules rules(NfqueueOptionsFor(owner), iptables.Runner());
        EXPECT_FALSE(rules.Install(RuleScope::AllButLoopback()));
        EXPECT_NE(rules.Problem().find("line 5 failed"), std::string::npos) << rules.Problem();
        EXPECT_FALSE(rules.AnyPresent());
    }
}

TEST(NetfilterRulesTest, AChainThatCannotBeDeletedIsReported) {
    FakeIptables iptables;
    iptables.chains["filter/BRAMVELL-IN"] = true;
    iptables.chainsUndeletable = true;
    NetfilterRules rules(NfqueueOptions{}, iptables.Runner());
    EXPECT_FALSE(rules.Remove());
    EXPECT_NE(rules.Problem().find("BRAMVELL-IN"), std::string::npos) << rules.Problem();
    EXPECT_FALSE(rules.Install(RuleScope::Interface("eth0")));
    EXPECT_EQ(iptables.restoreInput, "");
}

TEST(NetfilterRulesTest, RulesetForOneUserTakesOnlyThatUsersConnections) {
    const std::string expected =
        "*raw\n"
        ":BRAMVELL-OUT-1000 - [0:0]\n"
        "-A BRAMVELL-OUT-1000 -m mark --mark 0x83e80000/0xffff0000 -j RETURN\n"
        "-A BRAMVELL-OUT-1000 -o eth0 -p tcp -m multiport --dports 25,110 -m owner --uid-owner 1000 -j "
        "NFQUEUE "
        "--queue-num 2024 --queue-bypass\n"
        "-A BRAMVELL-OUT-1000 -o eth0 -p tcp -m multiport --dports 80,1080,3128,8080,6661:6669 -m owner "
        "--uid-owner 1000 -m length --length 53:65535 -m limit --limit 20/second --limit-burst 20 -j NFLOG "
        "--nflog-group 2024\n"
        "-I OUTPUT 1 -j BRAMVELL-OUT-1000\n"
        "COMMIT\n"
        "*mangle\n"
        ":BRAMVELL-MARK-1000 - [0:0]\n"
        "-A BRAMVELL-MARK-1000 -o eth0 -p tcp --dport 110 -m owner --uid-owner 1000 -j CONNMARK --set-mark "
        "0x83e80000/0xffff0000\n"
        "-I OUTPUT 1 -j BRAMVELL-MARK-1000\n"
        "COMMIT\n"
        "*filter\n"
        ":BRAMVELL-IN-1000 - [0:0]\n"
        "-A BRAMVELL-IN-1000 -m mark --mark 0x83e80000/0xffff0000 -j RETURN\n"
        "-A BRAMVELL-IN-1000 -i eth0 -p tcp --sport 110 -m connmark --mark 0x83e80000/0xffff0000 -j NFQUEUE "
        "--queue-num 2024 --queue-bypass\n"
        ":BRAMVELL-DGRAM - [0:0]\n"
        "-A BRAMVELL-DGRAM -m mark --mark 0x83e80000/0xffff0000 -j RETURN\n"
        "-A BRAMVELL-DGRAM -i eth0 -p udp --dport 135 -j NFQUEUE --queue-num 2024 --queue-bypass\n"
        "-A BRAMVELL-DGRAM -i eth0 -p udp --dport 1025:1029 ! --sport 53 -j NFQUEUE --queue-num 2024 "
        "--queue-bypass\n"
        "-I INPUT 1 -j BRAMVELL-DGRAM\n"
        "-I INPUT 1 -j BRAMVELL-IN-1000\n"
        "COMMIT\n";
    EXPECT_EQ(BuildRuleset(NfqueueOptionsFor(1000), RuleScope::Interface("eth0")), expected);
}

TEST(NetfilterRulesTest, EachUserHasOwnNamesAndNumbersAndEveryoneKeepsTheOldOnes) {
    struct Case {
        std::optional<uint32_t> owner;
        const char* outboundChain;
        const char* connectionChain;
        uint16_t queue;
        uint32_t mark;
        uint32_t mask;
    };
    const Case cases[] = {
        {std::nullopt, "BRAMVELL-OUT", "BRAMVELL-MARK", 110, 0x1, 0x1},
        {0, "BRAMVELL-OUT-0", "BRAMVELL-MARK-0", 1024, 0x80000000, 0xffff0000},
        {1000, "BRAMVELL-OUT-1000", "BRAMVELL-MARK-1000", 2024, 0x83e80000, 0xffff0000},
        {1001, "BRAMVELL-OUT-1001", "BRAMVELL-MARK-1001", 2025, 0x83e90000, 0xffff0000},
        {65534, "BRAMVELL-OUT-65534", "BRAMVELL-MARK-65534", 2046, 0xfffe0000, 0xffff0000},
    };
    for (const Case& c : cases) {
        const NfqueueOptions options = NfqueueOptionsFor(c.owner);
        EXPECT_EQ(options.ownerUid, c.owner);
        EXPECT_EQ(options.outboundChain, c.outboundChain);
        EXPECT_EQ(options.connectionChain, c.connectionChain);
        EXPECT_EQ(options.queueNumber, c.queue);
        EXPECT_EQ(options.logGroup, c.queue);
        EXPECT_EQ(options.mark, c.mark);
        EXPECT_EQ(options.markMask, c.mask);
        // Everyone's run has no owner test anywhere; a user's run has one on each outgoing TCP rule.
        const std::string text = BuildRuleset(options, RuleScope::AllButLoopback());
        EXPECT_EQ(Count(text, "--uid-owner"), c.owner ? 3u : 0u) << text;
        EXPECT_EQ(Count(text, "-m connmark"), c.owner ? 1u : 0u) << text;
        EXPECT_EQ(Count(text, "*mangle"), c.owner ? 1u : 0u) << text;
    }
}

TEST(NetfilterRulesTest, TwoUsersRunSideBySideAndTheFirstHoldsTheDatagrams) {
    FakeIptables iptables;
    NetfilterRules first(NfqueueOptionsFor(1000), iptables.Runner());
    NetfilterRules second(NfqueueOptionsFor(1001), iptables.Runner());
    ASSERT_TRUE(first.Install(RuleScope::AllButLoopback())) << first.Problem();
    EXPECT_TRUE(first.HoldsDatagrams());
    ASSERT_TRUE(second.Install(RuleScope::AllButLoopback())) << second.Problem();
    EXPECT_FALSE(second.HoldsDatagrams());
    EXPECT_EQ(Count(iptables.restoreInput, "BRAMVELL-DGRAM"), 0u) << iptables.restoreInput;
    EXPECT_EQ(iptables.jumps["filter/BRAMVELL-DGRAM"], 1);
    EXPECT_NE(iptables.rules["filter/BRAMVELL-DGRAM"].find("--queue-num 2024 "), std::string::npos);

    // The first one restarting replaces its own chains, datagram chain included, and nothing else.
    ASSERT_TRUE(first.Install(RuleScope::AllButLoopback())) << first.Problem();
    EXPECT_TRUE(first.HoldsDatagrams());
    for (const char* chain : {"raw/BRAMVELL-OUT-1000", "mangle/BRAMVELL-MARK-1000", "filter/BRAMVELL-IN-1000",
                              "filter/BRAMVELL-DGRAM", "raw/BRAMVELL-OUT-1001", "filter/BRAMVELL-IN-1001"}) {
        EXPECT_EQ(iptables.jumps[chain], 1) << chain;
    }

    ASSERT_TRUE(second.Remove()) << second.Problem();
    EXPECT_FALSE(second.AnyPresent());
    EXPECT_TRUE(iptables.chains["filter/BRAMVELL-DGRAM"]);  // not the second one's to remove
    EXPECT_TRUE(first.AnyPresent());
    ASSERT_TRUE(first.Remove()) << first.Problem();
    for (const auto& [chain, present] : iptables.chains) {
        EXPECT_FALSE(present) << chain;
        EXPECT_EQ(iptables.jumps[chain], 0) << chain;
    }
}

TEST(NetfilterRulesTest, Ipv6RulesetMirrorsTheIpv4OneWithTheLongerHeaderInTheWatchedLength) {
    for (const std::optional<uint32_t> owner : {std::optional<uint32_t>{}, std::optional<uint32_t>{1000}}) {
        const NfqueueOptions options = NfqueueOptionsFor(owner);
        std::string ipv4 = BuildRuleset(options, RuleScope::Interface("eth0"));
        const std::string ipv6 = BuildRuleset(options, RuleScope::Interface("eth0"), IpFamily::Ipv6);
        // A bare ACK with timestamps is 72 bytes over IPv6: only longer segments are worth a look.
        const std::size_t at = ipv4.find("--length 53:65535");
        ASSERT_NE(at, std::string::npos);
        ipv4.replace(at, 17, "--length 73:65535");
        EXPECT_EQ(ipv6, ipv4);
    }
}

TEST(NetfilterRulesTest, Ipv6RulesAreMadeWithIp6tablesAndReplaceTheirOwnStaleChainsOnly) {
    FakeIptables ip4;
    FakeIptables ip6;
    ip6.chains["raw/BRAMVELL-OUT"] = true;
    ip6.jumps["raw/BRAMVELL-OUT"] = 2;
    ip6.chains["mangle/BRAMVELL-MARK-1000"] = true;
    ip6.jumps["mangle/BRAMVELL-MARK-1000"] = 1;
    NetfilterRules rules4(NfqueueOptionsFor(1000), IpFamily::Ipv4, ip4.Runner());
    NetfilterRules rules6(NfqueueOptionsFor(1000), IpFamily::Ipv6, ip6.Runner());
    EXPECT_EQ(rules6.Program(), "ip6tables");
    EXPECT_EQ(rules6.RestoreProgram(), "ip6tables-restore");

    ASSERT_TRUE(rules4.Install(RuleScope::AllButLoopback())) << rules4.Problem();
    ASSERT_TRUE(rules6.Install(RuleScope::AllButLoopback())) << rules6.Problem();
    EXPECT_EQ(ip6.restoreInput,
              BuildRuleset(NfqueueOptionsFor(1000), RuleScope::AllButLoopback(), IpFamily::Ipv6));
    for (const std::string& command : ip6.commands) {
        EXPECT_EQ(command.rfind("ip6tables", 0), 0u) << command;
    }
    // The stale chain of the everyone run is not this user's to touch; this user's own is replaced.
    EXPECT_EQ(ip6.jumps["raw/BRAMVELL-OUT"], 2);
    EXPECT_EQ(ip6.jumps["mangle/BRAMVELL-MARK-1000"], 1);
    EXPECT_EQ(ip6.jumps["raw/BRAMVELL-OUT-1000"], 1);
    EXPECT_TRUE(rules6.HoldsDatagrams());
    EXPECT_NE(ip6.rules["filter/BRAMVELL-DGRAM"].find("--queue-num 2024 "), std::string::npos);

    // Each family removes its own; the other's stays until its own removal.
    ASSERT_TRUE(rules6.Remove()) << rules6.Problem();
    EXPECT_FALSE(rules6.AnyPresent());
    EXPECT_TRUE(rules4.AnyPresent());
    EXPECT_TRUE(ip6.chains["raw/BRAMVELL-OUT"]);
    ASSERT_TRUE(rules4.Remove());
    EXPECT_FALSE(rules4.AnyPresent());
}

TEST(NetfilterRulesTest, AMissingIp6tablesLeavesNothingToRemove) {
    // What RunProgram answers for a program it refuses or cannot find.
    NetfilterRules rules(
        NfqueueOptions{}, IpFamily::Ipv6,
        [](const std::vector<std::string>&, const std::string&, std::string*) { return -1; });
    EXPECT_TRUE(rules.Remove());
    EXPECT_FALSE(rules.AnyPresent());
    EXPECT_FALSE(rules.Install(RuleScope::AllButLoopback()));
    EXPECT_NE(rules.Problem().find("ip6tables-restore failed"), std::string::npos) << rules.Problem();
}

}  // namespace
}  // namespace bramvell
