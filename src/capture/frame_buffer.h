#pragma once

// The frame buffer: the row arithmetic of 24-bit frames and the copy of the current live
// frame that stills are written from.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

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

// Keeps the bytes of a delivered frame readable for as long as it is held (for example a
// reference on the buffer they were mapped from). Empty when the bytes are good only for the
// duration of the call that hands them over.
using FrameKeeper = std::shared_ptr<const void>;

// The current live frame. Written by the frame callback on the streaming thread; read by
// the UI thread only in answer to a still message while a request is pending, when the
// callback leaves it alone.
class LatestFrame {
public:
    // The header of the last frame (24 bits, bottom-up). Any thread; never blocks for long.
    BitmapInfoHeader Header() const;
    void SetHeader(int width, int height);

    // Keeps a frame given as `height` top-down rows `rowStrideBytes` apart and publishes it.
    // With a `keeper` the frame is kept by reference and nothing is copied; without one the
    // rows are copied, into a buffer that grows when it is too small. Bytes after the last
    // row are left out. False (the frame held left alone) for a frame without rows, one
    // shorter than its rows, or when no memory.
    bool KeepFrame(double frameTime, const std::uint8_t* topDownRows, std::size_t lengthBytes,
                   std::size_t rowStrideBytes, int height, FrameKeeper keeper = {});

    // The first `maxBytes` (at most all) of the kept frame in a bitmap's order: the last row
    // first, padding included. Empty with no frame.
    std::vector<std::uint8_t> BottomUpBytes(std::size_t maxBytes) const;
    // Bytes of the kept frame; 0 with none.
    std::size_t frameBytes() const { return rowStride_ * rowCount_; }
    double sampleTime() const { return sampleTime_; }

    // Lets go of the kept frame and of the copy buffer.
    void Free();

    // A reader on another thread calls this before it reads the frame in answer to a still
    // message: it pairs with the publication at the end of KeepFrame, so the frame kept before
    // the message was posted is visible in full. Returns the number of frames kept so far.
    std::uint64_t AcquireCopy() const { return copies_.load(std::memory_order_acquire); }

private:
    FrameKeeper keeper_;                    // holds rows_ when it is not the copy buffer
    std::unique_ptr<std::uint8_t[]> copy_;  // the copy buffer; only grows
    std::size_t copyCapacity_ = 0;
    const std::uint8_t* rows_ = nullptr;  // top-down
    std::size_t rowStride_ = 0;
    std::size_t rowCount_ = 0;
    double sampleTime_ = 0.0;  // seconds
    std::atomic<std::uint64_t> copies_{0};
    mutable std::mutex headerMutex_;
    // 24-bit bottom-up frames; no frame yet.
    BitmapInfoHeader header_{.biSize = kBitmapInfoHeaderBytes, .biPlanes = 1, .biBitCount = 24};
};
