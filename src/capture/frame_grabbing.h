#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>

#include "platform/bitmap_records.h"

// Bytes of one row of a 24-bit bitmap: 3 per pixel, padded to a multiple of 4; 0 for a
// width that is not positive. In 64 bits, so no positive width wraps to 0.
constexpr std::uint64_t BgrRowBytes(std::int32_t width) {
    return width <= 0 ? 0u : (static_cast<std::uint64_t>(width) * 3u + 3u) & ~std::uint64_t{3};
}

// Bytes of a 24-bit frame of `height` such rows (its biSizeImage). 0 when a side is not
// positive or the bytes do not fit in 32 bits: no frame of that size is usable.
constexpr std::uint32_t BgrImageBytes(std::int32_t width, std::int32_t height) {
    const std::uint64_t bytes =
        height <= 0 ? 0u : BgrRowBytes(width) * static_cast<std::uint64_t>(height);
    return bytes <= std::numeric_limits<std::uint32_t>::max() ? static_cast<std::uint32_t>(bytes)
                                                              : 0u;
}

// Where frames and requests meet the rest of the program. Messages go to the main
// window's thread; this is called on the streaming thread and must not block.
class NotifyTarget {
public:
    virtual ~NotifyTarget() = default;
    virtual void PostMessage(std::uint32_t message, std::intptr_t wParam, std::intptr_t lParam) = 0;
};

inline constexpr std::uint32_t kWmApp = 0x8000;
inline constexpr std::uint32_t kWmStillArrived = kWmApp + 1;  // wParam: 1 when this frame was armed
inline constexpr std::uint32_t kWmGraphEvent = kWmApp + 3;    // a capture graph event is pending

// Takes each frame while a recording runs (streaming thread; must not block). The frame is
// the grabber's own buffer, passed on without a copy: 24-bit blue-green-red, rows top-down and
// padded to 4 bytes, the order encoders take (FFmpeg's bgr24 is top-down). Valid only during
// the call.
class RecordingSink {
public:
    virtual ~RecordingSink() = default;
    virtual void WriteRecordingFrame(const std::uint8_t* buffer, std::size_t lengthBytes) = 0;
};

// The engine's display side: paints each frame and owns the off-screen surface it paints
// into.
class FrameDrawer {
public:
    virtual ~FrameDrawer() = default;
    // Streaming thread; must not block for long. `buffer` holds 24-bit blue-green-red rows,
    // top-down and padded to 4 bytes. Returns 1, or 0 for frame bits it cannot draw (none, or
    // fewer than `width` x `height` 24-bit rows).
    virtual int DrawFrame(const std::uint8_t* buffer, std::size_t lengthBytes, int width,
                          int height) = 0;
    // UI thread: lets go of the off-screen surface; the next paint makes a new, black one.
    virtual void ReleaseMemorySurface() {}
};

// What a grabber hands each frame to: 24-bit blue-green-red, rows top-down and padded to
// 4 bytes. Called on the streaming thread.
class GrabberCallback {
public:
    virtual ~GrabberCallback() = default;
    virtual void BufferCB(double sampleTimeSeconds, const std::uint8_t* buffer,
                          std::size_t lengthBytes) = 0;
};

// The still-request flags, shared by the streaming thread, the UI thread and the
// time-lapse worker.
struct StillFlags {
    std::atomic<int> stillRequested{0};
    std::atomic<int> skipNextFrame{0};
    std::atomic<int> stillArmed{0};
};

// The current live frame. Written by the frame callback on the streaming thread; read by
// the UI thread only in answer to a still message while a request is pending, when the
// callback leaves the pixels alone.
struct LatestFrame {
    // The header of the last frame (24 bits, bottom-up). Any thread; never blocks for long.
    BitmapInfoHeader Header() const;
    void SetHeader(int width, int height);

    std::unique_ptr<std::uint8_t[]> pixels;
    std::size_t capacity = 0;  // bytes allocated for pixels; only grows
    double sampleTime = 0.0;   // seconds

    // Copies a frame given as `height` top-down rows `rowStrideBytes` apart into pixels in
    // bottom-up order (the last row first, as a bitmap stores them), growing the buffer when
    // it is too small, and publishes it. Bytes after the last row are left out. False (the
    // copy held left alone) for a frame without rows, one shorter than its rows, or when no
    // memory.
    bool CopyFrame(double frameTime, const std::uint8_t* topDownRows, std::size_t lengthBytes,
                   std::size_t rowStrideBytes, int height);
    void Free();

    // A reader on another thread calls this before it reads pixels in answer to a still
    // message: it pairs with the publication at the end of CopyFrame, so the copy made before
    // the message was posted is visible in full. Returns the number of copies made so far.
    std::uint64_t AcquireCopy() const { return copies_.load(std::memory_order_acquire); }

private:
    std::atomic<std::uint64_t> copies_{0};
    mutable std::mutex headerMutex_;
    // 24-bit bottom-up frames; no frame yet.
    BitmapInfoHeader header_{.biSize = kBitmapInfoHeaderBytes, .biPlanes = 1, .biBitCount = 24};
};

// The per-frame work of the live grabber.
class FrameCallback : public GrabberCallback {
public:
    FrameCallback(LatestFrame& frame, StillFlags& flags, const std::atomic<int>& recordingActive);

    // Set while no frame flows (the grabber chain is built on the UI thread).
    void SetTarget(NotifyTarget* notifyTarget, int width, int height);
    void SetRecordingSink(RecordingSink* sink) { recordingSink_.store(sink); }
    void SetDrawer(FrameDrawer* drawer) { drawer_.store(drawer); }
    int width() const { return width_.load(); }
    int height() const { return height_.load(); }

    void BufferCB(double sampleTimeSeconds, const std::uint8_t* buffer,
                  std::size_t lengthBytes) override;

private:
    LatestFrame& frame_;
    StillFlags& flags_;
    const std::atomic<int>& recordingActive_;
    std::atomic<NotifyTarget*> notifyTarget_{nullptr};
    std::atomic<RecordingSink*> recordingSink_{nullptr};
    std::atomic<FrameDrawer*> drawer_{nullptr};
    std::atomic<int> width_{0};
    std::atomic<int> height_{0};
};

// The still pin's grabber: a frame there means the device's button asked for a still.
class StillPinCallback : public GrabberCallback {
public:
    explicit StillPinCallback(StillFlags& flags) : flags_(flags) {}
    void BufferCB(double sampleTimeSeconds, const std::uint8_t* buffer,
                  std::size_t lengthBytes) override;

private:
    StillFlags& flags_;
};
