#pragma once

#include <QEvent>
#include <QObject>
#include <atomic>
#include <cstdint>

#include "capture/frame_grabbing.h"

// A message from the capture side (a still arrived, a graph event is pending), delivered to
// an object on the UI thread as a queued event. `generation` tells which graph run posted it.
class EngineMessageEvent : public QEvent {
public:
    static QEvent::Type Type();

    EngineMessageEvent(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam,
                       std::uint64_t generation)
        : QEvent(Type()),
          message_(message),
          wParam_(wParam),
          lParam_(lParam),
          generation_(generation) {}

    std::uint32_t message() const { return message_; }
    std::intptr_t wParam() const { return wParam_; }
    std::intptr_t lParam() const { return lParam_; }
    std::uint64_t generation() const { return generation_; }

private:
    std::uint32_t message_;
    std::intptr_t wParam_;
    std::intptr_t lParam_;
    std::uint64_t generation_;
};

// Posts engine messages to `receiver` from any thread without blocking. Messages that were
// already queued when the receiver starts a new generation (after stopping or tearing down
// the graph) are recognised as stale by IsCurrent.
class QueuedNotifyTarget : public NotifyTarget {
public:
    explicit QueuedNotifyTarget(QObject* receiver) : receiver_(receiver) {}

    void PostMessage(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) override;

    // UI thread: messages posted from now on belong to a new generation.
    void NewGeneration() { generation_.fetch_add(1); }
    bool IsCurrent(const EngineMessageEvent& event) const {
        return event.generation() == generation_.load();
    }

private:
    QObject* receiver_;
    std::atomic<std::uint64_t> generation_{0};
};
