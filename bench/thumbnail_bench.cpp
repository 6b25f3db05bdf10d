// Times the file list's thumbnails (LoadThumbnailImage, 85 x 85 as the list's cells) of
// 1280 x 1024 captured files against the full-size load of the same file that the viewer does
// (LoadPictureFile, LoadFirstVideoFrame into a 5,242,880-byte image), in the same run: a
// 24-bit BMP, a JPEG (quality 85), and the first frame of AVIs in MSVC and MJPG. The ratio is
// what scaling adds to reading and decoding. The pictures are the simulated microscope's. Each
// figure is the median of the rounds; the files are in the page cache after the first.
//   thumbnail_bench [rounds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "browser/picture_loader.h"
#include "output/avi_encoder_settings.h"
#include "output/avi_recorder.h"
#include "output/jpeg_codec.h"
#include "output/output_file.h"
#include "platform/bitmap_records.h"
#include "scratch_folder.h"
#include "sim/simulated_microscope.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 1024;
constexpr int kCell = 85;

using Clock = std::chrono::steady_clock;

// A frame of the simulated microscope as top-down 24-bit BGR rows padded to 4 bytes.
std::vector<std::uint8_t> SpecimenFrame() {
    const sim::SimulatedMicroscope microscope(sim::Options{sim::Kind::Camera, false});
    const FrameSize size{kWidth, kHeight};
    std::vector<std::uint8_t> yuy2(2 * std::size_t{kWidth} * kHeight);
    microscope.RenderFrame(0, size, yuy2.data());
    const int stride = static_cast<int>(avisettings::BgrRowBytes(kWidth));
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(stride) * kHeight);
    const avisettings::ConversionPtr toBgr(sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUYV422,
                                                          kWidth, kHeight, AV_PIX_FMT_BGR24,
                                                          SWS_BILINEAR, nullptr, nullptr, nullptr));
    const std::uint8_t* const source[1] = {yuy2.data()};
    const int sourceStride[1] = {2 * kWidth};
    std::uint8_t* const target[1] = {bgr.data()};
    const int targetStride[1] = {stride};
    sws_scale(toBgr.get(), source, sourceStride, 0, kHeight, target, targetStride);
    return bgr;
}

// The frame as a packed DIB (rows bottom-up).
std::vector<std::uint8_t> PackedDibOf(const std::vector<std::uint8_t>& frame) {
    const std::size_t stride = avisettings::BgrRowBytes(kWidth);
    std::vector<std::uint8_t> dib(kBitmapInfoHeaderBytes + frame.size());
    BitmapInfoHeader header;
    header.biSize = kBitmapInfoHeaderBytes;
    header.biWidth = kWidth;
    header.biHeight = kHeight;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = static_cast<std::uint32_t>(frame.size());
    WriteBitmapInfoHeader(header, std::span(dib).first<kBitmapInfoHeaderBytes>());
    for (int y = 0; y < kHeight; ++y) {
        std::copy_n(frame.data() + static_cast<std::size_t>(y) * stride, stride,
                    dib.data() + kBitmapInfoHeaderBytes + (kHeight - 1 - y) * stride);
    }
    return dib;
}

bool WriteBitmap(const std::string& path, const std::vector<std::uint8_t>& dib) {
    std::vector<std::uint8_t> file(kBitmapFileHeaderBytes);
    BitmapFileHeader header;
    header.bfType = kBitmapFileType;
    header.bfSize = static_cast<std::uint32_t>(file.size() + dib.size());
    header.bfOffBits = kBitmapFileHeaderBytes + kBitmapInfoHeaderBytes;
    WriteBitmapFileHeader(header, std::span(file).first<kBitmapFileHeaderBytes>());
    file.insert(file.end(), dib.begin(), dib.end());
    OutputFile out;
    return out.Create(path) && out.Write(file.data(), file.size()) && out.Commit();
}

bool Record(const std::string& path, RecorderCodec codec, const std::vector<std::uint8_t>& frame) {
    AviRecorder recorder;
    if (!recorder.OpenRecording(path, kWidth, kHeight, 15, {codec})) {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        recorder.WriteRecordingFrame(i / 15.0, frame.data(), frame.size());
    }
    return recorder.CloseRecording().status.ok();
}

double MedianMs(int rounds, const std::function<bool()>& work) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const Clock::time_point start = Clock::now();
        if (!work()) {
            std::fprintf(stderr, "a load failed\n");
            std::exit(1);
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return bench::Median(times);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 30;
    bench::ScratchFolder folder("thumbnail_bench");
    const std::vector<std::uint8_t> frame = SpecimenFrame();
    const std::vector<std::uint8_t> dib = PackedDibOf(frame);
    const std::string bmp = folder / "StillCap1.bmp";
    const std::string jpg = folder / "StillCap1.jpg";
    const std::string msvc = folder / "VCap0001.avi";
    const std::string mjpg = folder / "VCap0002.avi";
    if (!folder.ok() || !WriteBitmap(bmp, dib) || !DibToJpeg(dib, 85, jpg) ||
        !Record(msvc, RecorderCodec::MicrosoftVideo1, frame) ||
        !Record(mjpg, RecorderCodec::MotionJpeg, frame)) {
        std::fprintf(stderr, "cannot write the files\n");
        return 1;
    }
    std::vector<std::uint8_t> viewer(kViewerImageBytes);
    std::printf("1280 x 1024, %d-pixel thumbnails, median of %d rounds (ms)\n", kCell, rounds);
    std::printf("%-10s %10s %10s %10s\n", "file", "thumbnail", "full load", "ratio");
    struct Row {
        const char* name;
        std::string path;
        MediaKind kind;
    };
    for (const Row& row :
         {Row{"BMP 24", bmp, MediaKind::Pictures}, Row{"JPEG 85", jpg, MediaKind::Pictures},
          Row{"AVI MSVC", msvc, MediaKind::Videos}, Row{"AVI MJPG", mjpg, MediaKind::Videos}}) {
        const double thumbnail =
            MedianMs(rounds, [&] { return LoadThumbnailImage(row.path, row.kind, kCell).ok(); });
        const double full = MedianMs(rounds, [&] {
            return (row.kind == MediaKind::Pictures ? LoadPictureFile(row.path, viewer)
                                                    : LoadFirstVideoFrame(row.path, viewer))
                .ok();
        });
        std::printf("%-10s %10.2f %10.2f %10.2f\n", row.name, thumbnail, full, thumbnail / full);
    }
    return 0;
}
