// Peak memory of converting large bitmap files to JPEG, against the size of the files
// themselves and against libjpeg-turbo's cjpeg on the same 24-bit file, measured in the
// same run:
//   a 20000 x 20000 1-bit bitmap (50 MB)      ConvertBitmapFileToJpeg
//   a 6000 x 6000 24-bit bitmap (108 MB)      ConvertBitmapFileToJpeg  vs  cjpeg -quality 100
// Each conversion runs in a child process of its own; its peak resident size comes from
// wait4(). A child that converts nothing gives the size of the program itself, which is
// taken off the figures in brackets.
//   bmp_memory_bench
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "output/jpeg_codec.h"
#include "output/output_file.h"
#include "platform/bitmap_records.h"
#include "scratch_folder.h"

extern char** environ;

namespace {

// Writes a bottom-up bitmap file row by row: `pixel(x, y)` gives the bits of a pixel (an
// index for 1 bit, blue-green-red packed as 0xRRGGBB for 24 bits).
bool WriteBitmap(const std::string& path, std::int32_t width, std::int32_t height,
                 unsigned bitCount, const std::function<std::uint32_t(int, int)>& pixel) {
    const std::size_t stride = DibRowStrideBytes(static_cast<std::uint32_t>(width), bitCount);
    const std::size_t tableBytes = bitCount == 1 ? 8 : 0;
    const std::size_t headerBytes = 54 + tableBytes;
    std::vector<std::uint8_t> header(headerBytes, 0);
    BitmapFileHeader fileHeader;
    fileHeader.bfType = kBitmapFileType;
    fileHeader.bfSize = static_cast<std::uint32_t>(headerBytes + stride * height);
    fileHeader.bfOffBits = static_cast<std::uint32_t>(headerBytes);
    WriteBitmapFileHeader(fileHeader, std::span(header).first<kBitmapFileHeaderBytes>());
    BitmapInfoHeader info;
    info.biSize = 40;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = static_cast<std::uint16_t>(bitCount);
    WriteBitmapInfoHeader(info, std::span(header).subspan(14).first<kBitmapInfoHeaderBytes>());
    if (bitCount == 1) {
        const std::uint8_t table[8] = {40, 20, 10, 0, 230, 240, 250, 0};
        std::copy(std::begin(table), std::end(table), header.begin() + 54);
    }
    OutputFile out;
    if (!out.Create(path) || !out.Write(header.data(), header.size())) {
        return false;
    }
    std::vector<std::uint8_t> row(stride);
    for (std::int32_t stored = 0; stored < height; ++stored) {
        const int y = height - 1 - stored;
        std::fill(row.begin(), row.end(), 0);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t value = pixel(x, y);
            if (bitCount == 1) {
                row[static_cast<std::size_t>(x / 8)] |=
                    static_cast<std::uint8_t>((value & 1) << (7 - x % 8));
            } else {
                row[3 * static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(value);
                row[3 * static_cast<std::size_t>(x) + 1] = static_cast<std::uint8_t>(value >> 8);
                row[3 * static_cast<std::size_t>(x) + 2] = static_cast<std::uint8_t>(value >> 16);
            }
        }
        if (!out.Write(row.data(), row.size())) {
            return false;
        }
    }
    return out.Commit().ok();
}

// Peak resident size in bytes of a finished child, or -1 when it failed.
long WaitForPeak(pid_t pid) {
    int status = 0;
    struct rusage usage = {};
    if (pid <= 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return usage.ru_maxrss * 1024L;
}

// Runs `work` in a forked child; its peak resident size.
long PeakOfChild(const std::function<bool()>& work) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(work() ? 0 : 1);
    }
    return WaitForPeak(pid);
}

long PeakOfTool(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (std::string& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
        return -1;
    }
    return WaitForPeak(pid);
}

double MiB(long bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

}  // namespace

int main() {
    const bench::ScratchFolder folder("bmp_memory_bench");
    const std::string oneBit = folder / "one_bit.bmp";
    const std::string rgb = folder / "rgb.bmp";
    const std::string jpeg = folder / "out.jpg";
    const auto stripes = [](int x, int y) {
        return static_cast<std::uint32_t>((x / 7 + y / 5) & 1);
    };
    const auto shading = [](int x, int y) {
        return static_cast<std::uint32_t>(((x / 16) & 0xFF) << 16 | ((y / 16) & 0xFF) << 8 |
                                          ((x + y) & 0xFF));
    };
    if (!folder.ok() || !WriteBitmap(oneBit, 20000, 20000, 1, stripes) ||
        !WriteBitmap(rgb, 6000, 6000, 24, shading)) {
        std::fprintf(stderr, "cannot write the test bitmaps\n");
        return 1;
    }
    const auto convert = [&jpeg](const std::string& bmp) {
        return [&jpeg, bmp] { return ConvertBitmapFileToJpeg(bmp, jpeg, 100).ok(); };
    };
    const long idle = PeakOfChild([] { return true; });
    const long oneBitPeak = PeakOfChild(convert(oneBit));
    const long rgbPeak = PeakOfChild(convert(rgb));
    const long cjpegPeak = PeakOfTool({"cjpeg", "-quality", "100", "-outfile", jpeg, rgb});
    if (idle < 0 || oneBitPeak < 0 || rgbPeak < 0 || cjpegPeak < 0) {
        std::fprintf(stderr, "a conversion failed; is cjpeg installed?\n");
        return 1;
    }
    const long oneBitFile = static_cast<long>(std::filesystem::file_size(oneBit));
    const long rgbFile = static_cast<long>(std::filesystem::file_size(rgb));
    std::printf("peak resident size of a child that converts nothing: %.1f MiB\n", MiB(idle));
    std::printf(
        "20000 x 20000, 1 bit, %.1f MiB file: peak %.1f MiB, ratio to the file %.3f "
        "(converting alone %.1f MiB, ratio %.3f)\n",
        MiB(oneBitFile), MiB(oneBitPeak),
        static_cast<double>(oneBitPeak) / static_cast<double>(oneBitFile), MiB(oneBitPeak - idle),
        static_cast<double>(oneBitPeak - idle) / static_cast<double>(oneBitFile));
    std::printf(
        "6000 x 6000, 24 bits, %.1f MiB file: peak %.1f MiB, ratio to the file %.3f "
        "(converting alone %.1f MiB, ratio %.3f)\n",
        MiB(rgbFile), MiB(rgbPeak), static_cast<double>(rgbPeak) / static_cast<double>(rgbFile),
        MiB(rgbPeak - idle), static_cast<double>(rgbPeak - idle) / static_cast<double>(rgbFile));
    std::printf("cjpeg -quality 100 on the 24-bit file: peak %.1f MiB; ours / cjpeg %.3f\n",
                MiB(cjpegPeak), static_cast<double>(rgbPeak) / static_cast<double>(cjpegPeak));
    return 0;
}
