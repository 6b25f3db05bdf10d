#include "capture/frame_buffer.h"

#include <cstring>
#include <new>

bool LatestFrame::CopyFrame(double frameTime, const std::uint8_t* buffer, std::size_t lengthBytes) {
    if (buffer == nullptr || lengthBytes == 0) {
        return false;
    }
    if (!pixels || capacity < lengthBytes) {
        pixels.reset();
        capacity = 0;
        pixels.reset(new (std::nothrow) std::uint8_t[lengthBytes]);
        if (!pixels) {
            return false;
        }
        capacity = lengthBytes;
    }
    sampleTime = frameTime;
    std::memcpy(pixels.get(), buffer, lengthBytes);
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
