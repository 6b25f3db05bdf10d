#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "sim/simulated_microscope.h"

// Helpers that look at YUY2 frames the way the program's converters and users do.
namespace simtest {

// One YUY2 frame with its size.
struct Yuy2Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bytes;

    std::uint8_t Luma(int x, int y) const {
        return bytes[2 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                          static_cast<std::size_t>(x))];
    }
    // U of the pixel pair holding (x, y).
    std::uint8_t U(int x, int y) const { return bytes[PairStart(x, y) + 1]; }
    std::uint8_t V(int x, int y) const { return bytes[PairStart(x, y) + 3]; }

private:
    std::size_t PairStart(int x, int y) const {
        return 2 * (static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                    static_cast<std::size_t>(x & ~1));
    }
};

inline Yuy2Frame Render(const sim::SimulatedMicroscope& device, std::uint64_t index,
                        FrameSize size) {
    Yuy2Frame frame{size.width, size.height, {}};
    frame.bytes.assign(
        2 * static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height), 0);
    device.RenderFrame(index, size, frame.bytes.data());
    return frame;
}

// Converts one row to blue-green-red with BT.601 limited-range coefficients in integer
// arithmetic. Chroma of odd pixels is the mean of the neighbouring pairs, as converters that
// interpolate chroma do, so cell edges blend like they would in the real pipeline.
inline std::vector<std::uint8_t> RowToBgr(const Yuy2Frame& frame, int y) {
    std::vector<std::uint8_t> bgr(3 * static_cast<std::size_t>(frame.width));
    auto clip = [](int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); };
    for (int x = 0; x < frame.width; ++x) {
        int u = frame.U(x, y);
        int v = frame.V(x, y);
        if ((x & 1) != 0 && x + 1 < frame.width) {
            u = (u + frame.U(x + 1, y) + 1) / 2;
            v = (v + frame.V(x + 1, y) + 1) / 2;
        }
        const int c = frame.Luma(x, y) - 16;
        const int d = u - 128;
        const int e = v - 128;
        std::uint8_t* pixel = &bgr[3 * static_cast<std::size_t>(x)];
        pixel[0] = clip((298 * c + 516 * d + 128) >> 8);
        pixel[1] = clip((298 * c - 100 * d - 208 * e + 128) >> 8);
        pixel[2] = clip((298 * c + 409 * e + 128) >> 8);
    }
    return bgr;
}

// Statistics over the middle half of the frame (both directions), where the field is lit.
struct CentreStats {
    double meanLuma = 0.0;
    double lumaDeviation = 0.0;  // standard deviation
    double meanU = 0.0;          // mean deviation from neutral, signed
    double meanV = 0.0;
    double chromaMagnitude = 0.0;  // mean of |U - 128| + |V - 128|
    double edgeEnergy = 0.0;       // mean squared horizontal luma step
};

inline CentreStats MeasureCentre(const Yuy2Frame& frame) {
    CentreStats stats;
    double sum = 0.0;
    double squares = 0.0;
    double count = 0.0;
    for (int y = frame.height / 4; y < frame.height * 3 / 4; ++y) {
        for (int x = frame.width / 4; x < frame.width * 3 / 4; ++x) {
            const double luma = frame.Luma(x, y);
            const double u = frame.U(x, y) - 128.0;
            const double v = frame.V(x, y) - 128.0;
            sum += luma;
            squares += luma * luma;
            stats.meanU += u;
            stats.meanV += v;
            stats.chromaMagnitude += std::abs(u) + std::abs(v);
            const double step = luma - frame.Luma(x + 1, y);
            stats.edgeEnergy += step * step;
            count += 1.0;
        }
    }
    stats.meanLuma = sum / count;
    stats.lumaDeviation = std::sqrt(squares / count - stats.meanLuma * stats.meanLuma);
    stats.meanU /= count;
    stats.meanV /= count;
    stats.chromaMagnitude /= count;
    stats.edgeEnergy /= count;
    return stats;
}

// Mean absolute luma difference of two frames of the same size, below the index code rows.
inline double MeanLumaDifference(const Yuy2Frame& a, const Yuy2Frame& b) {
    double total = 0.0;
    double count = 0.0;
    for (int y = sim::kIndexCellPixels; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            total += std::abs(int{a.Luma(x, y)} - int{b.Luma(x, y)});
            count += 1.0;
        }
    }
    return total / count;
}

}  // namespace simtest
