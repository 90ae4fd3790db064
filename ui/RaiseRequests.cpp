#include "ui/RaiseRequests.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "runtime/LocalSocketAddress.h"

namespace bramvell {

namespace {

constexpr char kRaiseRequest = 'R';
constexpr int kRequestWaitMs = 200;

}  // namespace

std::string RaiseSocketPath(const std::string& lockPath) {
    return lockPath + ".socket";
}

bool SendRaiseRequest(const std::string& path) {
    sockaddr_un address{};
    if (!LocalSocketAddress(path, address)) {
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool sent = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                      ::send(fd, &kRaiseRequest, 1, MSG_NOSIGNAL) == 1;
    ::close(fd);
    return sent;
}

RaiseRequests::RaiseRequests(QObject* parent) : QObject(parent) {}

RaiseRequests::~RaiseRequests() {
    notifier_.reset();
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
}

bool RaiseRequests::Listen(const std::string& path) {
    sockaddr_un address{};
    if (fd_ >= 0 || !LocalSocketAddress(path, address)) {
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    ::unlink(path.c_str());
    // Only this user may connect: the socket lives in the user's private folder and is made 0600 (not
    // through the umask, which the filter thread's files share).
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                       ::chmod(path.c_str(), 0600) == 0;
    if (!bound || ::listen(fd, 4) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    path_ = path;
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &RaiseRequests::OnReadable);
    return true;
}

void RaiseRequests::OnReadable() {
    for (;;) {
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) {
            return;
        }
        // The sender writes its byte at once; a peer that sends nothing soon asks for nothing and
        // cannot hold up the panel.
        pollfd wait{client, POLLIN, 0};
        char request = 0;
        const bool asked = ::poll(&wait, 1, kRequestWaitMs) == 1 && ::recv(client, &request, 1, 0) == 1 &&
                           request == kRaiseRequest;
        ::close(client);
        if (asked) {
            emit Requested();
        }
    }
}

}  // namespace bramvell
