#pragma once

#include <string>

namespace bramvell {

// Name of the lock file: the control panel's title, which a running copy holds.
inline constexpr const char* kSingleInstanceLockName = "Bramvell Anti-Spam Filter.lock";

// Where the lock lives: $XDG_RUNTIME_DIR when it is the user's own private folder, else the settings
// folder ($XDG_CONFIG_HOME/Bramvell or ~/.config/Bramvell, created 0700 when missing). Empty when
// neither is safe: never a shared folder where another user could hold the lock.
std::string SingleInstanceLockPath();

// An exclusive flock on a file, held until destruction. A second copy of the program fails to take it
// and ends; the kernel releases it when the holder dies, so a crash leaves no stale lock.
class SingleInstanceLock {
  public:
    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // True when this process now holds the lock. False when another holds it, or the file cannot be
    // opened (the caller then runs without the guard rather than refusing to start).
    bool Acquire(const std::string& path);
    bool held() const { return fd_ >= 0; }
    // True when the last Acquire failed because another process holds the lock.
    bool heldElsewhere() const { return heldElsewhere_; }

  private:
    int fd_ = -1;
    bool heldElsewhere_ = false;
};

}  // namespace bramvell
