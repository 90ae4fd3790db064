#pragma once

#include <QEvent>
#include <QObject>
#include <cstdint>

#include "engine/MessageTarget.h"

namespace bramvell {

// A message of the filter thread, delivered on the user-interface thread as a posted event.
class FilterMessageEvent : public QEvent {
  public:
    FilterMessageEvent(uint32_t message, uintptr_t wParam)
        : QEvent(TypeId()), message_(message), wParam_(wParam) {}

    static QEvent::Type TypeId();
    uint32_t message() const { return message_; }
    uintptr_t wParam() const { return wParam_; }

  private:
    uint32_t message_;
    uintptr_t wParam_;
};

// The filter thread's MessageTarget: Post() queues an event for the receiver and returns at once. Qt's
// event posting is thread-safe; the receiver must outlive every thread that may post.
class PostedMessageTarget final : public MessageTarget {
  public:
    explicit PostedMessageTarget(QObject* receiver) : receiver_(receiver) {}
    void Post(uint32_t message, uintptr_t wParam) override;

  private:
    QObject* receiver_;
};

}  // namespace bramvell
