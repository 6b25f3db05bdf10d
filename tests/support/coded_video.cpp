#include "support/coded_video.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "sim/simulated_microscope.h"
#include "support/media_probe.h"
#include "support/temp_dir.h"

namespace testsupport {
namespace {

std::size_t RowBytes(int width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

// Frame `index`: its number in the top rows, and below it a bar that moves, on a gradient.
std::vector<std::uint8_t> CodedFrame(int index, int width, int height) {
    std::vector<std::uint8_t> bytes(RowBytes(width) * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bytes.data() + RowBytes(width) * static_cast<std::size_t>(y);
        for (int x = 0; x < width; ++x) {
            std::uint8_t level = 0;
            if (y < sim::kIndexCellPixels) {
                const int bit = x / sim::kIndexCellPixels;
                const bool one =
                    bit < 32 && ((static_cast<std::uint32_t>(index) >> (31 - bit)) & 1U);
                level = one ? 235 : 16;
                row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = level;
                continue;
            }
            const bool bar = (x / 16) == index % (width / 16);
            row[3 * x + 0] = static_cast<std::uint8_t>(x / 2);
            row[3 * x + 1] = static_cast<std::uint8_t>(y / 2);
            row[3 * x + 2] = bar ? 240 : 60;
        }
    }
    return bytes;
}

}  // namespace

std::string RecordCodedVideo(const std::string& path, RecorderCodec codec, int fps, int frames,
                             int width, int height) {
    // A queue for every frame: the writer never has to keep up, so none is dropped.
    AviRecorder recorder({}, static_cast<std::size_t>(frames));
    RecorderCompressOptions options;
    options.codec = codec;
    const IoResult opened = recorder.OpenRecording(path, width, height, fps, options);
    if (!opened.ok()) {
        return "open: " + std::to_string(opened.error()) + " " + opened.detail();
    }
    for (int i = 0; i < frames; ++i) {
        const std::vector<std::uint8_t> frame = CodedFrame(i, width, height);
        recorder.WriteRecordingFrame(static_cast<double>(i) / fps, frame.data(), frame.size());
    }
    const RecordingOutcome outcome = recorder.CloseRecording();
    if (!outcome.status.ok() || outcome.framesWritten != frames) {
        return "close: " + std::to_string(outcome.status.error()) + ", " +
               std::to_string(outcome.framesWritten) + " frames written";
    }
    return {};
}

std::string EncodeCodedVideoWithFfmpeg(const std::string& path,
                                       const std::string& ffmpegCodecArguments, int fps, int frames,
                                       int width, int height) {
    TempDir scratch;
    const std::string raw = scratch / "frames.bgr";
    std::string bytes;
    for (int i = 0; i < frames; ++i) {
        const std::vector<std::uint8_t> frame = CodedFrame(i, width, height);
        for (int y = 0; y < height; ++y) {
            const auto row = frame.begin() + static_cast<std::ptrdiff_t>(RowBytes(width) * y);
            bytes.append(row, row + 3 * width);
        }
    }
    WriteFile(raw, bytes);
    const std::string said = RunCommand(
        "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgr24 -s " + std::to_string(width) + "x" +
        std::to_string(height) + " -r " + std::to_string(fps) + " -i '" + raw + "' " +
        ffmpegCodecArguments + " '" + path + "' 2>&1");
    return Exists(path) ? std::string() : "ffmpeg: " + said;
}

std::optional<int> FrameNumberOf(const QImage& frame) {
    if (frame.isNull() || frame.height() < sim::kIndexCellPixels) {
        return std::nullopt;
    }
    // The middle of the cells, away from the edges a codec blurs.
    const int y = sim::kIndexCellPixels / 2;
    std::vector<std::uint8_t> row(static_cast<std::size_t>(frame.width()) * 3);
    for (int x = 0; x < frame.width(); ++x) {
        const QRgb pixel = frame.pixel(x, y);
        row[3 * static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(qBlue(pixel));
        row[3 * static_cast<std::size_t>(x) + 1] = static_cast<std::uint8_t>(qGreen(pixel));
        row[3 * static_cast<std::size_t>(x) + 2] = static_cast<std::uint8_t>(qRed(pixel));
    }
    const std::optional<std::uint32_t> number = sim::ReadFrameIndexBgr(row.data(), frame.width());
    if (!number) {
        return std::nullopt;
    }
    return static_cast<int>(*number);
}

}  // namespace testsupport
