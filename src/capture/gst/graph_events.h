#pragma once

#include <gst/gst.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>

#include "capture/engine_messages.h"
#include "capture/hresult.h"

namespace gstcapture {

// Event codes, numbered like the ones a Windows capture graph reports.
inline constexpr long kEventComplete = 0x01;    // the stream ended
inline constexpr long kEventErrorAbort = 0x03;  // streaming stopped on an error; param1: HResult
inline constexpr long kEventDeviceLost = 0x1F;  // the device went away; param2: 0 (removed)

// GetGraphEvent's answer when no event waits.
inline constexpr HResult kNoEventPending = static_cast<HResult>(0x80004004);

struct GraphEvent {
    long code = 0;
    std::intptr_t param1 = 0;
    std::intptr_t param2 = 0;
};

// The graph's pending events. Posting works from any thread and never blocks for long: the
// event is queued and EngineMessage::GraphEvent goes to the target, if one is set. Fetching happens
// on the UI thread.
class GraphEventQueue {
public:
    static constexpr std::size_t kMaxPending = 64;  // older events are dropped beyond this

    void SetTarget(EngineMessageTarget* target) { target_.store(target); }
    EngineMessageTarget* target() const { return target_.load(); }

    void Post(long code, std::intptr_t param1, std::intptr_t param2);
    // Takes the oldest event; false when none waits.
    bool Pop(GraphEvent& event);
    void Clear();
    std::size_t size() const;

    // Turns the messages of a pipeline's bus into events: errors and end of stream. Every
    // message is dropped after it was looked at, so the bus never fills up. Install with
    // gst_bus_set_sync_handler(bus, GraphEventQueue::OnBusMessage, &queue, nullptr).
    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer queue);

private:
    void OnError(GstMessage* message);

    mutable std::mutex mutex_;
    std::deque<GraphEvent> events_;
    std::atomic<EngineMessageTarget*> target_{nullptr};
};

}  // namespace gstcapture
