#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "config/MailAccounts.h"

struct ssl_ctx_st;
struct ssl_st;

namespace bramvell {

// The TLS settings of one account, shared by its connections: TLS 1.2 at least, the peer's chain
// verified against the account's CA file or else the system's trust store.
class TlsContext {
  public:
    // Null with the reason when the context or the trust store cannot be set up.
    static std::unique_ptr<TlsContext> Create(const MailAccount& account, std::string* problem);
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    ssl_ctx_st* get() const { return context_; }

  private:
    explicit TlsContext(ssl_ctx_st* context) : context_(context) {}
    ssl_ctx_st* context_;
};

// One verified TLS connection to an account's server. Reads and writes block (bounded by socket
// timeouts); a caller polls fd() for readability, but first drains HasPending().
class TlsConnection {
  public:
    static constexpr int kConnectTimeoutMs = 10000;
    static constexpr int kSocketTimeoutMs = 60000;

    // Connects, upgrades with "STLS" for a starttls account, and completes a verified handshake. For
    // starttls, greeting receives the server's plain greeting (to be shown to the client); for tls the
    // greeting comes through Read() like every reply. Null with the reason on any failure: the bridge
    // never talks to the server in plain text beyond the STLS upgrade itself.
    static std::unique_ptr<TlsConnection> Open(const MailAccount& account, const TlsContext& context,
                                               std::string& greeting, std::string* problem, int stopFd);
    ~TlsConnection();
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;

    int fd() const { return fd_; }
    bool HasPending() const;
    // Bytes read (> 0), 0 when the server closed, -1 when no data is ready after all, -2 on an error.
    long Read(std::span<uint8_t> buffer);
    bool WriteAll(std::string_view bytes);
    // The last error in words, for the log.
    const std::string& problem() const { return problem_; }

  private:
    TlsConnection(int fd, ssl_st* ssl) : fd_(fd), ssl_(ssl) {}
    int fd_;
    ssl_st* ssl_;
    std::string problem_;
};

}  // namespace bramvell
