#include "bridge/TlsConnection.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>

namespace bramvell {
namespace {

constexpr std::size_t kMaxPlainLine = 4096;

std::string OpenSslError(std::string_view fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return std::string(fallback);
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

void SetTimeouts(int fd, int milliseconds) {
    const timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

// A connected socket to host:port, or -1 with the reason. Waits at most the connect timeout, and
// gives up at once when stopFd becomes readable.
int ConnectTo(const MailAccount& account, int stopFd, std::string* problem) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(account.port);
    const int status = getaddrinfo(account.host.c_str(), port.c_str(), &hints, &found);
    if (status != 0) {
        *problem = "cannot find " + account.host + ": " + gai_strerror(status);
        return -1;
    }
    *problem = "cannot connect to " + account.ServerText();
    int connected = -1;
    for (addrinfo* address = found; address != nullptr && connected < 0; address = address->ai_next) {
        const int fd = socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                              address->ai_protocol);
        if (fd < 0) {
            continue;
        }
        int error = 0;
        if (connect(fd, address->ai_addr, address->ai_addrlen) != 0) {
            error = errno;
            if (error == EINPROGRESS) {
                pollfd waits[2] = {{fd, POLLOUT, 0}, {stopFd, POLLIN, 0}};
                const int ready = poll(waits, stopFd >= 0 ? 2 : 1, TlsConnection::kConnectTimeoutMs);
                socklen_t length = sizeof error;
                if (ready <= 0 || (waits[1].revents & POLLIN) != 0) {
                    error = ETIMEDOUT;
                } else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
                    error = errno;
                }
            }
        }
        if (error != 0) {
            *problem = "cannot connect to " + account.ServerText() + ": " + std::strerror(error);
            close(fd);
            continue;
        }
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        SetTimeouts(fd, TlsConnection::kSocketTimeoutMs);
        connected = fd;
    }
    freeaddrinfo(found);
    return connected;
}

// One plain line (up to LF) before TLS begins, read a byte at a time so that nothing of what follows
// is taken; false when none came or it is too long.
bool ReadPlainLine(int fd, std::string& line) {
    line.clear();
    while (line.size() < kMaxPlainLine) {
        char byte = 0;
        const ssize_t got = recv(fd, &byte, 1, 0);
        if (got <= 0) {
            return false;
        }
        line += byte;
        if (byte == '\n') {
            return true;
        }
    }
    return false;
}

bool UpgradeWithStls(int fd, std::string& greeting, std::string* problem) {
    if (!ReadPlainLine(fd, greeting) || !greeting.starts_with("+OK")) {
        *problem = "the server sent no POP3 greeting";
        return false;
    }
    constexpr std::string_view kStls = "STLS\r\n";
    std::string answer;
    if (send(fd, kStls.data(), kStls.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(kStls.size()) ||
        !ReadPlainLine(fd, answer)) {
        *problem = "the server did not answer STLS";
        return false;
    }
    if (!answer.starts_with("+OK")) {
        *problem = "the server refused STLS (it offers no TLS on this port)";
        return false;
    }
    // Bytes before our handshake would be plain text slipped in by someone on the way.
    char extra = 0;
    if (recv(fd, &extra, 1, MSG_PEEK | MSG_DONTWAIT) > 0) {
        *problem = "the server sent plain text after its STLS answer";
        return false;
    }
    return true;
}

bool IsAddress(const std::string& host) {
    in6_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1 ||
           inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

}  // namespace

std::unique_ptr<TlsContext> TlsContext::Create(const MailAccount& account, std::string* problem) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        *problem = OpenSslError("cannot set up TLS");
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    // A record without application data must not block a read: the bridge polls both sides.
    SSL_CTX_clear_mode(context, SSL_MODE_AUTO_RETRY);
    const bool trusted = account.caFile.empty()
                             ? SSL_CTX_set_default_verify_paths(context) == 1
                             : SSL_CTX_load_verify_locations(context, account.caFile.c_str(), nullptr) == 1;
    if (!trusted) {
        *problem = account.caFile.empty() ? OpenSslError("cannot load the system's trust store")
                                          : "cannot load the CA file " + account.caFile + ": " +
                                                OpenSslError("no certificate in it");
        SSL_CTX_free(context);
        return nullptr;
    }
    return std::unique_ptr<TlsContext>(new TlsContext(context));
}

TlsContext::~TlsContext() {
    SSL_CTX_free(context_);
}

std::unique_ptr<TlsConnection> TlsConnection::Open(const MailAccount& account, const TlsContext& context,
                                                   std::string& greeting, std::string* problem, int stopFd) {
    greeting.clear();
    const int fd = ConnectTo(account, stopFd, problem);
    if (fd < 0) {
        return nullptr;
    }
    if (account.security == MailSecurity::StartTls && !UpgradeWithStls(fd, greeting, problem)) {
        close(fd);
        return nullptr;
    }
    SSL* ssl = SSL_new(context.get());
    if (ssl == nullptr) {
        *problem = OpenSslError("cannot set up TLS");
        close(fd);
        return nullptr;
    }
    std::unique_ptr<TlsConnection> connection(new TlsConnection(fd, ssl));
    SSL_set_fd(ssl, fd);
    if (IsAddress(account.host)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), account.host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, account.host.c_str());
        SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        SSL_set1_host(ssl, account.host.c_str());
    }
    ERR_clear_error();
    if (SSL_connect(ssl) != 1) {
        const long verified = SSL_get_verify_result(ssl);
        *problem = verified != X509_V_OK
                       ? std::string("the server's certificate is not trusted: ") +
                             X509_verify_cert_error_string(verified)
                       : "TLS handshake failed: " + OpenSslError("the server closed the connection");
        ERR_clear_error();
        return nullptr;
    }
    return connection;
}

TlsConnection::~TlsConnection() {
    if (SSL_is_init_finished(ssl_)) {
        SSL_shutdown(ssl_);  // close_notify; the answer is not awaited
    }
    SSL_free(ssl_);
    close(fd_);
}

bool TlsConnection::HasPending() const {
    return SSL_pending(ssl_) > 0;
}

long TlsConnection::Read(std::span<uint8_t> buffer) {
    const int size = static_cast<int>(std::min<std::size_t>(buffer.size(), 1u << 30));
    ERR_clear_error();
    const int got = SSL_read(ssl_, buffer.data(), size);
    if (got > 0) {
        return got;
    }
    switch (SSL_get_error(ssl_, got)) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            return -1;
        case SSL_ERROR_ZERO_RETURN:
            return 0;
        case SSL_ERROR_SYSCALL:
            if (ERR_peek_error() == 0 && (got == 0 || errno == 0)) {
                return 0;  // closed without close_notify
            }
            problem_ = got < 0 ? std::string(std::strerror(errno)) : OpenSslError("connection lost");
            return -2;
        default:
            problem_ = OpenSslError("TLS error");
            return -2;
    }
}

bool TlsConnection::WriteAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const int size = static_cast<int>(std::min<std::size_t>(bytes.size(), 1u << 30));
        ERR_clear_error();
        const int written = SSL_write(ssl_, bytes.data(), size);
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        const int error = SSL_get_error(ssl_, written);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            problem_ = OpenSslError("cannot write to the server");
            return false;
        }
    }
    return true;
}

}  // namespace bramvell
