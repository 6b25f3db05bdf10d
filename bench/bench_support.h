#pragma once

// Small pieces the benchmarks share.

#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace bench {

// User and system CPU time of the whole process, threads that ended included.
inline std::uint64_t ProcessCpuNanoseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto nanoseconds = [](const timeval& time) {
        return static_cast<std::uint64_t>(time.tv_sec) * 1000000000u +
               static_cast<std::uint64_t>(time.tv_usec) * 1000u;
    };
    return nanoseconds(usage.ru_utime) + nanoseconds(usage.ru_stime);
}

// The middle value (the upper one of an even count); 0 for none.
inline double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Sizes the display, turns all four overlays on and shows it: the display as a user at the
// bench has it, with the cross, the grid, the circles and the clock over the live picture.
template <typename Display>
void ShowWithAllOverlays(Display& display, int width, int height) {
    display.resize(width, height);
    auto& overlays = display.overlays();
    overlays.showClock = 1;
    overlays.showCrossLine = 1;
    overlays.showGrid = 1;
    overlays.showCircles = 1;
    display.show();
}

}  // namespace bench
