#include "platform/linux/Capabilities.h"

#include <dirent.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace bramvell {
namespace {

using CapabilityData = __user_cap_data_struct[_LINUX_CAPABILITY_U32S_3];

// The signal that asks another thread to drop a capability from its own sets; an offset from
// SIGRTMIN that neither glibc nor Qt uses.
constexpr int kDropSignalOffset = 5;
constexpr auto kThreadAnswerTimeout = std::chrono::milliseconds(1000);
constexpr auto kThreadAnswerPoll = std::chrono::milliseconds(1);

std::atomic<int> capabilityToDrop{-1};
std::atomic<int> threadsDropped{0};

bool ReadSets(CapabilityData& data) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, data) == 0;
}

bool WriteSets(CapabilityData& data) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capset, &header, data) == 0;
}

uint32_t Bit(int capability) {
    return 1u << (capability % 32);
}

// Async-signal-safe: only system calls.
void DropFromThisThread(int capability) {
    CapabilityData data = {};
    if (!ReadSets(data)) {
        return;
    }
    auto& word = data[capability / 32];
    word.effective &= ~Bit(capability);
    word.permitted &= ~Bit(capability);
    word.inheritable &= ~Bit(capability);
    WriteSets(data);
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, static_cast<unsigned long>(capability), 0UL, 0UL);
}

void OnDropSignal(int) {
    const int saved = errno;
    DropFromThisThread(capabilityToDrop.load());
    threadsDropped.fetch_add(1);
    errno = saved;
}

std::vector<pid_t> OtherThreads() {
    std::vector<pid_t> threads;
    DIR* folder = opendir("/proc/self/task");
    if (folder == nullptr) {
        return threads;
    }
    const pid_t self = static_cast<pid_t>(syscall(SYS_gettid));
    while (const dirent* entry = readdir(folder)) {
        const pid_t id = static_cast<pid_t>(std::atoi(entry->d_name));
        if (id > 0 && id != self) {
            threads.push_back(id);
        }
    }
    closedir(folder);
    return threads;
}

// The permitted set of one thread as the kernel reports it; all bits set when its status has no such
// line, so that an unreadable thread counts as still holding everything.
uint64_t PermittedOf(pid_t thread) {
    std::ifstream status("/proc/self/task/" + std::to_string(thread) + "/status");
    if (!status.is_open()) {
        return 0;  // the thread has ended
    }
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("CapPrm:", 0) == 0) {
            return std::strtoull(line.c_str() + 7, nullptr, 16);
        }
    }
    return ~0ull;
}

}  // namespace

void LowerEffectiveCapabilities() {
    if (geteuid() == 0) {
        return;
    }
    // Programs we start get capabilities only where ProcessRunner raises them on purpose.
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0UL, 0UL, 0UL);
    CapabilityData data = {};
    if (!ReadSets(data)) {
        return;
    }
    for (auto& word : data) {
        word.effective = 0;
    }
    WriteSets(data);
}

bool HoldsCapability(int capability) {
    CapabilityData data = {};
    if (!ReadSets(data)) {
        return false;
    }
    const auto& word = data[capability / 32];
    return ((geteuid() == 0 ? word.effective : word.permitted) & Bit(capability)) != 0;
}

bool DropCapabilityForGood(int capability, std::string* problem) {
    if (geteuid() == 0) {
        return true;
    }
    static std::mutex oneAtATime;
    std::lock_guard lock(oneAtATime);
    DropFromThisThread(capability);

    // Capability sets belong to threads: every other thread drops its own, asked by a signal.
    const int signal = SIGRTMIN + kDropSignalOffset;
    struct sigaction action = {};
    action.sa_handler = OnDropSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);  // left in place: an answer may still come after the wait
    capabilityToDrop = capability;
    threadsDropped = 0;
    int asked = 0;
    for (const pid_t thread : OtherThreads()) {
        asked += syscall(SYS_tgkill, getpid(), thread, signal) == 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + kThreadAnswerTimeout;
    while (threadsDropped.load() < asked && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kThreadAnswerPoll);
    }

    const uint64_t bit = 1ull << capability;
    std::vector<pid_t> threads = OtherThreads();
    threads.push_back(static_cast<pid_t>(syscall(SYS_gettid)));
    for (const pid_t thread : threads) {
        if (PermittedOf(thread) & bit) {
            if (problem) {
                *problem = "thread " + std::to_string(thread) + " still holds capability " +
                           std::to_string(capability);
            }
            return false;
        }
    }
    return true;
}

RaisedCapabilities::RaisedCapabilities(std::initializer_list<int> capabilities) {
    if (geteuid() == 0) {
        return;
    }
    CapabilityData data = {};
    if (!ReadSets(data)) {
        return;
    }
    effectiveBefore_[0] = data[0].effective;
    effectiveBefore_[1] = data[1].effective;
    for (const int capability : capabilities) {
        auto& word = data[capability / 32];
        word.effective |= word.permitted & Bit(capability);
    }
    changed_ = WriteSets(data);
}

RaisedCapabilities::~RaisedCapabilities() {
    if (!changed_) {
        return;
    }
    CapabilityData data = {};
    if (!ReadSets(data)) {
        return;
    }
    data[0].effective = effectiveBefore_[0] & data[0].permitted;
    data[1].effective = effectiveBefore_[1] & data[1].permitted;
    WriteSets(data);
}

}  // namespace bramvell
