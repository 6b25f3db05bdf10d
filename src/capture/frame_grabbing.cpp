#include "capture/frame_grabbing.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "app/debug_trace.h"

bool LatestFrame::CopyFrame(double frameTime, const std::uint8_t* topDownRows,
                            std::size_t lengthBytes, std::size_t rowStrideBytes, int height) {
    if (topDownRows == nullptr || rowStrideBytes == 0 || height <= 0 ||
        lengthBytes / rowStrideBytes < static_cast<std::size_t>(height)) {
        return false;
    }
    const std::size_t rows = static_cast<std::size_t>(height);
    const std::size_t frameBytes = rowStrideBytes * rows;  // within lengthBytes
    if (!pixels || capacity < frameBytes) {
        pixels.reset();
        capacity = 0;
        pixels.reset(new (std::nothrow) std::uint8_t[frameBytes]);
        if (!pixels) {
            return false;
        }
        capacity = frameBytes;
    }
    sampleTime = frameTime;
    // The bottom row is stored first. Reading from the bottom takes the rows the converter
    // wrote last, still in the cache, first; the writes run forward.
    const std::uint8_t* from = topDownRows + frameBytes;
    std::uint8_t* to = pixels.get();
    for (std::size_t row = 0; row < rows; ++row) {
        from -= rowStrideBytes;
        std::memcpy(to, from, rowStrideBytes);
        to += rowStrideBytes;
    }
    copies_.fetch_add(1, std::memory_order_release);
    return true;
}

BitmapInfoHeader LatestFrame::Header() const {
    std::lock_guard<std::mutex> lock(headerMutex_);
    return header_;
}

void LatestFrame::SetHeader(int width, int height) {
    BitmapInfoHeader header;
    header.biSize = kBitmapInfoHeaderBytes;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biWidth = width;
    header.biHeight = height;
    header.biSizeImage = BgrImageBytes(width, height);
    std::lock_guard<std::mutex> lock(headerMutex_);
    header_ = header;
}

void LatestFrame::Free() {
    pixels.reset();
    capacity = 0;
}

FrameCallback::FrameCallback(LatestFrame& frame, StillFlags& flags,
                             const std::atomic<int>& recordingActive)
    : frame_(frame), flags_(flags), recordingActive_(recordingActive) {}

void FrameCallback::SetTarget(NotifyTarget* notifyTarget, int width, int height) {
    notifyTarget_.store(notifyTarget);
    width_.store(width);
    height_.store(height);
}

void FrameCallback::BufferCB(double sampleTimeSeconds, const std::uint8_t* buffer,
                             std::size_t lengthBytes) {
    const int width = width_.load();
    const int height = height_.load();
    const std::size_t rowBytes = BgrRowBytes(width);
    frame_.SetHeader(width, height);

    if (flags_.stillRequested.load() != 1) {
        frame_.CopyFrame(sampleTimeSeconds, buffer, lengthBytes, rowBytes, height);
    } else {
        DebugTrace(0, "********* Save to buffer%d(%d:%d:%d)\n", flags_.skipNextFrame.load(),
                   static_cast<int>(lengthBytes), width, height);
        if (flags_.skipNextFrame.load() != 0) {
            flags_.skipNextFrame.store(0);
            flags_.stillArmed.store(1);
        } else {
            const int armed = flags_.stillArmed.load();
            if (armed != 0) {
                frame_.CopyFrame(sampleTimeSeconds, buffer, lengthBytes, rowBytes, height);
            }
            if (NotifyTarget* target = notifyTarget_.load()) {
                target->PostMessage(kWmStillArrived, armed, 0);
            }
            flags_.stillArmed.store(0);
        }
    }
    if (recordingActive_.load() != 0) {
        if (RecordingSink* sink = recordingSink_.load()) {
            sink->WriteRecordingFrame(buffer, lengthBytes);
        }
    }
    if (FrameDrawer* drawer = drawer_.load()) {
        drawer->DrawFrame(buffer, lengthBytes, width, height);
    }
}

void StillPinCallback::BufferCB(double, const std::uint8_t*, std::size_t lengthBytes) {
    DebugTrace(0, "Still Buffer CB(%d)\n", static_cast<int>(lengthBytes));
    flags_.stillRequested.store(1);
    flags_.skipNextFrame.store(1);
}
