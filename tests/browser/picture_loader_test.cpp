#include "browser/picture_loader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "output/avi_recorder.h"
#include "output/bitmap_builder.h"
#include "output/packed_dib.h"
#include "support/media_probe.h"
#include "support/temp_dir.h"

namespace {

using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::WriteFile;

// Every good file holds this picture: kCorner in the top left kCornerWidth x kCornerHeight
// pixels (an edge inside a byte of 1- and 4-bit rows), kGround elsewhere.
constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kCornerWidth = 29;
constexpr int kCornerHeight = 24;
constexpr QRgb kCorner = qRgb(200, 30, 40);
constexpr QRgb kGround = qRgb(20, 60, 220);
const char* const kLavfiPattern =
    "color=c=0x143CDC:s=64x48:r=5,drawbox=x=0:y=0:w=29:h=24:color=0xC81E28:t=fill";

bool InCorner(int x, int y) {
    return x < kCornerWidth && y < kCornerHeight;
}

// The picture as a bitmap file of `bitCount` bits; 1, 4 and 8 bits index a table of the two
// colours.
std::string PatternBitmap(unsigned bitCount) {
    outputtest::BitmapLayout layout;
    layout.width = kWidth;
    layout.height = kHeight;
    layout.bitCount = bitCount;
    if (bitCount <= 8) {
        layout.clrUsed = 2;
        for (const QRgb c : {kCorner, kGround}) {
            layout.colourTable.insert(
                layout.colourTable.end(),
                {static_cast<std::uint8_t>(qBlue(c)), static_cast<std::uint8_t>(qGreen(c)),
                 static_cast<std::uint8_t>(qRed(c)), 0});
        }
    }
    const std::size_t stride = outputtest::StrideOf(kWidth, bitCount);
    layout.rows.assign(stride * kHeight, 0);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = layout.rows.data() + (kHeight - 1 - y) * stride;
        for (int x = 0; x < kWidth; ++x) {
            const unsigned index = InCorner(x, y) ? 0 : 1;
            const QRgb c = InCorner(x, y) ? kCorner : kGround;
            if (bitCount == 1) {
                row[x / 8] |= static_cast<std::uint8_t>(index << (7 - x % 8));
            } else if (bitCount == 4) {
                row[x / 2] |= static_cast<std::uint8_t>(index << (x % 2 ? 0 : 4));
            } else if (bitCount == 8) {
                row[x] = static_cast<std::uint8_t>(index);
            } else {
                std::uint8_t* pixel = row + x * (bitCount / 8);
                pixel[0] = static_cast<std::uint8_t>(qBlue(c));
                pixel[1] = static_cast<std::uint8_t>(qGreen(c));
                pixel[2] = static_cast<std::uint8_t>(qRed(c));
            }
        }
    }
    return outputtest::AsString(outputtest::MakeBitmapFile(layout));
}

// The colour at (x, y), y counted from the top, of a packed DIB of any depth.
QRgb DibPixel(std::span<const std::uint8_t> dib, int x, int y) {
    const IoResultOf<DibLayout> layout = DescribePackedDib(dib);
    if (!layout) {
        ADD_FAILURE() << "not a packed DIB";
        return 0;
    }
    const unsigned bits = layout->header.biBitCount;
    const std::uint8_t* row = dib.data() + layout->rowsOffset +
                              (layout->header.biHeight - 1 - y) * layout->rowStrideBytes;
    unsigned index = 0;
    if (bits == 1) {
        index = (row[x / 8] >> (7 - x % 8)) & 1;
    } else if (bits == 4) {
        index = (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
    } else if (bits == 8) {
        index = row[x];
    } else {
        const std::uint8_t* pixel = row + x * (bits / 8);
        return qRgb(pixel[2], pixel[1], pixel[0]);
    }
    const std::uint8_t* entry = dib.data() + layout->colourTableOffset + 4 * index;
    return qRgb(entry[2], entry[1], entry[0]);
}

bool Near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

std::string Hex(QRgb c) {
    char text[16];
    std::snprintf(text, sizeof text, "#%06x", c & 0xFFFFFFu);
    return text;
}

void RecordPattern(const std::string& path, RecorderCodec codec) {
    const std::size_t stride = (kWidth * 3 + 3) & ~3;
    std::vector<std::uint8_t> frame(stride * kHeight);  // top-down rows
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const QRgb c = InCorner(x, y) ? kCorner : kGround;
            std::uint8_t* pixel = frame.data() + y * stride + 3 * x;
            pixel[0] = static_cast<std::uint8_t>(qBlue(c));
            pixel[1] = static_cast<std::uint8_t>(qGreen(c));
            pixel[2] = static_cast<std::uint8_t>(qRed(c));
        }
    }
    AviRecorder recorder;
    ASSERT_TRUE(recorder.OpenRecording(path, kWidth, kHeight, 5, {codec}).ok());
    for (int i = 0; i < 3; ++i) {
        recorder.WriteRecordingFrame(i / 5.0, frame.data(), frame.size());
    }
    ASSERT_TRUE(recorder.CloseRecording().status.ok());
}

void FfmpegPattern(const std::string& path, const std::string& input, const std::string& codec) {
    EXPECT_EQ(RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i '" + input + "' -t 1 " + codec +
                         " '" + path + "' 2>&1"),
              "");
}

// Overwrites the 32-bit little-endian value at `offset` bytes after the first `tag` of the file.
void PatchAfter(const std::string& path, const std::string& tag, std::size_t offset,
                std::uint32_t value) {
    std::string bytes = ReadFile(path);
    const std::size_t at = bytes.find(tag);
    ASSERT_NE(at, std::string::npos) << tag;
    for (int i = 0; i < 4; ++i) {
        bytes[at + offset + i] = static_cast<char>(value >> (8 * i));
    }
    WriteFile(path, bytes);
}

// biWidth and biHeight of the video stream's format (strf), given the size of another picture.
void LieAboutSize(const std::string& path, std::uint32_t width, std::uint32_t height) {
    PatchAfter(path, "strf", 12, width);
    PatchAfter(path, "strf", 16, height);
}

class PictureLoader : public testing::Test {
protected:
    testsupport::TempDir dir;
    std::string At(const std::string& name) const { return dir / name; }
};

TEST_F(PictureLoader, EveryKindOfCapturedFileLoadsRightWayUpAndMakesAThumbnail) {
    struct Row {
        const char* name;
        std::function<void(const std::string&)> make;
        unsigned bitCount;
        int tolerance;  // per channel, for lossy codecs and YUV
    };
    const auto bitmap = [](unsigned bits) {
        return [bits](const std::string& path) { WriteFile(path, PatternBitmap(bits)); };
    };
    const auto recorded = [](RecorderCodec codec) {
        return [codec](const std::string& path) { RecordPattern(path, codec); };
    };
    const auto ffmpeg = [](const std::string& codec) {
        return [codec](const std::string& path) { FfmpegPattern(path, kLavfiPattern, codec); };
    };
    const Row rows[] = {
        {"mono.bmp", bitmap(1), 1, 0},
        {"pal4.bmp", bitmap(4), 4, 0},
        {"pal8.bmp", bitmap(8), 8, 0},
        {"rgb24.bmp", bitmap(24), 24, 0},
        {"rgb32.bmp", bitmap(32), 32, 0},
        {"cjpeg.JPG",
         [&](const std::string& path) {
             WriteFile(path + ".bmp", PatternBitmap(24));
             EXPECT_EQ(RunCommand("cjpeg -quality 95 -outfile '" + path + "' '" + path + ".bmp'"),
                       "");
         },
         24, 12},
        {"VCap_msvc.avi", recorded(RecorderCodec::MicrosoftVideo1), 24, 10},
        {"VCap_mjpg.avi", recorded(RecorderCodec::MotionJpeg), 24, 12},
        {"VCap_dib.avi", recorded(RecorderCodec::UncompressedDib), 24, 0},
        {"VCap_ffv1.avi", recorded(RecorderCodec::Ffv1), 24, 12},
        {"VCap_hfyu.avi", recorded(RecorderCodec::HuffYuv), 24, 12},
        {"ffmpeg_msvideo1.avi", ffmpeg("-c:v msvideo1"), 24, 12},
        {"ffmpeg_mjpeg.avi", ffmpeg("-c:v mjpeg"), 24, 12},
        {"ffmpeg_rawvideo.avi", ffmpeg("-c:v rawvideo -pix_fmt bgr24"), 24, 12},
        {"ffmpeg_ffv1.avi", ffmpeg("-c:v ffv1"), 24, 12},
        // The frame's own size counts, not the one the stream header states.
        {"header_says_smaller.avi",
         [&](const std::string& path) {
             FfmpegPattern(path, kLavfiPattern, "-c:v mjpeg");
             LieAboutSize(path, 16, 8);
         },
         24, 12},
    };
    std::vector<std::uint8_t> dest(kViewerImageBytes);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = At(row.name);
        row.make(path);
        const bool video = std::string(row.name).ends_with(".avi");
        const IoResult loaded =
            video ? LoadFirstVideoFrame(path, dest) : LoadPictureFile(path, dest);
        ASSERT_TRUE(loaded.ok()) << std::strerror(loaded.error());
        const IoResultOf<DibLayout> layout = DescribePackedDib(dest);
        ASSERT_TRUE(layout.ok());
        EXPECT_EQ(layout->header.biWidth, kWidth);
        EXPECT_EQ(layout->header.biHeight, kHeight);
        EXPECT_EQ(layout->header.biBitCount, row.bitCount);
        if (row.bitCount == 24) {  // what the viewer takes: rows right after the header
            EXPECT_EQ(layout->rowsOffset, kBitmapInfoHeaderBytes);
            EXPECT_EQ(layout->header.biSizeImage, layout->imageBytes);
        }
        // Only the top-left corner is kCorner: a picture upside down or mirrored shows, and
        // in the lossless files a pixel out of place at the corner's edge.
        const std::pair<int, int> corners[] = {
            {0, 0}, {kWidth - 1, 0}, {0, kHeight - 1}, {kWidth - 1, kHeight - 1}};
        std::vector<std::pair<int, int>> points(std::begin(corners), std::end(corners));
        if (row.tolerance == 0) {
            points.insert(points.end(), {{kCornerWidth - 1, kCornerHeight - 1},
                                         {kCornerWidth, kCornerHeight - 1},
                                         {kCornerWidth - 1, kCornerHeight}});
        }
        for (const auto& [x, y] : points) {
            const QRgb loadedPixel = DibPixel(dest, x, y);
            EXPECT_TRUE(Near(loadedPixel, InCorner(x, y) ? kCorner : kGround, row.tolerance))
                << x << "," << y << " " << Hex(loadedPixel);
        }
        // Shrunk to 20 x 15 (boxes of 3 and 4 pixels), and as it is.
        for (const QSize size : {QSize(20, 15), QSize(kWidth, kHeight)}) {
            const IoResultOf<QImage> thumbnail = LoadThumbnailImage(
                path, video ? MediaKind::Videos : MediaKind::Pictures, size.width());
            ASSERT_TRUE(thumbnail.ok()) << std::strerror(thumbnail.error());
            EXPECT_EQ(thumbnail->size(), size);
            for (const auto& [x, y] : size.width() == kWidth
                                          ? points
                                          : std::vector(std::begin(corners), std::end(corners))) {
                const QRgb shown = thumbnail->pixel(x * (size.width() - 1) / (kWidth - 1),
                                                    y * (size.height() - 1) / (kHeight - 1));
                EXPECT_TRUE(Near(shown, InCorner(x, y) ? kCorner : kGround, row.tolerance + 2))
                    << size.width() << " wide, at " << x << "," << y << " " << Hex(shown);
            }
        }
    }
}

TEST_F(PictureLoader, DamagedMissingOrStrangeFilesFailCleanlyAndLeaveTheImageAsItWas) {
    WriteFile(At("good.bmp"), PatternBitmap(24));
    FfmpegPattern(At("good.avi"), kLavfiPattern, "-c:v msvideo1");
    FfmpegPattern(At("good_raw.avi"), kLavfiPattern, "-c:v rawvideo -pix_fmt bgr24");
    const std::string goodBmp = ReadFile(At("good.bmp"));
    const std::string goodAvi = ReadFile(At("good.avi"));
    constexpr int kLarge = 1400;  // 1400 x 1300 x 3 bytes: more than the viewer's image
    const std::string large = "color=c=gray:s=1400x1300:r=5";

    struct Row {
        const char* name;
        std::function<void(const std::string&)> make;  // none: nothing at that name
        int error;
    };
    const auto bytes = [](std::string content) {
        return [content](const std::string& path) { WriteFile(path, content); };
    };
    const auto folder = [](const std::string& path) { ASSERT_EQ(::mkdir(path.c_str(), 0700), 0); };
    const auto fifo = [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); };
    const auto loop = [](const std::string& path) {
        ASSERT_EQ(::symlink(path.c_str(), path.c_str()), 0);
    };
    const Row rows[] = {
        {"missing.bmp", nullptr, ENOENT},
        {"missing.jpg", nullptr, ENOENT},
        {"missing.avi", nullptr, ENOENT},
        {"folder.bmp", folder, EISDIR},
        {"folder.jpg", folder, EISDIR},
        {"folder.avi", folder, EISDIR},
        {"fifo.bmp", fifo, EINVAL},
        {"fifo.jpg", fifo, EINVAL},
        {"fifo.avi", fifo, EINVAL},
        {"loop.bmp", loop, ELOOP},
        {"loop.jpg", loop, ELOOP},
        {"loop.avi", loop, ELOOP},
        {"empty.bmp", bytes(""), EBADMSG},
        {"forty.bmp", bytes(goodBmp.substr(0, 40)), EBADMSG},
        {"forty_one.bmp", bytes(goodBmp.substr(0, 41)), EBADMSG},
        {"truncated.bmp", bytes(goodBmp.substr(0, goodBmp.size() - 1)), EBADMSG},
        {"text.jpg", bytes("not a picture\n"), EBADMSG},
        {"truncated.jpg",
         [&](const std::string& path) {
             WriteFile(path + ".bmp", goodBmp);
             RunCommand("cjpeg -outfile '" + path + "' '" + path + ".bmp'");
             const std::string whole = ReadFile(path);
             WriteFile(path, whole.substr(0, whole.size() - 100));  // into the scan
         },
         EBADMSG},
        {"empty.avi", bytes(""), EBADMSG},
        {"text.avi", bytes("RIFF is not what this is\n"), EBADMSG},
        {"no_frames.avi", bytes(goodAvi.substr(0, goodAvi.find("movi") + 4)), EBADMSG},
        {"half_header.avi", bytes(goodAvi.substr(0, goodAvi.find("strf"))), EBADMSG},
        {"header_says_larger.avi",
         [&](const std::string& path) {
             WriteFile(path, ReadFile(At("good_raw.avi")));
             LieAboutSize(path, 2 * kWidth, kHeight);  // rows the frame does not have
         },
         EBADMSG},
        {"header_says_huge.avi",
         [&](const std::string& path) {
             WriteFile(path, goodAvi);
             LieAboutSize(path, 0x7FFFFFFF, 0x7FFFFFFF);
         },
         EFBIG},
        {"large.bmp",
         [&](const std::string& path) {
             outputtest::BitmapLayout layout{.width = kLarge, .height = 1300};
             layout.rows.assign(outputtest::StrideOf(kLarge, 24) * 1300, 0x80);
             WriteFile(path, outputtest::AsString(outputtest::MakeBitmapFile(layout)));
         },
         EFBIG},
        {"large.jpg", [&](const std::string& path) { FfmpegPattern(path, large, "-frames:v 1"); },
         EFBIG},
        {"large.avi", [&](const std::string& path) { FfmpegPattern(path, large, "-c:v mjpeg"); },
         EFBIG},
        {"large_header_says_small.avi",
         [&](const std::string& path) {
             FfmpegPattern(path, large, "-c:v mjpeg");
             LieAboutSize(path, kWidth, kHeight);
         },
         EFBIG},
    };

    std::vector<std::uint8_t> dest(kViewerImageBytes, 0x5A);
    ASSERT_TRUE(LoadPictureFile(At("good.bmp"), dest).ok());
    const std::vector<std::uint8_t> before = dest;
    // FFmpeg says nothing about the files it is given.
    const std::string messages = At("stderr.txt");
    const int savedStderr = ::dup(2);
    const int capture = ::open(messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(capture, 0);
    ::dup2(capture, 2);
    ::close(capture);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = At(row.name);
        if (row.make) {
            row.make(path);
        }
        const bool video = std::string(row.name).ends_with(".avi");
        const IoResult loaded =
            video ? LoadFirstVideoFrame(path, dest) : LoadPictureFile(path, dest);
        EXPECT_EQ(loaded.error(), row.error) << std::strerror(loaded.error());
        EXPECT_TRUE(dest == before);
        const IoResultOf<QImage> thumbnail =
            LoadThumbnailImage(path, video ? MediaKind::Videos : MediaKind::Pictures, 85);
        EXPECT_EQ(thumbnail.error(), row.error);
    }
    ::dup2(savedStderr, 2);
    ::close(savedStderr);
    EXPECT_EQ(ReadFile(messages), "");
}

TEST_F(PictureLoader, ThumbnailsMadeOnSeveralThreadsAtOnceAreTheSame) {
    WriteFile(At("a.bmp"), PatternBitmap(8));
    FfmpegPattern(At("b.avi"), kLavfiPattern, "-c:v mjpeg");
    RecordPattern(At("c.avi"), RecorderCodec::MicrosoftVideo1);
    const std::pair<std::string, MediaKind> files[] = {
        {At("a.bmp"), MediaKind::Pictures},
        {At("b.avi"), MediaKind::Videos},
        {At("c.avi"), MediaKind::Videos},
    };
    std::vector<QImage> alone;
    for (const auto& [path, kind] : files) {
        alone.push_back(*LoadThumbnailImage(path, kind, 20));
    }
    std::vector<std::thread> threads;
    std::vector<int> differing(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 10; ++round) {
                const std::size_t i = static_cast<std::size_t>(t + round) % std::size(files);
                const IoResultOf<QImage> image =
                    LoadThumbnailImage(files[i].first, files[i].second, 20);
                differing[t] += !image.ok() || *image != alone[i];
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(differing, std::vector<int>(4, 0));
}

}  // namespace
