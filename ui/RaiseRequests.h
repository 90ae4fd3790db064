#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>
#include <string>

namespace bramvell {

// The socket beside the single-instance lock: the running copy listens on it, and a second launch
// asks it to bring its control panel forward instead of ending without a word.
std::string RaiseSocketPath(const std::string& lockPath);

// Asks the copy that listens at path to show its panel; false when nobody listens.
bool SendRaiseRequest(const std::string& path);

// The running copy's end: Requested() on the user-interface thread for each request.
class RaiseRequests : public QObject {
    Q_OBJECT
  public:
    explicit RaiseRequests(QObject* parent = nullptr);
    ~RaiseRequests() override;

    // Listens at path (a stale socket there is replaced: the caller holds the lock). False on failure.
    bool Listen(const std::string& path);

  signals:
    void Requested();

  private:
    void OnReadable();

    int fd_ = -1;
    std::string path_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace bramvell
