#include "bridge/TlsBridge.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bridge/TlsConnection.h"
#include "config/ActivityLog.h"

namespace bramvell {
namespace {

constexpr int kBacklog = 16;

// A listening socket on the loopback address of the family, or -1 with errno set.
int ListenOnLoopback(int family, uint16_t& port) {
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof *v4;
    } else {
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        v6->sin6_addr = in6addr_loopback;
        length = sizeof *v6;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, kBacklog) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                   : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return fd;
}

}  // namespace

struct TlsBridge::Account {
    MailAccount account;
    std::unique_ptr<TlsContext> tls;
    std::vector<int> listeners;
    AccountStatus status;  // under statusMutex_
    std::atomic<int> connections{0};

    ~Account() {
        for (int fd : listeners) {
            close(fd);
        }
    }
};

TlsBridge::TlsBridge(BridgeServices services) : services_(std::move(services)) {}

TlsBridge::~TlsBridge() {
    Stop();
}

void TlsBridge::Log(const std::string& text) const {
    LogActivity(services_.settings, text, services_.clock);
}

bool TlsBridge::OpenListeners(Account& entry) {
    const MailAccount& account = entry.account;
    std::string problem;
    entry.tls = TlsContext::Create(account, &problem);
    if (!entry.tls) {
        entry.status.lastError = problem;
        Log("TLS bridge, account " + account.name + ": " + problem + "\n");
        return false;
    }
    uint16_t port = account.listenPort;
    const int v4 = ListenOnLoopback(AF_INET, port);
    if (v4 < 0) {
        entry.status.lastError =
            "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        Log("TLS bridge, account " + account.name + ": " + entry.status.lastError + "\n");
        return false;
    }
    entry.listeners.push_back(v4);
    std::string where = "127.0.0.1:" + std::to_string(port);
    // ::1 on the same port; a machine without IPv6 serves 127.0.0.1 alone.
    const int v6 = ListenOnLoopback(AF_INET6, port);
    if (v6 >= 0) {
        entry.listeners.push_back(v6);
        where += " and [::1]:" + std::to_string(port);
    }
    entry.status.port = port;
    entry.status.listening = true;
    Log("TLS bridge, account " + account.name + ": listening on " + where + " for " + account.ServerText() +
        " (" + std::string(SecurityName(account.security)) + ")\n");
    return true;
}

bool TlsBridge::Start(const std::vector<MailAccount>& accounts) {
    if (stopFd_ >= 0) {
        return false;
    }
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) {
        return false;
    }
    bool any = false;
    for (const MailAccount& account : accounts) {
        auto entry = std::make_unique<Account>();
        entry->account = account;
        entry->status.name = account.name;
        any = OpenListeners(*entry) || any;
        accounts_.push_back(std::move(entry));
    }
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return any;
}

void TlsBridge::Stop() {
    if (stopFd_ < 0) {
        return;
    }
    const uint64_t one = 1;
    (void)!write(stopFd_, &one, sizeof one);  // stays readable: every thread sees it
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    accounts_.clear();
    close(stopFd_);
    stopFd_ = -1;
}

void TlsBridge::AcceptLoop() {
    std::vector<pollfd> waits;
    std::vector<std::pair<Account*, int>> owners;
    for (auto& entry : accounts_) {
        for (int fd : entry->listeners) {
            waits.push_back({fd, POLLIN, 0});
            owners.emplace_back(entry.get(), fd);
        }
    }
    waits.push_back({stopFd_, POLLIN, 0});
    while (true) {
        const int ready = poll(waits.data(), waits.size(), 1000);
        ReapWorkers(false);
        if ((waits.back().revents & POLLIN) != 0) {
            break;
        }
        if (ready <= 0) {
            continue;
        }
        for (std::size_t i = 0; i + 1 < waits.size(); ++i) {
            if ((waits[i].revents & POLLIN) != 0) {
                Accept(*owners[i].first, owners[i].second);
            }
        }
    }
    ReapWorkers(true);
}

void TlsBridge::Accept(Account& entry, int listener) {
    const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
        return;
    }
    if (entry.connections >= kMaxConnectionsPerAccount) {
        constexpr std::string_view kBusy = "-ERR Bramvell: too many connections to this account at once\r\n";
        (void)!send(client, kBusy.data(), kBusy.size(), MSG_NOSIGNAL);
        close(client);
        return;
    }
    ++entry.connections;
    {
        std::lock_guard lock(statusMutex_);
        entry.status.connections = entry.connections;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([this, &entry, client, done] {
        const std::string problem = ServeBridgeClient(client, entry.account, *entry.tls, services_, stopFd_);
        --entry.connections;
        {
            std::lock_guard lock(statusMutex_);
            entry.status.connections = entry.connections;
            if (!problem.empty()) {
                entry.status.lastError = problem;
            }
        }
        *done = true;
    });
    workers_.push_back({std::move(thread), std::move(done)});
}

void TlsBridge::ReapWorkers(bool all) {
    for (auto worker = workers_.begin(); worker != workers_.end();) {
        if (all || *worker->done) {
            worker->thread.join();
            worker = workers_.erase(worker);
        } else {
            ++worker;
        }
    }
}

std::vector<AccountStatus> TlsBridge::Status() const {
    std::lock_guard lock(statusMutex_);
    std::vector<AccountStatus> status;
    for (const auto& entry : accounts_) {
        status.push_back(entry->status);
    }
    return status;
}

}  // namespace bramvell
