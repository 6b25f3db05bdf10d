#pragma once

// Turning one stored row of a packed DIB into red, green, blue: shared by DibRowsToRgb and
// the encoder, which converts a picture a row at a time. Only for src/output.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Colour-table entries as red, green, blue; entries not given are black.
using RgbPalette = std::array<std::array<std::uint8_t, 3>, 256>;

// Reads up to 256 entries of blue, green, red, reserved.
RgbPalette ReadRgbPalette(std::span<const std::uint8_t> colourTable);

// Writes `width` pixels of red, green, blue to `out` from the stored row `in` of
// `bitCount` (1, 4, 8, 16, 24 or 32) bits per pixel: indexed pixels through `palette`,
// 16-bit pixels as 5-5-5 through FiveBitLevels. Any thread.
void DibRowToRgb(const std::uint8_t* in, std::uint8_t* out, std::size_t width, unsigned bitCount,
                 const RgbPalette& palette);
