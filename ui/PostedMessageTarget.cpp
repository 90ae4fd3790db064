#include "ui/PostedMessageTarget.h"

#include <QCoreApplication>

namespace bramvell {

QEvent::Type FilterMessageEvent::TypeId() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void PostedMessageTarget::Post(uint32_t message, uintptr_t wParam) {
    QCoreApplication::postEvent(receiver_, new FilterMessageEvent(message, wParam));
}

}  // namespace bramvell
