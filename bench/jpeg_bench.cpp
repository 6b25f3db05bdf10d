// Times the program's JPEG conversions against libjpeg-turbo's own tools on the same files,
// measured in the same run:
//   BitmapFileToJpeg (1280 x 1024 24-bit BMP to JPEG, quality 100)  vs  cjpeg -quality 100
//   JpegFileToDib    (that JPEG into a 5,242,880-byte DIB buffer)     vs  djpeg
// The tools run as child processes started without a shell; each figure is the median of
// several interleaved rounds. Their times include starting a process, shown separately.
//   jpeg_bench [repetitions]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "bench_support.h"
#include "output/jpeg_codec.h"
#include "output/output_file.h"
#include "platform/bitmap_records.h"
#include "scratch_folder.h"

extern char** environ;

namespace {

constexpr std::int32_t kWidth = 1280;
constexpr std::int32_t kHeight = 1024;
constexpr std::size_t kViewerBufferBytes = 5'242'880;

using Clock = std::chrono::steady_clock;

// A 24-bit bottom-up bitmap file of a specimen-like picture: smooth shading, round cells
// and a little grain, so that the encoder has realistic work.
bool WriteSpecimenBitmap(const std::string& path) {
    const std::size_t stride = static_cast<std::size_t>(kWidth) * 3;
    std::vector<std::uint8_t> file(54 + stride * kHeight);
    BitmapFileHeader fileHeader;
    fileHeader.bfType = kBitmapFileType;
    fileHeader.bfSize = static_cast<std::uint32_t>(file.size());
    fileHeader.bfOffBits = 54;
    WriteBitmapFileHeader(fileHeader, std::span(file).first<kBitmapFileHeaderBytes>());
    BitmapInfoHeader info;
    info.biSize = 40;
    info.biWidth = kWidth;
    info.biHeight = kHeight;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biSizeImage = static_cast<std::uint32_t>(stride * kHeight);
    WriteBitmapInfoHeader(info, std::span(file).subspan(14).first<kBitmapInfoHeaderBytes>());
    std::uint32_t noise = 12345;
    for (std::int32_t y = 0; y < kHeight; ++y) {
        std::uint8_t* row = file.data() + 54 + static_cast<std::size_t>(y) * stride;
        for (std::int32_t x = 0; x < kWidth; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const double grain = static_cast<double>(noise >> 28) - 7.5;
            const double cell = std::sin(x / 23.0) * std::cos(y / 19.0);
            const double shade = cell > 0.6 ? 90 * (cell - 0.6) / 0.4 : 0;
            const auto level = [&](double base) {
                return static_cast<std::uint8_t>(std::clamp(base + grain, 0.0, 255.0));
            };
            row[3 * x] = level(200 + 30 * std::sin(y / 90.0) - 0.2 * shade);
            row[3 * x + 1] = level(180 + 25 * std::cos(x / 120.0) - 0.6 * shade);
            row[3 * x + 2] = level(210 - shade);
        }
    }
    OutputFile out;
    return out.Create(path) && out.Write(file.data(), file.size()) && out.Commit();
}

// Runs `argv` as a child process with standard output and error sent to /dev/null.
bool RunTool(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return error == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

// One timed step and the wall times of its runs, in milliseconds.
struct Step {
    std::function<bool()> run;
    std::vector<double> timesMs = {};
};

// Runs every step once per round, `rounds` times, so that a change in the machine's load
// falls on all of them alike. False when a run failed.
bool RunInterleaved(int rounds, std::vector<Step>& steps) {
    for (int round = 0; round < rounds; ++round) {
        for (Step& step : steps) {
            const Clock::time_point start = Clock::now();
            if (!step.run()) {
                return false;
            }
            step.timesMs.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    }
    return true;
}

bool SameContent(const std::string& a, const std::string& b) {
    std::ifstream first(a, std::ios::binary);
    std::ifstream second(b, std::ios::binary);
    return std::equal(std::istreambuf_iterator<char>(first), std::istreambuf_iterator<char>(),
                      std::istreambuf_iterator<char>(second), std::istreambuf_iterator<char>());
}

void Report(const char* what, double oursMs, const char* tool, double toolMs, double startMs) {
    std::printf("%-34s %8.2f ms   %-22s %8.2f ms   ratio %.3f   (without process start %.3f)\n",
                what, oursMs, tool, toolMs, oursMs / toolMs, oursMs / (toolMs - startMs));
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const bench::ScratchFolder folder("jpeg_bench");
    const std::string bmp = folder / "specimen.bmp";
    const std::string ours = folder / "ours.jpg";
    const std::string theirs = folder / "cjpeg.jpg";
    if (!folder.ok() || !WriteSpecimenBitmap(bmp)) {
        std::fprintf(stderr, "cannot write the test bitmap\n");
        return 1;
    }
    std::vector<std::uint8_t> dib(kViewerBufferBytes);
    std::size_t imageBytes = 0;

    // One untimed round of each warms the caches and checks that everything works.
    const IoResult encoded = BitmapFileToJpeg(bmp, ours);
    if (!encoded || !JpegFileToDib(ours, dib, &imageBytes) ||
        !RunTool({"cjpeg", "-quality", "100", "-outfile", theirs, bmp}) ||
        !RunTool({"djpeg", "-outfile", "/dev/null", ours})) {
        std::fprintf(stderr, "a conversion failed (%s); are cjpeg and djpeg installed?\n",
                     encoded.detail().c_str());
        return 1;
    }

    std::vector<Step> steps;
    steps.push_back({[] { return RunTool({"cjpeg", "-version"}); }});
    steps.push_back({[&] { return BitmapFileToJpeg(bmp, ours).ok(); }});
    steps.push_back({[&] {
        return RunTool({"cjpeg", "-quality", "100", "-outfile", theirs, bmp});
    }});
    steps.push_back({[&] { return JpegFileToDib(ours, dib, &imageBytes).ok(); }});
    steps.push_back({[&] { return RunTool({"djpeg", "-outfile", "/dev/null", ours}); }});
    if (!RunInterleaved(repetitions, steps)) {
        std::fprintf(stderr, "a timed run failed\n");
        return 1;
    }
    const double startMs = bench::Median(steps[0].timesMs);
    const double encodeMs = bench::Median(steps[1].timesMs);
    const double cjpegMs = bench::Median(steps[2].timesMs);
    const double decodeMs = bench::Median(steps[3].timesMs);
    const double djpegMs = bench::Median(steps[4].timesMs);

    std::printf(
        "1280 x 1024, 24 bits, quality 100; medians of %d interleaved rounds; "
        "process start %.2f ms\n",
        repetitions, startMs);
    std::printf("JPEG files: ours %ju bytes, cjpeg %ju bytes, %s\n",
                static_cast<std::uintmax_t>(std::filesystem::file_size(ours)),
                static_cast<std::uintmax_t>(std::filesystem::file_size(theirs)),
                SameContent(ours, theirs) ? "identical" : "different");
    Report("BitmapFileToJpeg", encodeMs, "cjpeg -quality 100", cjpegMs, startMs);
    Report("JpegFileToDib", decodeMs, "djpeg", djpegMs, startMs);
    return 0;
}
