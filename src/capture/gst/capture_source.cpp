#include "capture/gst/capture_source.h"

#include <algorithm>
#include <limits>

namespace gstcapture {

namespace {

// Bytes of one frame at `bitCount` bits a pixel, saturating.
std::uint32_t ImageBytesFor(int width, int height, std::uint16_t bitCount) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    const std::uint64_t bits =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) * bitCount;
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>((bits + 7) / 8, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

CaptureSettings MakeCaptureSettings(int width, int height, std::uint32_t compression, int bitCount,
                                    std::int64_t timePerFrame) {
    CaptureSettings format;
    format.AvgTimePerFrame = timePerFrame > 0 ? timePerFrame : kFallbackTimePerFrame;
    format.biSize = 40;
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = static_cast<std::uint16_t>(std::clamp(bitCount, 0, 0xFFFF));
    format.biCompression = compression;
    format.biSizeImage = ImageBytesFor(width, height, format.biBitCount);
    format.dwBitRate = BitRateFor(format.biSizeImage, format.AvgTimePerFrame);
    return format;
}

int FramesPerSecondOf(const CaptureSettings& format, int maximum) {
    const std::uint32_t rate = RoundedFrameRate(format.AvgTimePerFrame);
    return static_cast<int>(
        std::clamp<std::uint32_t>(rate, 1u, static_cast<std::uint32_t>(maximum)));
}

}  // namespace gstcapture
