#include "ui/SingleInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "config/ConfigHome.h"
#include "config/FileHandle.h"

namespace bramvell {

std::string SingleInstanceLockPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/' && IsPrivateFolderOfThisUser(runtime)) {
        return std::string(runtime) + "/" + kSingleInstanceLockName;
    }
    const std::string configHome = DefaultConfigHome();
    if (configHome.empty()) {
        return {};
    }
    const std::string folder = configHome + "/Bramvell";
    if (!CreateDirectories(folder, kPrivateFolderMode) || !IsPrivateFolderOfThisUser(folder)) {
        return {};
    }
    return folder + "/" + kSingleInstanceLockName;
}

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool SingleInstanceLock::Acquire(const std::string& path) {
    heldElsewhere_ = false;
    if (fd_ >= 0) {
        return true;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return false;
    }
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        heldElsewhere_ = errno == EWOULDBLOCK;
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

}  // namespace bramvell
