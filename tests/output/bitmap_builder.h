#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bitmap_records.h"

namespace outputtest {

// The parts of a bitmap file or packed DIB a test wants to state; everything else follows.
struct BitmapLayout {
    std::int32_t width = 0;
    std::int32_t height = 0;  // negative: rows stored top-down
    unsigned bitCount = 24;
    std::uint32_t compression = kBiRgb;
    std::uint32_t clrUsed = 0;
    std::vector<std::uint8_t> colourTable = {};  // 4 bytes per entry, as stored
    std::vector<std::uint8_t> rows = {};         // as stored, padded rows
};

std::size_t StrideOf(std::int32_t width, unsigned bitCount);

// A packed DIB: 40-byte header, the colour table, the rows.
std::vector<std::uint8_t> MakeDib(const BitmapLayout& layout);

// A whole bitmap file: 14-byte file header with bfOffBits just after the colour table,
// then the packed DIB.
std::vector<std::uint8_t> MakeBitmapFile(const BitmapLayout& layout);

// A 24-bit bottom-up DIB whose pixel at (x, y), y counted from the top row, is `colour(x, y)`
// as red, green, blue.
template <typename Colour>
std::vector<std::uint8_t> MakeRgbDib(std::int32_t width, std::int32_t height, Colour colour) {
    BitmapLayout layout;
    layout.width = width;
    layout.height = height;
    const std::size_t stride = StrideOf(width, 24);
    layout.rows.assign(stride * static_cast<std::size_t>(height), 0);
    for (std::int32_t y = 0; y < height; ++y) {
        std::uint8_t* row = layout.rows.data() + static_cast<std::size_t>(height - 1 - y) * stride;
        for (std::int32_t x = 0; x < width; ++x) {
            const auto [red, green, blue] = colour(x, y);
            row[3 * x] = blue;
            row[3 * x + 1] = green;
            row[3 * x + 2] = red;
        }
    }
    return MakeDib(layout);
}

std::string AsString(const std::vector<std::uint8_t>& bytes);

}  // namespace outputtest
