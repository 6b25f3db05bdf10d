#include "capture/grabber_callbacks.h"

#include "app/debug_trace.h"

FrameCallback::FrameCallback(LatestFrame& frame, StillFlags& flags,
                             const std::atomic<int>& recordingActive)
    : frame_(frame), flags_(flags), recordingActive_(recordingActive) {}

void FrameCallback::SetTarget(EngineMessageTarget* target, int width, int height) {
    target_.store(target);
    width_.store(width);
    height_.store(height);
}

void FrameCallback::BufferCB(double sampleTimeSeconds, const std::uint8_t* buffer,
                             std::size_t lengthBytes, const FrameKeeper& keeper) {
    const int width = width_.load();
    const int height = height_.load();
    const std::size_t rowBytes = BgrRowBytes(width);
    frame_.SetHeader(width, height);

    if (flags_.stillRequested.load() != 1) {
        frame_.KeepFrame(sampleTimeSeconds, buffer, lengthBytes, rowBytes, height, keeper);
    } else {
        DebugTrace(0, "********* Save to buffer%d(%d:%d:%d)\n", flags_.skipNextFrame.load(),
                   static_cast<int>(lengthBytes), width, height);
        if (flags_.skipNextFrame.load() != 0) {
            flags_.skipNextFrame.store(0);
            flags_.stillArmed.store(1);
        } else {
            const int armed = flags_.stillArmed.load();
            if (armed != 0) {
                frame_.KeepFrame(sampleTimeSeconds, buffer, lengthBytes, rowBytes, height, keeper);
            }
            if (EngineMessageTarget* target = target_.load()) {
                target->Post(EngineMessage::StillArrived, armed);
            }
            flags_.stillArmed.store(0);
        }
    }
    if (recordingActive_.load() != 0) {
        if (RecordingSink* sink = recordingSink_.load()) {
            sink->WriteRecordingFrame(sampleTimeSeconds, buffer, lengthBytes);
        }
    }
    if (FrameDrawer* drawer = drawer_.load()) {
        drawer->DrawFrame(buffer, lengthBytes, width, height);
    }
}

void StillPinCallback::BufferCB(double, const std::uint8_t*, std::size_t lengthBytes,
                                const FrameKeeper&) {
    DebugTrace(0, "Still Buffer CB(%d)\n", static_cast<int>(lengthBytes));
    flags_.stillRequested.store(1);
    flags_.skipNextFrame.store(1);
}
