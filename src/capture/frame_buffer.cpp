#include "capture/frame_buffer.h"

#include <cstring>
#include <new>

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
