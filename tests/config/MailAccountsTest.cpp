#include "config/MailAccounts.h"

#include <gtest/gtest.h>

#include "config/OptionsFile.h"
#include "support/TempFolder.h"

namespace bramvell::testing {
namespace {

TEST(MailAccountsTest, ServerTextsParseWithDefaultPortsAndBracketedIpv6) {
    struct Case {
        std::string text;
        MailSecurity security;
        std::string host;  // empty: refused
        uint16_t port;
    };
    const Case cases[] = {
        {"pop.example.org", MailSecurity::Tls, "pop.example.org", 995},
        {"pop.example.org", MailSecurity::StartTls, "pop.example.org", 110},
        {"pop.example.org:1995", MailSecurity::Tls, "pop.example.org", 1995},
        {"[2001:db8::1]", MailSecurity::Tls, "2001:db8::1", 995},
        {"[2001:db8::1]:110", MailSecurity::StartTls, "2001:db8::1", 110},
        {"2001:db8::1", MailSecurity::Tls, "", 0},
        {"pop.example.org:", MailSecurity::Tls, "", 0},
        {"pop.example.org:70000", MailSecurity::Tls, "", 0},
        {"[::1]x", MailSecurity::Tls, "", 0},
        {"pop example", MailSecurity::Tls, "", 0},
        {"", MailSecurity::Tls, "", 0},
    };
    for (const Case& c : cases) {
        MailAccount account;
        std::string problem;
        const bool parsed = ParseServer(c.text, c.security, account, &problem);
        EXPECT_EQ(parsed, !c.host.empty()) << c.text;
        if (parsed) {
            EXPECT_EQ(account.host, c.host) << c.text;
            EXPECT_EQ(account.port, c.port) << c.text;
        } else {
            EXPECT_FALSE(problem.empty()) << c.text;
        }
    }
}

TEST(MailAccountsTest, AccountsLiveInTheOptionsFileBesideWhatItHeld) {
    TempFolder folder;
    const SettingsLocation location{folder.path(), "bramvell"};
    {
        OptionsFile file(location);
        ASSERT_TRUE(file.Load());
        std::string problem;
        ASSERT_TRUE(file.Set("scorer", "chi-square", &problem));
        file.SetUnchecked("my.own.key", "kept");
        MailAccount work{"work", "pop.example.org", 995, MailSecurity::Tls, 1110, "/etc/ssl/work.pem"};
        ASSERT_TRUE(AddAccount(file, work, &problem)) << problem;
        MailAccount home{
            "home", "2001:db8::1", 110, MailSecurity::StartTls, FreeListenPort(LoadAccounts(file)), ""};
        ASSERT_TRUE(AddAccount(file, home, &problem)) << problem;
        MailAccount clash{"other", "x.example", 995, MailSecurity::Tls, 1110, ""};
        EXPECT_FALSE(AddAccount(file, clash, &problem));  // port taken
        clash.listenPort = 1200;
        clash.name = "work";
        EXPECT_FALSE(AddAccount(file, clash, &problem));  // name taken
        clash.name = "bad.name";
        EXPECT_FALSE(AddAccount(file, clash, &problem));
        ASSERT_TRUE(file.Save());
    }
    OptionsFile file(location);
    ASSERT_TRUE(file.Load());
    std::vector<MailAccount> accounts = LoadAccounts(file);
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].ServerText(), "pop.example.org:995");
    EXPECT_EQ(accounts[0].caFile, "/etc/ssl/work.pem");
    EXPECT_EQ(accounts[1].ServerText(), "[2001:db8::1]:110");
    EXPECT_EQ(accounts[1].security, MailSecurity::StartTls);
    EXPECT_EQ(accounts[1].listenPort, 1111);
    EXPECT_EQ(file.Get("scorer"), "chi-square");

    EXPECT_TRUE(RemoveAccount(file, "work"));
    EXPECT_FALSE(RemoveAccount(file, "work"));
    ASSERT_TRUE(file.Save());
    const std::string text = ReadWholeFile(file.Path());
    EXPECT_NE(text.find("my.own.key = kept"), std::string::npos);
    EXPECT_EQ(text.find("account.work."), std::string::npos);
    EXPECT_NE(text.find("account.home.server"), std::string::npos);
}

TEST(MailAccountsTest, HandEditedAccountsWithMissingOrBadLinesAreLeftOut) {
    TempFolder folder;
    OptionsFile file({folder.path(), "bramvell"});
    ASSERT_TRUE(file.Load());
    file.SetUnchecked("account.a.server", "pop.example.org");
    file.SetUnchecked("account.a.security", "tls");
    file.SetUnchecked("account.a.listen", "1110");
    file.SetUnchecked("account.b.server", "pop.example.org");  // no security
    file.SetUnchecked("account.b.listen", "1111");
    file.SetUnchecked("account.c.server", "pop.example.org");
    file.SetUnchecked("account.c.security", "plain");
    file.SetUnchecked("account.c.listen", "1112");
    file.SetUnchecked("account.d.server", "pop.example.org");
    file.SetUnchecked("account.d.security", "starttls");
    file.SetUnchecked("account.d.listen", "1110");  // a's port
    file.SetUnchecked("account..server", "x");      // no name: not an account line
    std::vector<std::string> skipped;
    const std::vector<MailAccount> accounts = LoadAccounts(file, &skipped);
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0].name, "a");
    EXPECT_EQ(skipped, (std::vector<std::string>{"b", "c", "d"}));
}

}  // namespace
}  // namespace bramvell::testing
