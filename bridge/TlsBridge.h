#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/BridgeConnection.h"
#include "config/MailAccounts.h"

namespace bramvell {

class TlsContext;

// What the bridge reports of one account (for the log, `account list` and a control panel).
struct AccountStatus {
    std::string name;
    bool listening = false;
    uint16_t port = 0;  // the port bound (a configured 0 picks a free one: tests)
    int connections = 0;
    std::string lastError;
};

// The local TLS bridge: for each account a listener on 127.0.0.1 and ::1 (nothing else), and for each
// mail client that connects a thread of its own that serves it (ServeBridgeClient). A thread of its
// own accepts; none of these threads touches the packet filter's state beyond the shared settings'
// atomics and the tables' own locks.
class TlsBridge {
  public:
    static constexpr int kMaxConnectionsPerAccount = 16;

    explicit TlsBridge(BridgeServices services);
    ~TlsBridge();
    TlsBridge(const TlsBridge&) = delete;
    TlsBridge& operator=(const TlsBridge&) = delete;

    // Opens every account's listeners and starts accepting. An account that cannot listen (port taken,
    // bad CA file) is logged and reported; the others run. False when no account listens.
    bool Start(const std::vector<MailAccount>& accounts);
    // Stops accepting, ends every connection (a QUIT still owed goes out first) and joins the threads.
    void Stop();

    std::vector<AccountStatus> Status() const;

  private:
    struct Account;
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    bool OpenListeners(Account& account);
    void AcceptLoop();
    void Accept(Account& account, int listener);
    void ReapWorkers(bool all);
    void Log(const std::string& text) const;

    BridgeServices services_;
    std::vector<std::unique_ptr<Account>> accounts_;
    int stopFd_ = -1;
    std::thread acceptThread_;
    std::list<Worker> workers_;  // the accept thread's alone
    mutable std::mutex statusMutex_;
};

}  // namespace bramvell
