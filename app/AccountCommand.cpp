// `bramvell account`: the mailboxes behind TLS that the bridge serves to the mail client as plain POP3.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/Command.h"
#include "config/MailAccounts.h"
#include "config/OptionsFile.h"

namespace bramvell {
namespace {

int Usage() {
    std::fprintf(
        stderr,
        "usage: bramvell account add NAME --server HOST[:PORT] --security tls|starttls [--listen PORT] "
        "[--ca-file FILE]\n"
        "       bramvell account list | remove NAME\n");
    return 2;
}

// An absolute name of a readable regular file, or empty with the reason.
std::string CheckedCaFile(const std::string& name, std::string* problem) {
    std::unique_ptr<char, decltype(&std::free)> absolute(realpath(name.c_str(), nullptr), &std::free);
    struct stat info {};
    if (!absolute || stat(absolute.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        access(absolute.get(), R_OK) != 0) {
        *problem = "cannot read the CA file " + name;
        return {};
    }
    return absolute.get();
}

bool ParseAdd(const std::vector<std::string>& words, MailAccount& account, bool& listenGiven,
              std::string* problem) {
    account.name = words[1];
    std::string server;
    std::string security;
    for (std::size_t i = 2; i < words.size(); ++i) {
        const std::string& option = words[i];
        if (i + 1 >= words.size()) {
            *problem = "option '" + option + "' needs a value";
            return false;
        }
        const std::string& value = words[++i];
        if (option == "--server") {
            server = value;
        } else if (option == "--security") {
            security = value;
        } else if (option == "--listen") {
            const std::optional<uint16_t> port = ParsePort(value);
            if (!port) {
                *problem = "'" + value + "' is not a port number (1 to 65535)";
                return false;
            }
            account.listenPort = *port;
            listenGiven = true;
        } else if (option == "--ca-file") {
            account.caFile = CheckedCaFile(value, problem);
            if (account.caFile.empty()) {
                return false;
            }
        } else {
            *problem = "unknown option '" + option + "'";
            return false;
        }
    }
    const std::optional<MailSecurity> mode = ParseSecurity(security);
    if (server.empty() || !mode) {
        *problem = "--server HOST[:PORT] and --security tls|starttls are needed";
        return false;
    }
    account.security = *mode;
    return ParseServer(server, *mode, account, problem);
}

void PrintAccount(const MailAccount& account) {
    std::printf("%s: %s over %s, %s\n", account.name.c_str(), account.ServerText().c_str(),
                account.security == MailSecurity::Tls ? "TLS" : "STLS",
                account.caFile.empty() ? "certificate checked against the system's trust store"
                                       : ("certificate checked against " + account.caFile).c_str());
    std::printf(
        "  in the mail client: POP3 server 127.0.0.1 (or ::1), port %u, no encryption,\n"
        "  your own user name and password for %s\n",
        account.listenPort, account.host.c_str());
}

int RunAccount(CommandContext& context) {
    const std::vector<std::string>& words = context.arguments;
    if (words.empty()) {
        return Usage();
    }
    OptionsFile options;
    if (!options.Load()) {
        std::fprintf(stderr, "bramvell account: cannot open the settings folder for %s\n",
                     options.Path().c_str());
        return 1;
    }
    const std::string& verb = words[0];
    if (verb == "list" && words.size() == 1) {
        std::vector<std::string> skipped;
        const std::vector<MailAccount> accounts = LoadAccounts(options, &skipped);
        for (const MailAccount& account : accounts) {
            PrintAccount(account);
        }
        for (const std::string& name : skipped) {
            std::printf("%s: incomplete or damaged lines in %s; not served (remove and add it again)\n",
                        name.c_str(), options.Path().c_str());
        }
        if (accounts.empty() && skipped.empty()) {
            std::printf(
                "no accounts; add one with: bramvell account add NAME --server HOST[:PORT] --security "
                "tls|starttls\n");
        }
        return 0;
    }
    std::string problem;
    bool changed = false;
    if (verb == "add" && words.size() >= 2) {
        MailAccount account;
        bool listenGiven = false;
        if (!ParseAdd(words, account, listenGiven, &problem)) {
            std::fprintf(stderr, "bramvell account: %s\n", problem.c_str());
            return 2;
        }
        if (!listenGiven) {
            account.listenPort = FreeListenPort(LoadAccounts(options));
        }
        if (!AddAccount(options, account, &problem)) {
            std::fprintf(stderr, "bramvell account: %s\n", problem.c_str());
            return 2;
        }
        if (!options.Save()) {
            std::fprintf(stderr, "bramvell account: cannot write %s\n", options.Path().c_str());
            return 1;
        }
        PrintAccount(account);
        std::printf("  (served from the next start of bramvell)\n");
        changed = true;
    } else if (verb == "remove" && words.size() == 2) {
        if (!RemoveAccount(options, words[1])) {
            std::fprintf(stderr, "bramvell account: no account named '%s'\n", words[1].c_str());
            return 2;
        }
        if (!options.Save()) {
            std::fprintf(stderr, "bramvell account: cannot write %s\n", options.Path().c_str());
            return 1;
        }
        changed = true;
    }
    return changed ? 0 : Usage();
}

const CommandRegistration registration(
    {"account",
     "account add NAME --server HOST[:PORT] --security tls|starttls [--listen PORT] [--ca-file FILE] | list "
     "| remove NAME",
     "mailboxes behind TLS, served to the mail client as plain POP3 on 127.0.0.1", RunAccount});

}  // namespace
}  // namespace bramvell
