#include "platform/linux/Capabilities.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <future>
#include <thread>

namespace bramvell {
namespace {

constexpr uid_t kNobody = 65534;

// Runs body in a child process that is user nobody holding only CAP_NET_ADMIN and CAP_NET_RAW
// permitted, as an ordinary user's run of the executable with file capabilities does. Returns what
// body returns, or -1 when the child could not be set up.
int AsUserWithNetworkCapabilities(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_KEEPCAPS, 1UL, 0UL, 0UL, 0UL);
        if (setresgid(kNobody, kNobody, kNobody) != 0 || setresuid(kNobody, kNobody, kNobody) != 0) {
            _exit(100);
        }
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
        data[0].permitted = (1u << CAP_NET_ADMIN) | (1u << CAP_NET_RAW);
        data[0].effective = data[0].permitted;
        if (syscall(SYS_capset, &header, data) != 0) {
            _exit(101);
        }
        _exit(body());
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

bool CanOpenRawSocket() {
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (fd >= 0) {
        close(fd);
    }
    return fd >= 0;
}

class CapabilitiesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root to become a user with capabilities";
        }
    }
};

TEST_F(CapabilitiesTest, CapabilitiesAreEffectiveOnlyWhileRaised) {
    const int result = AsUserWithNetworkCapabilities([] {
        LowerEffectiveCapabilities();
        if (CanOpenRawSocket()) {
            return 1;
        }
        {
            const RaisedCapabilities raised({CAP_NET_RAW});
            if (!CanOpenRawSocket()) {
                return 2;
            }
        }
        if (CanOpenRawSocket()) {
            return 3;
        }
        return HoldsCapability(CAP_NET_RAW) && HoldsCapability(CAP_NET_ADMIN) ? 0 : 4;
    });
    EXPECT_EQ(result, 0);
}

TEST_F(CapabilitiesTest, ADroppedCapabilityIsGoneFromEveryThread) {
    const int result = AsUserWithNetworkCapabilities([] {
        LowerEffectiveCapabilities();
        // A thread that exists before the drop and only looks afterwards.
        std::promise<void> dropped;
        std::future<void> droppedSeen = dropped.get_future();
        std::future<bool> otherCanRaise = std::async(std::launch::async, [&droppedSeen] {
            droppedSeen.wait();
            const RaisedCapabilities raised({CAP_NET_RAW});
            return CanOpenRawSocket() || HoldsCapability(CAP_NET_RAW);
        });
        std::string problem;
        const bool ok = DropCapabilityForGood(CAP_NET_RAW, &problem);
        dropped.set_value();
        if (!ok) {
            return 1;
        }
        if (otherCanRaise.get()) {
            return 2;
        }
        const RaisedCapabilities raised({CAP_NET_RAW});
        if (CanOpenRawSocket()) {
            return 3;
        }
        return HoldsCapability(CAP_NET_ADMIN) ? 0 : 4;
    });
    EXPECT_EQ(result, 0);
}

}  // namespace
}  // namespace bramvell
