#include "classify/ThreadHeap.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace bramvell {
namespace {

// The VmFlags line of the mapping that holds address, or "" when none does.
std::string VmFlagsOf(const void* pointer) {
    const auto address = reinterpret_cast<uintptr_t>(pointer);
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        uintptr_t start = 0;
        uintptr_t end = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> start >> dash >> end && dash == '-') {
            inside = start <= address && address < end;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line;
        }
    }
    return "";
}

TEST(ThreadHeapTest, TheHeapOfAThreadBeyondTheFirstIsMarkedForHugePages) {
#if !defined(__GLIBC__) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "only glibc's own malloc gives threads heaps of their own";
#else
    if (!std::filesystem::exists("/sys/kernel/mm/transparent_hugepage/enabled")) {
        GTEST_SKIP() << "this kernel has no transparent huge pages";
    }
    bool ownHeap = false;
    std::string before;
    std::string after;
    std::thread([&] {
        void* block = std::malloc(64);
        ownHeap = reinterpret_cast<uintptr_t>(block) >= reinterpret_cast<uintptr_t>(::sbrk(0));
        before = VmFlagsOf(block);
        AdviseThreadHeapForHugePages();
        after = VmFlagsOf(block);
        std::free(block);
    }).join();
    if (!ownHeap) {
        GTEST_SKIP() << "the thread was given the first thread's heap";
    }
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(before.find(" hg"), std::string::npos) << before;
    EXPECT_NE(after.find(" hg"), std::string::npos) << after;
#endif
}

}  // namespace
}  // namespace bramvell
