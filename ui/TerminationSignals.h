#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace bramvell {

// SIGTERM and SIGINT as a Qt signal on the user-interface thread: the handler only writes one byte to
// a pipe, and a socket notifier on the other end emits Received() from the event loop. One instance at
// a time; destruction restores the default handlers.
class TerminationSignals : public QObject {
    Q_OBJECT
  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    bool installed() const { return notifier_ != nullptr; }

  signals:
    void Received(int signalNumber);

  private:
    void OnReadable();

    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace bramvell
