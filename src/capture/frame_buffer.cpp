#include "capture/frame_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

bool LatestFrame::KeepFrame(double frameTime, const std::uint8_t* topDownRows,
                            std::size_t lengthBytes, std::size_t rowStrideBytes, int height,
                            FrameKeeper keeper) {
    if (topDownRows == nullptr || rowStrideBytes == 0 || height <= 0 ||
        lengthBytes / rowStrideBytes < static_cast<std::size_t>(height)) {
        return false;
    }
    const std::size_t rows = static_cast<std::size_t>(height);
    const std::size_t bytes = rowStrideBytes * rows;  // within lengthBytes
    if (keeper) {
        keeper_ = std::move(keeper);
        rows_ = topDownRows;
    } else {
        keeper_.reset();
        if (!copy_ || copyCapacity_ < bytes) {
            copy_.reset();
            copyCapacity_ = 0;
            rows_ = nullptr;
            rowCount_ = 0;
            copy_.reset(new (std::nothrow) std::uint8_t[bytes]);
            if (!copy_) {
                return false;
            }
            copyCapacity_ = bytes;
        }
        std::memcpy(copy_.get(), topDownRows, bytes);
        rows_ = copy_.get();
    }
    rowStride_ = rowStrideBytes;
    rowCount_ = rows;
    sampleTime_ = frameTime;
    copies_.fetch_add(1, std::memory_order_release);
    return true;
}

std::vector<std::uint8_t> LatestFrame::BottomUpBytes(std::size_t maxBytes) const {
    std::vector<std::uint8_t> bytes;
    if (rows_ == nullptr) {
        return bytes;
    }
    bytes.resize(std::min(maxBytes, frameBytes()));
    std::size_t done = 0;
    for (std::size_t row = rowCount_; row > 0 && done < bytes.size(); --row) {
        const std::size_t part = std::min(rowStride_, bytes.size() - done);
        std::memcpy(bytes.data() + done, rows_ + (row - 1) * rowStride_, part);
        done += part;
    }
    return bytes;
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
    keeper_.reset();
    copy_.reset();
    copyCapacity_ = 0;
    rows_ = nullptr;
    rowStride_ = 0;
    rowCount_ = 0;
}
