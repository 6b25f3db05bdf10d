// DibRowsToRgb: packed DIB rows of every depth to the encoder's red-green-blue rows.
#include <optional>

#include "output/jpeg_codec.h"
#include "output/packed_dib.h"

namespace {

struct Rgb {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
};

using Palette = std::array<Rgb, 256>;

Palette ReadPalette(std::span<const std::uint8_t> dib, const DibLayout& layout) {
    Palette palette{};
    const std::uint8_t* entry = dib.data() + layout.colourTableOffset;
    for (std::size_t i = 0; i < layout.colourTableEntries; ++i, entry += kRgbQuadBytes) {
        palette[i] = Rgb{entry[2], entry[1], entry[0]};
    }
    return palette;
}

void Put(std::uint8_t* out, Rgb colour) {
    out[0] = colour.red;
    out[1] = colour.green;
    out[2] = colour.blue;
}

// Pixels of 1, 4 or 8 bits, packed from the most significant bit of each byte.
void IndexedRow(const std::uint8_t* in, std::uint8_t* out, std::size_t width, unsigned bitCount,
                const Palette& palette) {
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
    const Palette palette = ReadPalette(dib, layout);
    for (std::size_t i = 0; i < height; ++i) {
        const std::uint8_t* in =
            dib.data() + layout.rowsOffset + (height - 1 - i) * layout.rowStrideBytes;
        std::uint8_t* out = rows[i];
        if (bitCount <= 8) {
            IndexedRow(in, out, width, bitCount, palette);
        } else if (bitCount == 16) {
            FiveBitRow(in, out, width);
        } else {
            DirectRow(in, out, width, bitCount / 8);
        }
    }
}

bool Fail(std::string* errorText, const char* text) {
    if (errorText != nullptr) {
        *errorText = text;
    }
    return false;
}

}  // namespace

bool DibRowsToRgb(std::span<const std::uint8_t> dib, int rowLengthBytes, std::uint8_t* const* rows,
                  std::string* errorText) {
    if (dib.data() == nullptr || dib.size() < kBitmapInfoHeaderBytes || rowLengthBytes <= 0 ||
        rows == nullptr) {
        return Fail(errorText, kInvalidInputData);
    }
    const BitmapInfoHeader header = ReadBitmapInfoHeader(dib.first<kBitmapInfoHeaderBytes>());
    if (!IsSupportedBitCount(header.biBitCount)) {
        return Fail(errorText, kInvalidBitCount);
    }
    if (header.biHeight <= 0) {
        return true;
    }
    const std::optional<DibLayout> layout = DescribePackedDib(dib);
    if (!layout || static_cast<std::uint64_t>(rowLengthBytes) <
                       3 * static_cast<std::uint64_t>(layout->header.biWidth)) {
        return Fail(errorText, kInvalidInputData);
    }
    ConvertRows(dib, *layout, rows);
    return true;
}
