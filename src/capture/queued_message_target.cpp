#include "capture/queued_message_target.h"

#include <QCoreApplication>

QEvent::Type EngineMessageEvent::Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void QueuedMessageTarget::Post(EngineMessage message, int value) {
    // postEvent is safe from any thread and takes ownership of the event; events still
    // queued for a receiver that is destroyed are dropped with it.
    QCoreApplication::postEvent(receiver_,
                                new EngineMessageEvent(message, value, generation_.load()));
}
