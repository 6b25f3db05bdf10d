#pragma once

// What the grabbers call on the streaming thread: the live grabber's per-frame work and the
// still pin's grabber, and the still-request flags they share with the capture session.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "capture/engine_messages.h"
#include "capture/frame_buffer.h"
#include "capture/frame_drawer.h"
#include "media/recording_sink.h"

// What a grabber hands each frame to: 24-bit blue-green-red, rows top-down and padded to
// 4 bytes. Called on the streaming thread. A grabber whose bytes outlive the call passes a
// keeper for them, so the frame can be kept without a copy.
class GrabberCallback {
public:
    virtual ~GrabberCallback() = default;
    virtual void BufferCB(double sampleTimeSeconds, const std::uint8_t* buffer,
                          std::size_t lengthBytes, const FrameKeeper& keeper) = 0;
    // Bytes good only for the call.
    void BufferCB(double sampleTimeSeconds, const std::uint8_t* buffer, std::size_t lengthBytes) {
        BufferCB(sampleTimeSeconds, buffer, lengthBytes, FrameKeeper{});
    }
};

// The still-request flags, shared by the streaming thread and the capture session (which
// every other thread asks for stills through).
struct StillFlags {
    std::atomic<int> stillRequested{0};
    std::atomic<int> skipNextFrame{0};
    std::atomic<int> stillArmed{0};
};

// The per-frame work of the live grabber.
class FrameCallback : public GrabberCallback {
public:
    FrameCallback(LatestFrame& frame, StillFlags& flags, const std::atomic<int>& recordingActive);

    // Set while no frame flows (the grabber chain is built on the UI thread).
    void SetTarget(EngineMessageTarget* target, int width, int height);
    void SetRecordingSink(RecordingSink* sink) { recordingSink_.store(sink); }
    void SetDrawer(FrameDrawer* drawer) { drawer_.store(drawer); }
    int width() const { return width_.load(); }
    int height() const { return height_.load(); }

    using GrabberCallback::BufferCB;
    void BufferCB(double sampleTimeSeconds, const std::uint8_t* buffer, std::size_t lengthBytes,
                  const FrameKeeper& keeper) override;

private:
    LatestFrame& frame_;
    StillFlags& flags_;
    const std::atomic<int>& recordingActive_;
    std::atomic<EngineMessageTarget*> target_{nullptr};
    std::atomic<RecordingSink*> recordingSink_{nullptr};
    std::atomic<FrameDrawer*> drawer_{nullptr};
    std::atomic<int> width_{0};
    std::atomic<int> height_{0};
};

// The still pin's grabber: a frame there means the device's button asked for a still.
class StillPinCallback : public GrabberCallback {
public:
    explicit StillPinCallback(StillFlags& flags) : flags_(flags) {}
    using GrabberCallback::BufferCB;
    void BufferCB(double sampleTimeSeconds, const std::uint8_t* buffer, std::size_t lengthBytes,
                  const FrameKeeper& keeper) override;

private:
    StillFlags& flags_;
};
