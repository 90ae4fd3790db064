#include "platform/linux/NetfilterRules.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace bramvell {
namespace {

// A small model of iptables: chains per table, and how many jumps the built-in chain holds to each.
class FakeIptables {
  public:
    std::map<std::string, int> jumps;  // "table/chain" -> jumps from the built-in chain
    std::map<std::string, bool> chains;
    std::vector<std::string> commands;
    std::string restoreInput;
    int restoreStatus = 0;
    bool chainsUndeletable = false;

    NetfilterRules::Runner Runner() {
        return [this](const std::vector<std::string>& arguments, const std::string& input,
                      std::string* output) { return Run(arguments, input, output); };
    }

  private:
    int Run(const std::vector<std::string>& a, const std::string& input, std::string* output) {
        std::string joined;
        for (const std::string& word : a) {
            joined += (joined.empty() ? "" : " ") + word;
        }
        commands.push_back(joined);
        if (a[0] == "iptables-restore") {
            restoreInput = input;
            if (restoreStatus != 0) {
                if (output) {
                    *output = "line 5 failed";
                }
                chains["raw/BRAMVELL-OUT"] = true;  // the first table was committed
                jumps["raw/BRAMVELL-OUT"] = 1;
                return restoreStatus;
            }
            chains["raw/BRAMVELL-OUT"] = chains["filter/BRAMVELL-IN"] = true;
            jumps["raw/BRAMVELL-OUT"] = jumps["filter/BRAMVELL-IN"] = 1;
            return 0;
        }
        // iptables -w 5 -t TABLE OPERATION ...
        const std::string key = a[4] + "/" + a.back();
        std::string operation;
        for (const std::string& word : a) {
            if (word == "-D" || word == "-L" || word == "-F" || word == "-X") {
                operation = word;
            }
        }
        if (operation == "-D") {
            return jumps[key] > 0 ? (--jumps[key], 0) : 1;
        }
        if (operation == "-L") {
            return chains[key] ? 0 : 1;
        }
        if (operation == "-F") {
            return chains[key] ? 0 : 1;
        }
        if (operation == "-X") {
            if (!chains[key] || jumps[key] > 0 || chainsUndeletable) {
                return 1;
            }
            chains[key] = false;
            return 0;
        }
        return 2;
    }
};

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
    options.markBit = 0x40;
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
    NetfilterRules rules(NfqueueOptions{}, iptables.Runner());
    EXPECT_FALSE(rules.Install(RuleScope::AllButLoopback()));
    EXPECT_NE(rules.Problem().find("line 5 failed"), std::string::npos) << rules.Problem();
    EXPECT_FALSE(rules.AnyPresent());
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

}  // namespace
}  // namespace bramvell
