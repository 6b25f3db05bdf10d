// DibRowsToRgb: packed DIB rows of every depth to the encoder's red-green-blue rows.
#include <algorithm>
#include <cerrno>

#include "output/dib_row_convert.h"
#include "output/jpeg_codec.h"
#include "output/packed_dib.h"

namespace {

using Rgb = RgbPalette::value_type;

void Put(std::uint8_t* out, const Rgb& colour) {
    out[0] = colour[0];
    out[1] = colour[1];
    out[2] = colour[2];
}

// Pixels of 1, 4 or 8 bits, packed from the most significant bit of each byte.
void IndexedRow(const std::uint8_t* in, std::uint8_t* out, std::size_t width, unsigned bitCount,
                const RgbPalette& palette) {
    const unsigned perByte = 8 / bitCount;
    const unsigned mask = (1u << bitCount) - 1;
    for (std::size_t x = 0; x < width; ++x) {
        const unsigned shift = 8 - bitCount * (1 + static_cast<unsigned>(x % perByte));
        Put(out + 3 * x, palette[(in[x / perByte] >> shift) & mask]);
    }
}

void FiveBitRow(const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x) {
        const unsigned word = in[2 * x] | (in[2 * x + 1] << 8);
        Put(out + 3 * x, Rgb{FiveBitLevels[(word >> 10) & 31], FiveBitLevels[(word >> 5) & 31],
                             FiveBitLevels[word & 31]});
    }
}

// Blue, green, red in the first three of every `pixelBytes` bytes.
void DirectRow(const std::uint8_t* in, std::uint8_t* out, std::size_t width,
               std::size_t pixelBytes) {
    for (std::size_t x = 0; x < width; ++x, in += pixelBytes, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

void ConvertRows(std::span<const std::uint8_t> dib, const DibLayout& layout,
                 std::uint8_t* const* rows) {
    const unsigned bitCount = layout.header.biBitCount;
    const auto width = static_cast<std::size_t>(layout.header.biWidth);
    const auto height = static_cast<std::size_t>(layout.header.biHeight);
    const RgbPalette palette = ReadRgbPalette(
        dib.subspan(layout.colourTableOffset, layout.colourTableEntries * kRgbQuadBytes));
    for (std::size_t i = 0; i < height; ++i) {
        DibRowToRgb(dib.data() + layout.rowsOffset + (height - 1 - i) * layout.rowStrideBytes,
                    rows[i], width, bitCount, palette);
    }
}

}  // namespace

RgbPalette ReadRgbPalette(std::span<const std::uint8_t> colourTable) {
    RgbPalette palette{};
    const std::size_t entries = std::min<std::size_t>(colourTable.size() / kRgbQuadBytes, 256);
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint8_t* entry = colourTable.data() + i * kRgbQuadBytes;
        palette[i] = Rgb{entry[2], entry[1], entry[0]};
    }
    return palette;
}

void DibRowToRgb(const std::uint8_t* in, std::uint8_t* out, std::size_t width, unsigned bitCount,
                 const RgbPalette& palette) {
    if (bitCount <= 8) {
        IndexedRow(in, out, width, bitCount, palette);
    } else if (bitCount == 16) {
        FiveBitRow(in, out, width);
    } else {
        DirectRow(in, out, width, bitCount / 8);
    }
}

IoResult DibRowsToRgb(std::span<const std::uint8_t> dib, int rowLengthBytes,
                      std::uint8_t* const* rows) {
    if (dib.data() == nullptr || dib.size() < kBitmapInfoHeaderBytes || rowLengthBytes <= 0 ||
        rows == nullptr) {
        return IoResult(EINVAL, kInvalidInputData);
    }
    const BitmapInfoHeader header = ReadBitmapInfoHeader(dib.first<kBitmapInfoHeaderBytes>());
    if (!IsSupportedBitCount(header.biBitCount)) {
        return IoResult(EINVAL, kInvalidBitCount);
    }
    if (header.biHeight <= 0) {
        return {};
    }
    const IoResultOf<DibLayout> layout = DescribePackedDib(dib);
    if (!layout || static_cast<std::uint64_t>(rowLengthBytes) <
                       3 * static_cast<std::uint64_t>(layout->header.biWidth)) {
        return IoResult(EINVAL, kInvalidInputData);
    }
    ConvertRows(dib, *layout, rows);
    return {};
}
