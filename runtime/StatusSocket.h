#pragma once

#include <functional>
#include <string>

namespace bramvell {

// Where a running filter of this user answers `bramvell status`: a socket in the user's private
// runtime folder ($XDG_RUNTIME_DIR, or /run/bramvell for root without one), named after the program
// folder so that runs with different folders do not meet. Empty when there is no private folder.
std::string StatusSocketPath(const std::string& programFolder);

// The listening side, served from the run's own loop: no thread of its own. Only connections from
// this user (or root) get the report; others are closed unanswered.
class StatusSocket {
  public:
    StatusSocket() = default;
    ~StatusSocket();
    StatusSocket(const StatusSocket&) = delete;
    StatusSocket& operator=(const StatusSocket&) = delete;

    // Binds path (mode 0600), replacing a stale socket left by a run that died. False with the reason
    // when another live run answers there or the socket cannot be made.
    bool Listen(const std::string& path, std::string* problem);
    // Answers every connection waiting now with report(), without blocking on a slow reader.
    void Serve(const std::function<std::string()>& report);
    const std::string& path() const { return path_; }
    // The listening socket, readable when a query waits (for an event loop); -1 when not listening.
    int fd() const { return fd_; }

  private:
    int fd_ = -1;
    std::string path_;
};

enum class StatusQuery { Answered, NotRunning, Failed };

// Reads the report of the run listening at path, within timeoutMs.
StatusQuery QueryStatus(const std::string& path, int timeoutMs, std::string& report);

}  // namespace bramvell
