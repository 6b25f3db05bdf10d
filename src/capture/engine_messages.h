#pragma once

// The messages the capture side sends the UI thread, and where it sends them.

#include <cstdint>

enum class EngineMessage : std::uint8_t {
    StillArrived,  // the frame callback answered a still request; value: 1 when the frame was armed
    GraphEvent,    // a capture graph event waits to be fetched; value: 0
};

// Where engine messages go. Post is called on the streaming thread (and, for graph events,
// on whichever thread the media framework reports on); it must not block and must not call
// back into the engine.
class EngineMessageTarget {
public:
    virtual ~EngineMessageTarget() = default;
    virtual void Post(EngineMessage message, int value) = 0;
};
