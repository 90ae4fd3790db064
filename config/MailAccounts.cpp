#include "config/MailAccounts.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "config/OptionsFile.h"
#include "config/PrintableText.h"

namespace bramvell {
namespace {

constexpr std::string_view kPrefix = "account.";
constexpr std::array<std::string_view, 4> kFields = {"server", "security", "listen", "ca-file"};

std::string Key(std::string_view name, std::string_view field) {
    std::string key(kPrefix);
    key += name;
    key += '.';
    key += field;
    return key;
}

// Splits "account.NAME.FIELD"; false for any other key.
bool SplitKey(std::string_view key, std::string_view& name, std::string_view& field) {
    if (!key.starts_with(kPrefix)) {
        return false;
    }
    key.remove_prefix(kPrefix.size());
    const std::size_t dot = key.rfind('.');
    if (dot == std::string_view::npos) {
        return false;
    }
    name = key.substr(0, dot);
    field = key.substr(dot + 1);
    return IsValidAccountName(name);
}

// Options-file values are single trimmed lines.
bool IsStorable(std::string_view text) {
    return !text.empty() && text.front() != ' ' && text.back() != ' ' &&
           std::none_of(text.begin(), text.end(), [](char c) { return IsControlByte(c); });
}

}  // namespace

std::string MailAccount::ServerText() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string_view SecurityName(MailSecurity security) {
    return security == MailSecurity::Tls ? "tls" : "starttls";
}

std::optional<MailSecurity> ParseSecurity(std::string_view text) {
    if (text == "tls") {
        return MailSecurity::Tls;
    }
    if (text == "starttls") {
        return MailSecurity::StartTls;
    }
    return std::nullopt;
}

uint16_t DefaultServerPort(MailSecurity security) {
    return security == MailSecurity::Tls ? 995 : 110;
}

std::optional<uint16_t> ParsePort(std::string_view text) {
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(value);
}

bool IsValidAccountName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxAccountNameLength &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_';
           });
}

bool ParseServer(std::string_view text, MailSecurity security, MailAccount& account, std::string* problem) {
    std::string_view host = text;
    std::string_view port;
    bool hasPort = false;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        const std::string_view rest = close == std::string_view::npos ? text : text.substr(close + 1);
        if (close == std::string_view::npos || (!rest.empty() && rest.front() != ':')) {
            *problem = "'" + std::string(text) + "' is not HOST[:PORT] (an IPv6 address goes in brackets)";
            return false;
        }
        host = text.substr(1, close - 1);
        hasPort = !rest.empty();
        port = hasPort ? rest.substr(1) : std::string_view();
    } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        if (text.find(':', colon + 1) != std::string_view::npos) {
            *problem = "an IPv6 address goes in brackets: [" + std::string(text) + "]:PORT";
            return false;
        }
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        hasPort = true;
    }
    const bool hostOk =
        !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                   c == '.' || c == ':';
        });
    if (!hostOk) {
        *problem = "'" + std::string(host) + "' is not a host name or address";
        return false;
    }
    std::optional<uint16_t> number = DefaultServerPort(security);
    if (hasPort) {
        number = ParsePort(port);
        if (!number) {
            *problem = "'" + std::string(port) + "' is not a port number (1 to 65535)";
            return false;
        }
    }
    account.host.assign(host);
    account.port = *number;
    return true;
}

std::vector<MailAccount> LoadAccounts(const OptionsFile& file, std::vector<std::string>* skipped) {
    struct Partial {
        std::string name;
        std::array<std::optional<std::string>, kFields.size()> values;
    };
    std::vector<Partial> found;
    for (const auto& [key, value] : file.StoredEntries()) {
        std::string_view name;
        std::string_view field;
        if (!SplitKey(key, name, field)) {
            continue;
        }
        auto partial =
            std::find_if(found.begin(), found.end(), [&](const Partial& p) { return p.name == name; });
        if (partial == found.end()) {
            partial = found.insert(found.end(), Partial{std::string(name), {}});
        }
        const auto index = std::find(kFields.begin(), kFields.end(), field) - kFields.begin();
        if (index < static_cast<long>(kFields.size())) {
            partial->values[static_cast<std::size_t>(index)] = value;  // the last line wins
        }
    }
    std::vector<MailAccount> accounts;
    for (const Partial& partial : found) {
        MailAccount account;
        account.name = partial.name;
        const auto& [server, securityText, listen, caFile] = partial.values;
        // A plain value rather than an optional: GCC's -O2 warns of an optional's value here.
        MailSecurity security{};
        bool haveSecurity = false;
        if (securityText) {
            if (const std::optional<MailSecurity> parsed = ParseSecurity(*securityText)) {
                security = *parsed;
                haveSecurity = true;
            }
        }
        std::string problem;
        const std::optional<uint16_t> listenPort = listen ? ParsePort(*listen) : std::nullopt;
        const bool taken =
            listenPort && std::any_of(accounts.begin(), accounts.end(),
                                      [&](const MailAccount& a) { return a.listenPort == *listenPort; });
        if (!server || !haveSecurity || !listenPort || taken ||
            !ParseServer(*server, security, account, &problem)) {
            if (skipped != nullptr) {
                skipped->push_back(partial.name);
            }
            continue;
        }
        account.security = security;
        account.listenPort = *listenPort;
        account.caFile = caFile.value_or("");
        accounts.push_back(std::move(account));
    }
    return accounts;
}

uint16_t FreeListenPort(const std::vector<MailAccount>& accounts) {
    uint16_t port = kFirstListenPort;
    while (std::any_of(accounts.begin(), accounts.end(),
                       [&](const MailAccount& a) { return a.listenPort == port; }) &&
           port < 65535) {
        ++port;
    }
    return port;
}

bool AddAccount(OptionsFile& file, const MailAccount& account, std::string* problem) {
    if (!IsValidAccountName(account.name)) {
        *problem = "an account name is 1 to 32 letters, digits, '-' or '_'";
        return false;
    }
    const std::vector<MailAccount> accounts = LoadAccounts(file);
    for (const auto& [key, value] : file.StoredEntries()) {
        std::string_view name;
        std::string_view field;
        if (SplitKey(key, name, field) && name == account.name) {
            *problem = "there is an account named '" + account.name + "' already";
            return false;
        }
    }
    for (const MailAccount& other : accounts) {
        if (other.listenPort == account.listenPort) {
            *problem = "account '" + other.name + "' listens on port " + std::to_string(other.listenPort) +
                       " already";
            return false;
        }
    }
    if (!account.caFile.empty() && !IsStorable(account.caFile)) {
        *problem = "the CA file's name cannot be stored (control characters or blanks at its ends)";
        return false;
    }
    file.SetUnchecked(Key(account.name, "server"), account.ServerText());
    file.SetUnchecked(Key(account.name, "security"), SecurityName(account.security));
    file.SetUnchecked(Key(account.name, "listen"), std::to_string(account.listenPort));
    if (!account.caFile.empty()) {
        file.SetUnchecked(Key(account.name, "ca-file"), account.caFile);
    }
    return true;
}

bool RemoveAccount(OptionsFile& file, std::string_view name) {
    bool removed = false;
    for (const auto& [key, value] : file.StoredEntries()) {
        std::string_view keyName;
        std::string_view field;
        if (SplitKey(key, keyName, field) && keyName == name) {
            removed = file.Remove(key) || removed;
        }
    }
    return removed;
}

}  // namespace bramvell
