#include "output/jpeg_codec.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "output/bitmap_builder.h"
#include "output/bmp_file.h"
#include "output/jpeg_test_files.h"
#include "support/media_probe.h"
#include "support/sanitizers.h"
#include "support/temp_dir.h"

namespace {

using outputtest::AsString;
using outputtest::BitmapLayout;
using outputtest::MakeRgbDib;
using Rgb = std::array<std::uint8_t, 3>;

constexpr std::size_t kViewerBufferBytes = 5'242'880;
// Round-trip bounds at quality 100 with a little headroom. Measured with libjpeg-turbo 2.1:
// smooth picture at most 4 levels per channel (mean 0.49); sharp fibres at most 1.89 levels
// of brightness (mean 1.88 per channel, single channels up to 40 at the edges).
constexpr int kSmoothMaxError = 5;
constexpr double kSharpMaxLumaError = 3.0;

// A decoded picture in a buffer the size the viewer uses.
struct Decoded {
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(kViewerBufferBytes, 0xA5);
    std::size_t imageBytes = 0;
    int result = -2;

    BitmapInfoHeader Header() const {
        return ReadBitmapInfoHeader(std::span(buffer).first<kBitmapInfoHeaderBytes>());
    }
    std::size_t Stride() const {
        return (3 * static_cast<std::size_t>(Header().biWidth) + 3) & ~3u;
    }
    // Red, green, blue of pixel x of row y counted from the top.
    Rgb At(int x, int y) const {
        const std::size_t row = static_cast<std::size_t>(Header().biHeight - 1 - y);
        const std::uint8_t* p =
            buffer.data() + 40 + row * Stride() + 3 * static_cast<std::size_t>(x);
        return {p[2], p[1], p[0]};
    }
    bool Untouched() const {
        return std::all_of(buffer.begin(), buffer.end(), [](auto b) { return b == 0xA5; });
    }
};

Decoded Decode(const std::string& path) {
    Decoded decoded;
    decoded.result = JpegFileToDib(path, decoded.buffer, &decoded.imageBytes).error();
    return decoded;
}

int Distance(Rgb a, Rgb b) {
    int most = 0;
    for (int c = 0; c < 3; ++c) {
        most = std::max(most, std::abs(a[c] - b[c]));
    }
    return most;
}

// Something like a stained specimen: smooth background and soft round cells.
Rgb SmoothSpecimen(int x, int y) {
    const double fx = x / 40.0;
    const double fy = y / 30.0;
    double red = 200 + 30 * std::sin(fx + fy);
    double green = 170 + 40 * std::cos(fx * 0.7 - fy);
    double blue = 190 + 35 * std::sin(fy * 1.3);
    for (int cell = 0; cell < 6; ++cell) {
        const double cx = 50 + 45.0 * cell;
        const double cy = 60 + 25.0 * (cell % 3);
        const double d = std::hypot(x - cx, y - cy);
        const double shade = std::exp(-d * d / 300.0);
        red -= 120 * shade;
        green -= 60 * shade;
        blue -= 20 * shade;
    }
    const auto clamp = [](double v) {
        return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
    };
    return {clamp(red), clamp(green), clamp(blue)};
}

// The same crossed by thin fibres with sharp, coloured edges.
Rgb Specimen(int x, int y) {
    Rgb colour = SmoothSpecimen(x, y);
    if ((x + 2 * y) % 97 < 3) {
        colour[1] = static_cast<std::uint8_t>(colour[1] / 2);
    }
    return colour;
}

double Luma(Rgb c) {
    return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2];
}

struct RoundTripError {
    int channel = 0;  // largest difference of one channel
    double luma = 0;  // largest difference of the brightness
    double mean = 0;  // mean difference over every channel of every pixel
};

template <typename Picture>
RoundTripError MeasureRoundTrip(const std::string& path, int width, int height, Picture picture) {
    RoundTripError error;
    const IoResult written = DibToJpeg(MakeRgbDib(width, height, picture), 100, path);
    EXPECT_TRUE(written) << written.detail();
    const Decoded decoded = Decode(path);
    EXPECT_EQ(decoded.result, 0);
    double total = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Rgb got = decoded.At(x, y);
            const Rgb want = picture(x, y);
            error.channel = std::max(error.channel, Distance(got, want));
            error.luma = std::max(error.luma, std::abs(Luma(got) - Luma(want)));
            for (int c = 0; c < 3; ++c) {
                total += std::abs(got[c] - want[c]);
            }
        }
    }
    error.mean = total / (width * height * 3);
    return error;
}

std::vector<std::uint8_t> FlatDib(int width, int height, Rgb colour) {
    return MakeRgbDib(width, height, [colour](int, int) { return colour; });
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(BitmapFileToJpeg, AStillBecomesABaselineJfifFileTheRightWayUp) {
    const testsupport::TempDir dir;
    // Top 16 rows red, bottom 16 rows blue, grey between.
    const auto still = MakeRgbDib(640, 480, [](int, int y) {
        return y < 16 ? Rgb{255, 0, 0} : y >= 464 ? Rgb{0, 0, 255} : Rgb{128, 128, 128};
    });
    std::vector<std::uint8_t> file(14 + still.size());
    const std::uint8_t fileHeader[14] = {'B', 'M', 0x36, 0x10, 0x0E, 0, 0, 0, 0, 0, 54, 0, 0, 0};
    std::copy(std::begin(fileHeader), std::end(fileHeader), file.begin());
    std::copy(still.begin(), still.end(), file.begin() + 14);
    ASSERT_EQ(file.size(), 921'654u);
    testsupport::WriteFile(dir / "StillCap0.bmp", AsString(file));

    const IoResult written = BitmapFileToJpeg(dir / "StillCap0.bmp", dir / "Cap.jpg");
    ASSERT_TRUE(written) << written.detail();
    EXPECT_EQ(written.detail(), "");
    const outputtest::JpegFrame frame =
        outputtest::InspectJpeg(testsupport::ReadFile(dir / "Cap.jpg"));
    EXPECT_TRUE(frame.baseline);
    EXPECT_TRUE(frame.jfif);
    EXPECT_EQ(frame.width, 640);
    EXPECT_EQ(frame.height, 480);
    EXPECT_EQ(frame.components, 3);

    const Decoded decoded = Decode(dir / "Cap.jpg");
    ASSERT_EQ(decoded.result, 0);
    EXPECT_EQ(decoded.imageBytes, 921'600u);
    for (const int x : {0, 320, 639}) {
        EXPECT_LE(Distance(decoded.At(x, 0), {255, 0, 0}), 3) << x;
        EXPECT_LE(Distance(decoded.At(x, 240), {128, 128, 128}), 3) << x;
        EXPECT_LE(Distance(decoded.At(x, 479), {0, 0, 255}), 3) << x;
    }
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"Cap.jpg", "StillCap0.bmp"}));
}

TEST(BitmapFileToJpeg, ConvertsIndexedBitmapsThroughTheirColourTable) {
    const testsupport::TempDir dir;
    BitmapLayout layout{.width = 16, .height = 16, .bitCount = 4};
    layout.colourTable.assign(16 * 4, 0);
    layout.colourTable[9 * 4 + 0] = 10;  // index 9: red 30, green 20, blue 10
    layout.colourTable[9 * 4 + 1] = 20;
    layout.colourTable[9 * 4 + 2] = 30;
    layout.rows.assign(8 * 16, 0x99);
    testsupport::WriteFile(dir / "a.bmp", AsString(outputtest::MakeBitmapFile(layout)));
    ASSERT_TRUE(BitmapFileToJpeg(dir / "a.bmp", dir / "a.jpg"));
    const Decoded decoded = Decode(dir / "a.jpg");
    ASSERT_EQ(decoded.result, 0);
    EXPECT_LE(Distance(decoded.At(7, 7), {30, 20, 10}), 2);
}

TEST(BitmapFileToJpeg, ReportsALoadFailureAndKeepsAConversionFailureApart) {
    const testsupport::TempDir dir;
    // The bitmap file cannot be read: the reader's code and no text.
    const IoResult missing = BitmapFileToJpeg(dir / "missing.bmp", dir / "a.jpg");
    EXPECT_EQ(missing.error(), ENOENT);
    EXPECT_EQ(missing.detail(), "");
    testsupport::WriteFile(dir / "bad.bmp", "BM not a bitmap at all");
    const IoResult bad = BitmapFileToJpeg(dir / "bad.bmp", dir / "a.jpg");
    EXPECT_EQ(bad.error(), EBADMSG);
    EXPECT_EQ(bad.detail(), "");
    EXPECT_FALSE(testsupport::Exists(dir / "a.jpg"));

    // It was read and the conversion failed: DibToJpeg's code and text.
    BitmapLayout layout{.width = 4, .height = 4};
    layout.rows.assign(48, 7);
    testsupport::WriteFile(dir / "ok.bmp", AsString(outputtest::MakeBitmapFile(layout)));
    const std::string target = dir / "no-such-folder/a.jpg";
    const IoResult unwritable = BitmapFileToJpeg(dir / "ok.bmp", target);
    EXPECT_EQ(unwritable.error(), ENOENT);
    EXPECT_EQ(unwritable.detail(), kCannotOpen + target);
    const IoResult itself = BitmapFileToJpeg(dir / "ok.bmp", dir / "ok.bmp");
    EXPECT_EQ(itself.error(), EINVAL);
    EXPECT_EQ(itself.detail(), kCannotOpen + (dir / "ok.bmp"));
}

// A picture of `bitCount` bits whose rows and colour table are noise; rows top-down when
// `height` is negative.
BitmapLayout NoiseLayout(std::int32_t width, std::int32_t height, unsigned bitCount) {
    BitmapLayout layout{.width = width, .height = height, .bitCount = bitCount};
    std::uint32_t noise = bitCount * 7919u + (height < 0 ? 1u : 0u);
    const auto next = [&noise] {
        noise = noise * 1664525u + 1013904223u;
        return static_cast<std::uint8_t>(noise >> 24);
    };
    layout.colourTable.resize(bitCount <= 8 ? (std::size_t{4} << bitCount) : 0);
    std::generate(layout.colourTable.begin(), layout.colourTable.end(), next);
    layout.rows.resize(outputtest::StrideOf(width, bitCount) *
                       static_cast<std::size_t>(std::abs(height)));
    std::generate(layout.rows.begin(), layout.rows.end(), next);
    return layout;
}

// The file is read in bands of rows; the picture is the one the whole loaded bitmap gives.
// 4000 pixels wide, every depth but 1 bit spans several bands.
TEST(ConvertBitmapFileToJpeg, ReadingAFewRowsAtATimeGivesThePictureOfTheWholeFile) {
    const testsupport::TempDir dir;
    for (const unsigned bitCount : {1u, 4u, 8u, 16u, 24u, 32u}) {
        for (const std::int32_t height : {140, -140}) {
            SCOPED_TRACE(std::to_string(bitCount) + " bits, height " + std::to_string(height));
            const std::string bmp = dir / "picture.bmp";
            testsupport::WriteFile(
                bmp, AsString(outputtest::MakeBitmapFile(NoiseLayout(4000, height, bitCount))));
            const IoResult streamed = ConvertBitmapFileToJpeg(bmp, dir / "streamed.jpg", 90);
            ASSERT_TRUE(streamed) << streamed.detail();

            const IoResultOf<PackedDib> load = LoadBitmapFile(bmp);
            ASSERT_EQ(load.error(), 0);
            const IoResult whole = DibToJpeg(load->bytes(), 90, dir / "whole.jpg");
            ASSERT_TRUE(whole) << whole.detail();
            EXPECT_TRUE(testsupport::ReadFile(dir / "streamed.jpg") ==
                        testsupport::ReadFile(dir / "whole.jpg"));
        }
    }
}

TEST(ConvertBitmapFileToJpeg, AStopBetweenRowsLeavesNoFileAndTheOlderOneAsItWas) {
    const testsupport::TempDir dir;
    testsupport::WriteFile(dir / "a.bmp",
                           AsString(outputtest::MakeBitmapFile(NoiseLayout(64, 200, 24))));
    testsupport::WriteFile(dir / "a.jpg", "older");
    int asked = 0;
    const IoResult result = ConvertBitmapFileToJpeg(dir / "a.bmp", dir / "a.jpg", 100,
                                                    [&asked] { return ++asked > 100; });
    EXPECT_EQ(result.error(), ECANCELED);
    EXPECT_EQ(asked, 101);
    EXPECT_EQ(testsupport::ReadFile(dir / "a.jpg"), "older");
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"a.bmp", "a.jpg"}));
}

// Each failure names the file it concerns, in the words the command line shows.
TEST(ConvertBitmapFileToJpeg, SaysWhatWentWrongAndWithWhichFile) {
    const testsupport::TempDir dir;
    const std::string ok = dir / "ok.bmp";
    testsupport::WriteFile(ok, AsString(outputtest::MakeBitmapFile(NoiseLayout(4, 4, 24))));
    testsupport::WriteFile(dir / "bad.bmp", "BM not a bitmap at all");
    const std::string wide = dir / "wide.bmp";
    testsupport::WriteFile(wide, AsString(outputtest::MakeBitmapFile(NoiseLayout(65'501, 1, 1))));
    const std::string jpeg = dir / "a.jpg";
    const struct {
        std::string bmp;
        std::string jpeg;
        int quality;
        int error;
        std::string text;
    } cases[] = {
        {dir / "missing.bmp", jpeg, 100, ENOENT,
         "cannot read " + dir / "missing.bmp" + ": No such file or directory"},
        {dir / "bad.bmp", jpeg, 100, EBADMSG,
         "cannot read " + dir / "bad.bmp" + ": not a bitmap file, or a damaged one"},
        {ok, jpeg, 101, EINVAL, "cannot write " + jpeg + ": Invalid input data"},
        {wide, jpeg, 100, EFBIG,
         "cannot convert " + wide +
             ": the picture is 65501 x 1 pixels, and a JPEG file holds at most 65500 on a side"},
        {ok, dir / "none/a.jpg", 100, ENOENT,
         "cannot write " + dir / "none/a.jpg" + ": No such file or directory"},
        {ok, dir.path(), 100, EISDIR, "cannot write " + dir.path() + ": Is a directory"},
        {ok, ok, 100, EINVAL, "cannot write " + ok + ": it names the bitmap file being converted"},
    };
    for (const auto& c : cases) {
        const IoResult result = ConvertBitmapFileToJpeg(c.bmp, c.jpeg, c.quality);
        EXPECT_EQ(result.error(), c.error) << c.text;
        EXPECT_EQ(result.detail(), c.text);
    }
    EXPECT_EQ(FilesIn(dir.path()), (std::vector<std::string>{"bad.bmp", "ok.bmp", "wide.bmp"}));
}

// The address space this process has now, from /proc/self/statm.
std::size_t AddressSpaceBytes() {
    std::size_t pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%zu", &pages) != 1) {
            pages = 0;
        }
        std::fclose(statm);
    }
    return pages * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Runs in a process of its own (a fresh heap): with 256 KB of address space to spare, the
// library's buffers for a picture 65000 pixels wide (over 1 MB) do not fit.
void ConvertWithoutMemory(const std::string& path) {
    const std::vector<std::uint8_t> dib = FlatDib(65000, 16, {1, 2, 3});
    const rlim_t limit = AddressSpaceBytes() + 256 * 1024;
    const rlimit tight = {limit, limit};
    setrlimit(RLIMIT_AS, &tight);
    const IoResult written = DibToJpeg(dib, 100, path);
    std::fprintf(stderr, "[%s]", written.detail().c_str());
    std::exit(written.error() == ENOMEM && written.detail() == std::strerror(ENOMEM) &&
                      !testsupport::Exists(path)
                  ? 0
                  : 1);
}

TEST(DibToJpeg, RunningOutOfMemorySaysSoInWords) {
    if (testsupport::kSanitizedBuild) {
        GTEST_SKIP() << "the sanitizers reserve more address space than any limit leaves";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const testsupport::TempDir dir;
    EXPECT_EXIT(ConvertWithoutMemory(dir / "a.jpg"), testing::ExitedWithCode(0),
                "\\[Cannot allocate memory\\]");
}

// Quality 100 keeps every sample of a smooth picture within a few levels. Sharp colour
// edges lose more in their colours (the library's default halves the chroma resolution)
// but not in their brightness.
TEST(JpegRoundTrip, QualityOneHundredStaysCloseToTheSource) {
    const testsupport::TempDir dir;
    const RoundTripError smooth = MeasureRoundTrip(dir / "smooth.jpg", 320, 240, SmoothSpecimen);
    EXPECT_LE(smooth.channel, kSmoothMaxError);
    EXPECT_LE(smooth.mean, 0.6);
    const RoundTripError sharp = MeasureRoundTrip(dir / "sharp.jpg", 320, 240, Specimen);
    EXPECT_LE(sharp.luma, kSharpMaxLumaError);
    EXPECT_LE(sharp.mean, 2.5);
}

TEST(JpegFileToDib, SizesRowsToFourBytesAndStoresBlueGreenRed) {
    const testsupport::TempDir dir;
    for (const int width : {100, 101}) {
        const std::string path = dir / (std::to_string(width) + ".jpg");
        ASSERT_TRUE(DibToJpeg(FlatDib(width, 50, {200, 100, 50}), 100, path));
        const Decoded decoded = Decode(path);
        ASSERT_EQ(decoded.result, 0);
        const BitmapInfoHeader header = decoded.Header();
        EXPECT_EQ(header.biSize, 40u);
        EXPECT_EQ(header.biWidth, width);
        EXPECT_EQ(header.biHeight, 50);
        EXPECT_EQ(header.biPlanes, 1);
        EXPECT_EQ(header.biBitCount, 24);
        EXPECT_EQ(header.biCompression, kBiRgb);
        EXPECT_EQ(header.biSizeImage, 0u);
        EXPECT_EQ(header.biClrUsed, 0u);
        EXPECT_EQ(decoded.Stride(), width == 100 ? 300u : 304u);
        EXPECT_EQ(decoded.imageBytes, width == 100 ? 15'000u : 15'200u);
        // The last pixel of the first stored row, in stored byte order.
        const std::uint8_t* last = decoded.buffer.data() + 40 + 3 * (width - 1);
        EXPECT_LE(Distance({last[0], last[1], last[2]}, {50, 100, 200}), 2);
        // Nothing is written past the rows.
        EXPECT_EQ(decoded.buffer[40 + decoded.imageBytes], 0xA5);
    }
}

TEST(JpegFileToDib, FitsExactlyIntoABufferOfHeaderAndRowsAndRefusesASmallerOne) {
    const testsupport::TempDir dir;
    ASSERT_TRUE(DibToJpeg(FlatDib(100, 50, {1, 2, 3}), 100, dir / "a.jpg"));
    std::vector<std::uint8_t> buffer(40 + 15'000 - 1, 0xA5);
    std::size_t imageBytes = 0;
    EXPECT_EQ(JpegFileToDib(dir / "a.jpg", buffer, &imageBytes).error(), EFBIG);
    EXPECT_EQ(imageBytes, 15'000u) << "the size a caller would need";
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](auto b) { return b == 0xA5; }));
    buffer.push_back(0xA5);
    EXPECT_TRUE(JpegFileToDib(dir / "a.jpg", buffer, &imageBytes));
}

TEST(JpegFileToDib, ShowsAGreyPictureAsTwentyFourBitGrey) {
    const testsupport::TempDir dir;
    testsupport::WriteFile(dir / "grey.jpg", AsString(outputtest::EncodeFlatJpeg(33, 9, 1, 90)));
    const Decoded decoded = Decode(dir / "grey.jpg");
    ASSERT_EQ(decoded.result, 0);
    EXPECT_EQ(decoded.Header().biBitCount, 24);
    EXPECT_EQ(decoded.imageBytes, 100u * 9);
    EXPECT_EQ(decoded.At(32, 8), (Rgb{90, 90, 90}));
}

TEST(JpegFileToDib, RefusesCmykAndLeavesTheBufferAlone) {
    const testsupport::TempDir dir;
    testsupport::WriteFile(dir / "cmyk.jpg", AsString(outputtest::EncodeFlatJpeg(8, 8, 4, 10)));
    const Decoded decoded = Decode(dir / "cmyk.jpg");
    EXPECT_EQ(decoded.result, ENOTSUP);
    EXPECT_TRUE(decoded.Untouched());
}

TEST(JpegFileToDib, FailsCleanlyOnMissingForeignAndAbsurdFiles) {
    const testsupport::TempDir dir;
    Decoded missing = Decode(dir / "missing.jpg");
    EXPECT_EQ(missing.result, ENOENT);
    EXPECT_TRUE(missing.Untouched());

    testsupport::WriteFile(dir / "text.jpg", "this is not a picture");
    EXPECT_EQ(Decode(dir / "text.jpg").result, EBADMSG);
    testsupport::WriteFile(dir / "empty.jpg", "");
    EXPECT_EQ(Decode(dir / "empty.jpg").result, EBADMSG);
    EXPECT_EQ(Decode(dir.path()).result, EBADMSG);

    // 65500 x 65500 in the frame header: refused before anything is allocated or written.
    std::string huge = AsString(outputtest::EncodeFlatJpeg(8, 8, 3, 10));
    const std::size_t sof = huge.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    huge.replace(sof + 5, 4, "\xFF\xDC\xFF\xDC");
    testsupport::WriteFile(dir / "huge.jpg", huge);
    const Decoded refused = Decode(dir / "huge.jpg");
    EXPECT_EQ(refused.result, EFBIG);
    EXPECT_TRUE(refused.Untouched());
    EXPECT_EQ(refused.imageBytes, std::size_t{196'500} * 65'500);
}

TEST(JpegFileToDib, RefusesEveryTruncationAndLeavesNoPictureBehind) {
    const testsupport::TempDir dir;
    ASSERT_TRUE(DibToJpeg(MakeRgbDib(64, 48, Specimen), 90, dir / "full.jpg"));
    const std::string full = testsupport::ReadFile(dir / "full.jpg");
    for (std::size_t length = 0; length + 2 < full.size(); length += 7) {
        testsupport::WriteFile(dir / "cut.jpg", full.substr(0, length));
        const Decoded decoded = Decode(dir / "cut.jpg");
        EXPECT_NE(decoded.result, 0) << length;
        EXPECT_EQ(decoded.Header().biSize, decoded.Untouched() ? 0xA5A5A5A5u : 0u) << length;
    }
}

TEST(JpegFileToDib, RefusesDamagedEntropyData) {
    const testsupport::TempDir dir;
    ASSERT_TRUE(DibToJpeg(MakeRgbDib(64, 48, Specimen), 90, dir / "a.jpg"));
    std::string bytes = testsupport::ReadFile(dir / "a.jpg");
    const std::size_t scan = bytes.find("\xFF\xDA");
    ASSERT_NE(scan, std::string::npos);
    // A marker in the middle of the entropy-coded data ends the scan early.
    bytes.replace(scan + 200, 2, "\xFF\xD9");
    testsupport::WriteFile(dir / "a.jpg", bytes);
    EXPECT_EQ(Decode(dir / "a.jpg").result, EBADMSG);
}

TEST(DibToJpeg, RefusesBadInputWithoutCreatingAFile) {
    const testsupport::TempDir dir;
    const std::string path = dir / "a.jpg";
    const std::vector<std::uint8_t> good = FlatDib(8, 8, {1, 2, 3});
    BitmapLayout twoBit{.width = 8, .height = 8, .bitCount = 2};
    twoBit.rows.assign(32, 0);
    std::vector<std::uint8_t> cut = good;
    cut.resize(cut.size() - 1);
    BitmapLayout wide{.width = 65'501, .height = 1, .bitCount = 1};
    wide.colourTable.assign(8, 0);
    wide.rows.assign(outputtest::StrideOf(65'501, 1), 0);
    const struct {
        const char* what;
        std::vector<std::uint8_t> dib;
        int quality;
        std::string path;
        int error;
        std::string text;
    } cases[] = {
        {"quality -1", good, -1, path, EINVAL, kInvalidInputData},
        {"quality 101", good, 101, path, EINVAL, kInvalidInputData},
        {"no DIB", {}, 100, path, EINVAL, kInvalidInputData},
        {"empty path", good, 100, "", EINVAL, kInvalidInputData},
        {"2 bits", outputtest::MakeDib(twoBit), 100, path, EINVAL, kInvalidBitCount},
        {"rows cut short", cut, 100, path, EINVAL, kInvalidInputData},
        {"wider than JPEG allows", outputtest::MakeDib(wide), 100, path, EINVAL, kInvalidInputData},
        {"a folder cannot be replaced by the picture", good, 100, dir.path(), EISDIR,
         kCannotOpen + dir.path()},
    };
    for (const auto& c : cases) {
        const IoResult result = DibToJpeg(c.dib, c.quality, c.path);
        EXPECT_EQ(result.error(), c.error) << c.what;
        EXPECT_EQ(result.detail(), c.text) << c.what;
    }
    EXPECT_TRUE(FilesIn(dir.path()).empty());
}

// Limits the size of files this process writes while it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST(DibToJpeg, AFailedWriteLeavesTheOlderFileAsItWas) {
    const testsupport::TempDir dir;
    const std::string path = dir / "a.jpg";
    testsupport::WriteFile(path, "older");
    IoResult result;
    {
        const FileSizeLimit limit(4096);
        result = DibToJpeg(MakeRgbDib(320, 240, Specimen), 100, path);
    }
    EXPECT_EQ(result.error(), EFBIG);
    EXPECT_EQ(result.detail(), "File too large");
    EXPECT_EQ(testsupport::ReadFile(path), "older");
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"a.jpg"});

    result = DibToJpeg(FlatDib(8, 8, {1, 2, 3}), 100, path);
    ASSERT_TRUE(result) << result.detail();
    EXPECT_EQ(result.detail(), "");
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"a.jpg"});
    EXPECT_EQ(Decode(path).result, 0);
}

// A video frame made by ImageMagick: 640 x 480, its left half one colour, its right half
// another. Decoded for the size it is shown at: a half, a quarter or an eighth where that
// leaves at least 15/16 of the shown size, else whole; the colours the same at any size.
TEST(JpegToFrame, DecodesAFrameReducedForTheSizeItIsShownAt) {
    const testsupport::TempDir dir;
    const std::string path = dir / "frame.jpg";
    testsupport::RunCommand(
        "convert -size 320x480 xc:'#C83214' -size 320x480 xc:'#1450C8' "
        "+append -quality 90 '" +
        path + "'");
    const std::string bytes = testsupport::ReadFile(path);
    ASSERT_FALSE(bytes.empty());
    const std::span<const std::uint8_t> jpeg(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                             bytes.size());
    const struct {
        QSize shown;
        QSize frame;
    } cases[] = {
        {{}, {640, 480}},         {{640, 480}, {640, 480}}, {{1000, 1000}, {640, 480}},
        {{320, 240}, {320, 240}}, {{301, 226}, {320, 240}}, {{330, 250}, {320, 240}},
        {{350, 260}, {640, 480}}, {{320, 470}, {640, 480}}, {{160, 120}, {160, 120}},
        {{80, 60}, {80, 60}},     {{10, 10}, {80, 60}},
    };
    for (const auto& each : cases) {
        const QSize shown = each.shown;
        const QSize size = each.frame;
        SCOPED_TRACE(testing::Message() << shown.width() << "x" << shown.height());
        QImage frame;
        QSize pictureSize;
        const IoResult decoded = JpegToFrame(jpeg, shown, frame, &pictureSize);
        ASSERT_TRUE(decoded) << decoded.detail();
        EXPECT_EQ(frame.size(), size);
        EXPECT_EQ(frame.format(), QImage::Format_RGB32);
        EXPECT_EQ(pictureSize, QSize(640, 480));
        const auto at = [&](int x) {
            const QRgb pixel = frame.pixel(x, size.height() / 2);
            return Rgb{static_cast<std::uint8_t>(qRed(pixel)),
                       static_cast<std::uint8_t>(qGreen(pixel)),
                       static_cast<std::uint8_t>(qBlue(pixel))};
        };
        EXPECT_LE(Distance(at(size.width() / 4), {0xC8, 0x32, 0x14}), 6);
        EXPECT_LE(Distance(at(3 * size.width() / 4), {0x14, 0x50, 0xC8}), 6);
    }

    // A frame cut off in its picture data shows what arrived, like a video decoder's.
    QImage cut;
    EXPECT_TRUE(JpegToFrame(jpeg.first(jpeg.size() * 3 / 5), {320, 240}, cut));
    EXPECT_EQ(cut.size(), QSize(320, 240));
}

// Whatever a frame holds, the call fails cleanly and the frame before stays as it was.
TEST(JpegToFrame, RefusesWhatIsNoFrameAndKeepsTheFrameItHad) {
    std::vector<std::uint8_t> huge = outputtest::EncodeFlatJpeg(8, 8, 3, 10);
    const std::uint8_t marker[] = {0xFF, 0xC0};
    const auto sof = std::search(huge.begin(), huge.end(), std::begin(marker), std::end(marker));
    ASSERT_NE(sof, huge.end());
    // 65500 x 65500 in the frame header: too large whole, and at an eighth too.
    for (int i = 5; i < 9; ++i) {
        sof[i] = i % 2 == 1 ? 0xFF : 0xDC;
    }
    const std::string text = "this is not a picture";
    const std::vector<std::uint8_t> cmyk = outputtest::EncodeFlatJpeg(8, 8, 4, 10);
    const std::vector<std::uint8_t> good = outputtest::EncodeFlatJpeg(16, 8, 3, 10);
    const struct {
        const char* what;
        std::span<const std::uint8_t> jpeg;
        QSize shown;
        int error;
    } cases[] = {
        {"nothing", {}, {}, EBADMSG},
        {"text", {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, {}, EBADMSG},
        {"a header cut short", std::span(good).first(20), {}, EBADMSG},
        {"cmyk", cmyk, {}, ENOTSUP},
        {"huge", huge, {}, EFBIG},
        {"huge, shown small", huge, {100, 100}, EFBIG},
    };
    for (const auto& [what, jpeg, shown, error] : cases) {
        SCOPED_TRACE(what);
        QImage frame(3, 2, QImage::Format_RGB32);
        frame.fill(Qt::green);
        const QImage before = frame;
        const IoResult decoded = JpegToFrame(jpeg, shown, frame);
        EXPECT_EQ(decoded.error(), error);
        EXPECT_EQ(frame, before);
    }
}

}  // namespace
