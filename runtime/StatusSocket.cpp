#include "runtime/StatusSocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/FileHandle.h"
#include "runtime/LocalSocketAddress.h"

namespace bramvell {
namespace {

constexpr std::size_t kMaxReportBytes = 64 * 1024;

// FNV-1a of the program folder: stable across builds and runs, unlike std::hash.
uint32_t FolderDigest(const std::string& text) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash = (hash ^ c) * 16777619u;
    }
    return hash;
}

std::string PrivateRuntimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && IsPrivateFolderOfThisUser(runtime)) {
        return std::string(runtime) + "/bramvell";
    }
    if (geteuid() == 0) {
        return "/run/bramvell";
    }
    return {};
}

int ConnectTo(const std::string& path) {
    sockaddr_un address{};
    if (!LocalSocketAddress(path, address)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool PeerIsThisUser(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        return false;
    }
    return peer.uid == geteuid() || peer.uid == 0;
}

}  // namespace

std::string StatusSocketPath(const std::string& programFolder) {
    const std::string folder = PrivateRuntimeFolder();
    if (folder.empty() || !CreateDirectories(folder, kPrivateFolderMode) || !IsPrivateFolderOfThisUser(folder)) {
        return {};
    }
    char name[32];
    std::snprintf(name, sizeof name, "/status-%08x.socket", FolderDigest(programFolder));
    return folder + name;
}

StatusSocket::~StatusSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
}

bool StatusSocket::Listen(const std::string& path, std::string* problem) {
    sockaddr_un address{};
    if (!LocalSocketAddress(path, address)) {
        *problem = "the status socket's path is empty or too long";
        return false;
    }
    const int live = ConnectTo(path);
    if (live >= 0) {
        ::close(live);
        *problem = "another run of this user already answers at " + path;
        return false;
    }
    struct stat info{};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISSOCK(info.st_mode)) {
            *problem = path + " exists and is not a socket";
            return false;
        }
        ::unlink(path.c_str());  // left by a run that ended without removing it
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        *problem = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const mode_t previous = ::umask(0177);  // the socket is made 0600
    const int bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    ::umask(previous);
    if (bound != 0 || ::listen(fd, 8) != 0) {
        *problem = "cannot listen at " + path + ": " + std::strerror(bound != 0 ? error : errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    path_ = path;
    return true;
}

void StatusSocket::Serve(const std::function<std::string()>& report) {
    if (fd_ < 0) {
        return;
    }
    for (;;) {
        const int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (client < 0) {
            return;  // nothing waiting (EAGAIN), or an aborted connection: the next round tries again
        }
        if (PeerIsThisUser(client)) {
            const std::string text = report();
            // A report fits the socket buffer; a reader that does not take it loses the rest.
            (void)::send(client, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        ::close(client);
    }
}

StatusQuery QueryStatus(const std::string& path, int timeoutMs, std::string& report) {
    report.clear();
    const int fd = ConnectTo(path);
    if (fd < 0) {
        return errno == ENOENT || errno == ECONNREFUSED ? StatusQuery::NotRunning : StatusQuery::Failed;
    }
    char buffer[4096];
    StatusQuery result = StatusQuery::Answered;
    for (;;) {
        pollfd waiting{fd, POLLIN, 0};
        const int ready = ::poll(&waiting, 1, timeoutMs);
        if (ready <= 0) {
            result = StatusQuery::Failed;
            break;
        }
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            result = got == 0 && !report.empty() ? StatusQuery::Answered : StatusQuery::Failed;
            break;
        }
        report.append(buffer, static_cast<std::size_t>(got));
        if (report.size() > kMaxReportBytes) {
            result = StatusQuery::Failed;
            break;
        }
    }
    ::close(fd);
    return result;
}

}  // namespace bramvell
