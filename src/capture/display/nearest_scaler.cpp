#include "capture/display/nearest_scaler.h"

#include <bit>
#include <cstring>

#include "capture/frame_buffer.h"

namespace {

// The source index under the centre of target index `i` of `targetCount`.
std::int64_t SourceIndex(std::int64_t i, std::int64_t sourceCount, std::int64_t targetCount) {
    return ((2 * i + 1) * sourceCount) / (2 * targetCount);
}

}  // namespace

void NearestScaler::PrepareColumns(int sourceWidth, int targetWidth) {
    if (sourceWidth == sourceWidth_ && targetWidth == targetWidth_) {
        return;
    }
    const std::uint64_t rowBytes = BgrRowBytes(sourceWidth);
    columnOffsets_.resize(static_cast<std::size_t>(targetWidth));
    wordColumns_ = 0;
    for (int x = 0; x < targetWidth; ++x) {
        const auto offset =
            static_cast<std::uint32_t>(3 * SourceIndex(x, sourceWidth, targetWidth));
        columnOffsets_[static_cast<std::size_t>(x)] = offset;
        if (offset + std::uint64_t{4} <= rowBytes) {
            wordColumns_ = x + 1;
        }
    }
    sourceWidth_ = sourceWidth;
    targetWidth_ = targetWidth;
}

bool NearestScaler::Scale(const std::uint8_t* frame, std::size_t lengthBytes, int width, int height,
                          QImage& target) {
    const std::size_t rowBytes = BgrRowBytes(width);
    if (frame == nullptr || width <= 0 || height <= 0 ||
        lengthBytes / rowBytes < static_cast<std::size_t>(height) || target.isNull() ||
        target.format() != QImage::Format_RGB32) {
        return false;
    }
    const int targetWidth = target.width();
    const int targetHeight = target.height();
    PrepareColumns(width, targetWidth);
    const std::uint32_t* columns = columnOffsets_.data();
    std::int64_t previousRow = -1;
    for (int y = 0; y < targetHeight; ++y) {
        auto* out = reinterpret_cast<std::uint32_t*>(target.scanLine(y));
        const std::int64_t sourceRow = SourceIndex(y, height, targetHeight);
        if (sourceRow == previousRow) {
            std::memcpy(out, target.constScanLine(y - 1),
                        static_cast<std::size_t>(targetWidth) * sizeof(std::uint32_t));
            continue;
        }
        previousRow = sourceRow;
        const std::uint8_t* in = frame + rowBytes * static_cast<std::size_t>(sourceRow);
        int x = 0;
        if constexpr (std::endian::native == std::endian::little) {
            // Blue, green and red read as one word with the next byte on top, which the opaque
            // alpha replaces; only where those four bytes lie inside the row.
            for (; x < wordColumns_; ++x) {
                std::uint32_t word;
                std::memcpy(&word, in + columns[x], sizeof word);
                out[x] = 0xFF000000u | word;
            }
        }
        for (; x < targetWidth; ++x) {
            const std::uint8_t* pixel = in + columns[x];
            out[x] = 0xFF000000u | (std::uint32_t{pixel[2]} << 16) |
                     (std::uint32_t{pixel[1]} << 8) | std::uint32_t{pixel[0]};
        }
    }
    return true;
}
