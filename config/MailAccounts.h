#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bramvell {

class OptionsFile;

// How the TLS bridge reaches an account's server: TLS from the first byte (POP3S, port 995), or
// plain POP3 upgraded with "STLS" (port 110).
enum class MailSecurity { Tls, StartTls };

// A mailbox behind TLS that the bridge serves to the mail client as plain POP3 on the local machine.
// Stored in the options file as account.NAME.server, .security, .listen and .ca-file lines.
struct MailAccount {
    std::string name;
    std::string host;  // a name or an address; IPv6 without brackets
    uint16_t port = 995;
    MailSecurity security = MailSecurity::Tls;
    uint16_t listenPort = 0;  // on 127.0.0.1 and ::1
    std::string caFile;       // empty: the system's trust store

    // "host:port", with brackets around an IPv6 address.
    std::string ServerText() const;
};

inline constexpr uint16_t kFirstListenPort = 1110;
inline constexpr std::size_t kMaxAccountNameLength = 32;

std::string_view SecurityName(MailSecurity security);
std::optional<MailSecurity> ParseSecurity(std::string_view text);
uint16_t DefaultServerPort(MailSecurity security);

// "host", "host:port", "[v6]" or "[v6]:port"; the port defaults by security. False with the reason.
bool ParseServer(std::string_view text, MailSecurity security, MailAccount& account, std::string* problem);
// A port number 1..65535; nullopt otherwise.
std::optional<uint16_t> ParsePort(std::string_view text);
// Letters, digits, "-" and "_", 1 to 32 of them.
bool IsValidAccountName(std::string_view name);

// Every complete, valid account of the file, in the order their names first appear. An account with
// a missing or bad line is left out, and named in `skipped` when given.
std::vector<MailAccount> LoadAccounts(const OptionsFile& file, std::vector<std::string>* skipped = nullptr);
// The lowest port from kFirstListenPort up that no account listens on.
uint16_t FreeListenPort(const std::vector<MailAccount>& accounts);
// Adds the account (lines in memory; the caller saves). Refused when the name or the listen port is
// taken, or a text cannot be stored.
bool AddAccount(OptionsFile& file, const MailAccount& account, std::string* problem);
// Removes every line of the account; false when there was none.
bool RemoveAccount(OptionsFile& file, std::string_view name);

}  // namespace bramvell
