#pragma once

#include <QEvent>
#include <QObject>
#include <atomic>
#include <cstdint>

#include "capture/engine_messages.h"

// An engine message delivered to an object on the UI thread as a queued event.
// `generation` tells which graph run posted it.
class EngineMessageEvent : public QEvent {
public:
    static QEvent::Type Type();

    EngineMessageEvent(EngineMessage message, int value, std::uint64_t generation)
        : QEvent(Type()), message_(message), value_(value), generation_(generation) {}

    EngineMessage message() const { return message_; }
    int value() const { return value_; }
    std::uint64_t generation() const { return generation_; }

private:
    EngineMessage message_;
    int value_;
    std::uint64_t generation_;
};

// Posts engine messages to `receiver` from any thread without blocking. Messages that were
// already queued when the receiver starts a new generation (after stopping or tearing down
// the graph) are recognised as stale by IsCurrent.
class QueuedMessageTarget : public EngineMessageTarget {
public:
    explicit QueuedMessageTarget(QObject* receiver) : receiver_(receiver) {}

    void Post(EngineMessage message, int value) override;

    // UI thread: messages posted from now on belong to a new generation.
    void NewGeneration() { generation_.fetch_add(1); }
    std::uint64_t generation() const { return generation_.load(); }
    bool IsCurrent(const EngineMessageEvent& event) const {
        return event.generation() == generation_.load();
    }

private:
    QObject* receiver_;
    std::atomic<std::uint64_t> generation_{0};
};
