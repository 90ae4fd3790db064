#include "bridge/BridgeConnection.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <vector>

#include "bridge/TlsConnection.h"
#include "config/ActivityLog.h"
#include "config/FilterSettings.h"
#include "config/PrintableText.h"
#include "engine/MessageAnalyzer.h"

namespace bramvell {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kReadSize = 64 * 1024;
// A POP3 server logs out an idle client long before this.
constexpr auto kIdleLimit = std::chrono::minutes(30);
// Once the client is gone: how long the server may take for the answers still owed (QUIT above all).
constexpr auto kLeaveLimit = std::chrono::seconds(10);
constexpr auto kStopLimit = std::chrono::seconds(2);

bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

class Session {
  public:
    Session(int clientFd, const MailAccount& account, TlsConnection& server, const BridgeServices& services,
            MessageAnalyzer& analyzer, int stopFd)
        : clientFd_(clientFd),
          account_(account),
          server_(server),
          stopFd_(stopFd),
          filter_({services.settings, analyzer, services.target, services.clock},
                  LimitsFor(services.settings)) {}

    std::string Run(const std::string& plainGreeting);

  private:
    static Pop3StreamLimits LimitsFor(const FilterSettings& settings) {
        Pop3StreamLimits limits;
        limits.earlyVerdictBytes = settings.earlyVerdictBytes;
        return limits;
    }
    void ClientLeft(SteadyClock::duration grace);
    bool Flush();
    bool OnServerReadable();
    void OnClientReadable();

    int clientFd_;
    const MailAccount& account_;
    TlsConnection& server_;
    int stopFd_;
    Pop3StreamFilter filter_;
    Pop3StreamFilter::Output out_;
    std::vector<uint8_t> buffer_ = std::vector<uint8_t>(kReadSize);
    bool clientOpen_ = true;
    bool serverOpen_ = true;
    bool stopSeen_ = false;
    SteadyClock::time_point deadline_ = SteadyClock::now() + kIdleLimit;
    std::string problem_;
};

void Session::ClientLeft(SteadyClock::duration grace) {
    if (!clientOpen_) {
        return;
    }
    clientOpen_ = false;
    shutdown(clientFd_, SHUT_RDWR);
    filter_.OnClientGone(out_);
    deadline_ = SteadyClock::now() + grace;
}

// Sends what the filter produced; a client that cannot take it has left.
bool Session::Flush() {
    if (!out_.toServer.empty() && serverOpen_ && !server_.WriteAll(out_.toServer)) {
        problem_ = "cannot write to " + account_.ServerText() + ": " + server_.problem();
        serverOpen_ = false;
    }
    out_.toServer.clear();
    if (!out_.toClient.empty() && clientOpen_ && !SendAll(clientFd_, out_.toClient)) {
        out_.toClient.clear();
        ClientLeft(kLeaveLimit);
        return Flush();
    }
    out_.toClient.clear();
    return serverOpen_;
}

bool Session::OnServerReadable() {
    const long got = server_.Read(buffer_);
    if (got == -1) {
        return true;
    }
    if (got <= 0) {
        if (got == -2) {
            problem_ = "the connection to " + account_.ServerText() + " failed: " + server_.problem();
        }
        serverOpen_ = false;
        filter_.OnServerGone(out_);
        Flush();
        return false;
    }
    filter_.FromServer(std::span<const uint8_t>(buffer_.data(), static_cast<std::size_t>(got)), out_);
    return Flush();
}

void Session::OnClientReadable() {
    const ssize_t got = recv(clientFd_, buffer_.data(), buffer_.size(), 0);
    if (got <= 0) {
        ClientLeft(kLeaveLimit);
        Flush();
        return;
    }
    filter_.FromClient(std::span<const uint8_t>(buffer_.data(), static_cast<std::size_t>(got)), out_);
    Flush();
}

std::string Session::Run(const std::string& plainGreeting) {
    if (!plainGreeting.empty()) {
        filter_.FromServer(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(plainGreeting.data()),
                                                    plainGreeting.size()),
                           out_);
        Flush();
    }
    while (serverOpen_) {
        if (!clientOpen_ && filter_.Unanswered() == 0) {
            break;
        }
        if (server_.HasPending()) {
            OnServerReadable();
            continue;
        }
        const auto now = SteadyClock::now();
        if (now >= deadline_) {
            break;
        }
        // The stop mark stays readable once set: it is watched until seen.
        pollfd waits[3] = {{server_.fd(), POLLIN, 0}, {clientFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (!clientOpen_) {
            waits[1] = waits[2];
        }
        const nfds_t count = (clientOpen_ ? 2 : 1) + (stopSeen_ ? 0 : 1);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - now).count();
        const int ready = poll(waits, count, static_cast<int>(std::min<long long>(left, 1000)));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (!stopSeen_ && (waits[count - 1].revents & POLLIN) != 0) {
            stopSeen_ = true;
            // The bridge stops: only the answers still owed are awaited, briefly.
            if (clientOpen_) {
                ClientLeft(kStopLimit);
                Flush();
            }
            deadline_ = std::min(deadline_, SteadyClock::now() + kStopLimit);
            continue;
        }
        if ((waits[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            OnServerReadable();
        }
        if (clientOpen_ && (waits[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            OnClientReadable();
        }
        if (ready > 0 && clientOpen_) {
            deadline_ = SteadyClock::now() + kIdleLimit;
        }
    }
    return problem_;
}

}  // namespace

std::string NoSecureConnectionReply(const MailAccount& account, const std::string& problem) {
    return "-ERR Bramvell cannot reach " + account.ServerText() + " securely: " + PrintableText(problem) +
           "\r\n";
}

std::string ServeBridgeClient(int clientFd, const MailAccount& account, const TlsContext& tls,
                              const BridgeServices& services, int stopFd) {
    std::string greeting;
    std::string problem;
    std::unique_ptr<TlsConnection> server = TlsConnection::Open(account, tls, greeting, &problem, stopFd);
    if (!server) {
        LogActivity(services.settings,
                    "TLS bridge, account " + account.name + ": no secure connection to " +
                        account.ServerText() + ": " + problem + "\n",
                    services.clock);
        SendAll(clientFd, NoSecureConnectionReply(account, problem));
        close(clientFd);
        return problem;
    }
    std::unique_ptr<MessageAnalyzer> analyzer = services.makeAnalyzer();
    problem = Session(clientFd, account, *server, services, *analyzer, stopFd).Run(greeting);
    if (!problem.empty()) {
        LogActivity(services.settings, "TLS bridge, account " + account.name + ": " + problem + "\n",
                    services.clock);
    }
    close(clientFd);
    return problem;
}

}  // namespace bramvell
