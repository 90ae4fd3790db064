#include "platform/linux/ProcessRunner.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace bramvell {
namespace {

constexpr std::size_t kMaxOutput = 64 * 1024;
constexpr int kFirstInheritedDescriptor = 3;
// Closed one by one when close_range is missing.
constexpr int kDescriptorFallbackLimit = 4096;

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

// Passes CAP_NET_ADMIN and CAP_NET_RAW on to the program about to be started, when this process holds
// them permitted but is not root: capabilities given to our executable as file capabilities are not inherited
// across exec, and iptables needs them. Raising them as ambient capabilities makes the kernel keep them
// for a program that has none of its own. Only these two are passed on; failures leave the child as
// it was (it then fails as it would have).
void PassOnNetworkCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return;
    }
    const int wanted[] = {CAP_NET_ADMIN, CAP_NET_RAW};
    for (const int capability : wanted) {
        const uint32_t bit = 1u << (capability % 32);
        if (data[capability / 32].permitted & bit) {
            data[capability / 32].inheritable |= bit;
        }
    }
    if (syscall(SYS_capset, &header, data) != 0) {
        return;
    }
    for (const int capability : wanted) {
        if (data[capability / 32].permitted & (1u << (capability % 32))) {
            prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, static_cast<unsigned long>(capability), 0UL, 0UL);
        }
    }
}

void CloseInheritedDescriptors() {
    if (syscall(SYS_close_range, kFirstInheritedDescriptor, ~0u, 0) == 0) {
        return;
    }
    for (int fd = kFirstInheritedDescriptor; fd < kDescriptorFallbackLimit; ++fd) {
        close(fd);
    }
}

// The child's side of RunProgram: standard streams on the channels and no other descriptor, default
// signal handling whatever the parent has blocked or ignored, no privilege to gain at exec, the
// network capabilities passed on, then the program with the fixed environment.
[[noreturn]] void StartChild(const char* program, char* const* argv, char* const* environment, int input,
                             int output) {
    if (dup2(input, STDIN_FILENO) < 0 || dup2(output, STDOUT_FILENO) < 0 || dup2(output, STDERR_FILENO) < 0) {
        _exit(127);
    }
    CloseInheritedDescriptors();
    struct sigaction defaults = {};
    defaults.sa_handler = SIG_DFL;
    for (int number = 1; number < NSIG; ++number) {
        sigaction(number, &defaults, nullptr);  // fails harmlessly for SIGKILL, SIGSTOP and unused numbers
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (prctl(PR_SET_NO_NEW_PRIVS, 1UL, 0UL, 0UL, 0UL) != 0) {
        _exit(127);
    }
    if (geteuid() != 0) {
        PassOnNetworkCapabilities();
    }
    execve(program, argv, environment);
    _exit(127);
}

}  // namespace

int RunProgram(const std::vector<std::string>& arguments, const std::string& input, std::string* output) {
    if (output) {
        output->clear();
    }
    if (arguments.empty()) {
        return -1;
    }
    std::string problem;
    const std::string program = FindTrustedProgram(arguments[0], &problem);
    if (program.empty()) {
        if (output) {
            *output = "refused to run " + arguments[0] + ": " + problem;
        }
        return -1;
    }
    Channel in;
    Channel out;
    if (!in.ok() || !out.ok()) {
        return -1;
    }

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> environment;
    for (const char* variable : kChildEnvironment) {
        environment.push_back(const_cast<char*>(variable));
    }
    environment.push_back(nullptr);

    // fork rather than posix_spawn: the child has to raise its ambient capabilities before exec. It
    // calls only async-signal-safe functions, as a child of a threaded process must.
    const pid_t pid = fork();
    if (pid == 0) {
        StartChild(program.c_str(), argv.data(), environment.data(), in.read(), out.write());
    }
    const bool spawned = pid > 0;
    in.CloseRead();
    out.CloseWrite();
    if (!spawned) {
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
