#include "platform/linux/ProcessRunner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

extern char** environ;

namespace bramvell {
namespace {

constexpr std::size_t kMaxOutput = 64 * 1024;

class Channel {
  public:
    Channel() {
        // A socket pair rather than a pipe: send() with MSG_NOSIGNAL cannot raise SIGPIPE when the
        // child exits without reading all its input.
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds_) != 0) {
            fds_[0] = fds_[1] = -1;
        }
    }
    ~Channel() {
        CloseRead();
        CloseWrite();
    }
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    bool ok() const { return fds_[0] >= 0; }
    int read() const { return fds_[0]; }
    int write() const { return fds_[1]; }
    void CloseRead() { Close(fds_[0]); }
    void CloseWrite() { Close(fds_[1]); }

  private:
    static void Close(int& fd) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
    int fds_[2];
};

bool IsExecutable(const std::string& path) {
    return access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string FindProgram(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string::npos) {
        return IsExecutable(name) ? name : std::string();
    }
    std::string folders;
    if (const char* path = std::getenv("PATH")) {
        folders = path;
    }
    folders += ":/usr/sbin:/sbin";
    std::string_view rest = folders;
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (folder.empty()) {
            continue;
        }
        std::string candidate = std::string(folder) + "/" + name;
        if (IsExecutable(candidate)) {
            return candidate;
        }
    }
    return {};
}

int RunProgram(const std::vector<std::string>& arguments, const std::string& input, std::string* output) {
    if (output) {
        output->clear();
    }
    if (arguments.empty()) {
        return -1;
    }
    const std::string program = FindProgram(arguments[0]);
    if (program.empty()) {
        if (output) {
            *output = arguments[0] + ": not found";
        }
        return -1;
    }
    Channel in;
    Channel out;
    if (!in.ok() || !out.ok()) {
        return -1;
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.read(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out.write(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out.write(), STDERR_FILENO);
    // The child starts with default signal handling, whatever the caller has blocked or ignored.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    in.CloseRead();
    out.CloseWrite();
    if (spawned != 0) {
        return -1;
    }

    // Feed the input and collect the output together, so that neither side can block the other.
    std::size_t written = 0;
    if (input.empty()) {
        in.CloseWrite();
    } else {
        fcntl(in.write(), F_SETFL, O_NONBLOCK);
    }
    char chunk[4096];
    bool outputOpen = true;
    while (outputOpen) {
        pollfd fds[2] = {{out.read(), POLLIN, 0}, {in.write(), POLLOUT, 0}};
        const nfds_t count = in.write() >= 0 ? 2 : 1;
        if (poll(fds, count, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (count == 2 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = send(in.write(), input.data() + written, input.size() - written, MSG_NOSIGNAL);
            if (n > 0) {
                written += static_cast<std::size_t>(n);
            }
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) {
                in.CloseWrite();
            }
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::read(out.read(), chunk, sizeof chunk);
            if (n > 0) {
                if (output && output->size() < kMaxOutput) {
                    output->append(chunk, static_cast<std::size_t>(n));
                }
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                outputOpen = false;
            }
        }
    }
    in.CloseWrite();

    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bramvell
