// The frame index code: 32 cells of kIndexCellPixels pixels at the start of a row, white for
// a 1 bit and black for a 0 bit, most significant bit first.

#include <cstddef>

#include "sim/simulated_microscope.h"

namespace sim {
namespace {

constexpr int kIndexBits = 32;
constexpr int kCodeWidth = kIndexBits * kIndexCellPixels;
constexpr std::uint8_t kWhiteLuma = 235;
constexpr std::uint8_t kBlackLuma = 16;
constexpr std::uint8_t kNeutralChroma = 128;
// Grey levels (mean of blue, green and red) a converted cell must reach to count as light or
// dark; anything between is no code. Wide margins survive limited- or full-range conversion,
// chroma bleeding at cell edges and lossy compression.
constexpr int kLightAtLeast = 160;
constexpr int kDarkAtMost = 96;
// Only the middle pixels of a cell are read: the edges may blend with their neighbours.
constexpr int kCellMarginPixels = 2;

static_assert(kIndexCellPixels % 2 == 0, "cells must cover whole YUY2 pixel pairs");
static_assert(kIndexCellPixels > 2 * kCellMarginPixels);

}  // namespace

void WriteFrameIndex(std::uint8_t* yuy2TopRow, int width, std::uint32_t index) {
    if (yuy2TopRow == nullptr || width < kCodeWidth) {
        return;
    }
    std::uint8_t* out = yuy2TopRow;
    for (int bit = kIndexBits - 1; bit >= 0; --bit) {
        const std::uint8_t luma = ((index >> bit) & 1u) != 0 ? kWhiteLuma : kBlackLuma;
        for (int pair = 0; pair < kIndexCellPixels / 2; ++pair) {
            out[0] = luma;
            out[1] = kNeutralChroma;
            out[2] = luma;
            out[3] = kNeutralChroma;
            out += 4;
        }
    }
}

std::optional<std::uint32_t> ReadFrameIndexBgr(const std::uint8_t* bgrRow, int width) {
    if (bgrRow == nullptr || width < kCodeWidth) {
        return std::nullopt;
    }
    std::uint32_t index = 0;
    for (int cell = 0; cell < kIndexBits; ++cell) {
        int sum = 0;
        int samples = 0;
        for (int x = kCellMarginPixels; x < kIndexCellPixels - kCellMarginPixels; ++x) {
            const std::uint8_t* pixel =
                bgrRow + 3 * static_cast<std::size_t>(cell * kIndexCellPixels + x);
            sum += pixel[0] + pixel[1] + pixel[2];
            samples += 3;
        }
        const int grey = sum / samples;
        if (grey >= kLightAtLeast) {
            index = (index << 1) | 1u;
        } else if (grey <= kDarkAtMost) {
            index <<= 1;
        } else {
            return std::nullopt;
        }
    }
    return index;
}

}  // namespace sim
