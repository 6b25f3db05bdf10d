// Times the simulated microscope's frame rendering at its largest size against a plain memcpy
// of a frame of the same size, measured in the same run:
//   RenderFrame (1280 x 1024 YUY2, default properties, index code)  vs  memcpy of 2,621,440 bytes
// Also prints the one-off cost of rendering the slide for a new size and how much of a
// 30 fps frame period one frame takes.
//   sim_render_bench [frames]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sim/simulated_microscope.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr FrameSize kSize{1280, 1024};

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

template <typename Work>
double TimeMilliseconds(Work work) {
    const Clock::time_point start = Clock::now();
    work();
    return MillisecondsSince(start);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int frames = argc > 1 ? std::max(3, std::atoi(argv[1])) : 200;
    sim::SimulatedMicroscope device({sim::Kind::Camera, false});
    const std::size_t frameBytes = 2 * static_cast<std::size_t>(kSize.width) * kSize.height;
    std::vector<std::uint8_t> frame(frameBytes);
    std::vector<std::uint8_t> source(frameBytes, 0x5A);

    const Clock::time_point firstStart = Clock::now();
    device.RenderFrame(0, kSize, frame.data());
    const double firstFrameMs = MillisecondsSince(firstStart);

    // Interleaved, so that both see the same machine load.
    std::vector<double> renderMs;
    std::vector<double> copyMs;
    for (int i = 1; i <= frames; ++i) {
        renderMs.push_back(TimeMilliseconds(
            [&] { device.RenderFrame(static_cast<std::uint64_t>(i), kSize, frame.data()); }));
        copyMs.push_back(TimeMilliseconds([&] {
            source[static_cast<std::size_t>(i) % frameBytes] ^= 1;
            std::memcpy(frame.data(), source.data(), frameBytes);
        }));
    }
    const double render = Median(renderMs);
    const double copy = std::max(Median(copyMs), 1e-6);

    std::printf("frames: %d at %dx%d (medians)\n", frames, kSize.width, kSize.height);
    std::printf("memcpy of a frame:     %8.3f ms  (baseline)\n", copy);
    std::printf("RenderFrame:           %8.3f ms  = %.1f x memcpy, %.1f%% of a 30 fps period\n",
                render, render / copy, render * 30.0 / 10.0);
    std::printf("first frame of a size: %8.1f ms  = %.0f x memcpy (slide rendered once)\n",
                firstFrameMs, firstFrameMs / copy);
    return 0;
}
