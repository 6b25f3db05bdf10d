#include "capture/queued_notify_target.h"

#include <QCoreApplication>

QEvent::Type EngineMessageEvent::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void QueuedNotifyTarget::PostMessage(std::uint32_t message, std::intptr_t wParam,
                                     std::intptr_t lParam) {
    // postEvent is safe from any thread and takes ownership of the event; events still
    // queued for a receiver that is destroyed are dropped with it.
    QCoreApplication::postEvent(
        receiver_, new EngineMessageEvent(message, wParam, lParam, generation_.load()));
}
