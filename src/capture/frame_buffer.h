#pragma once

// The frame buffer: the row arithmetic of 24-bit frames and the copy of the current live
// frame that stills are written from.

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
