// Feeds arbitrary bytes to the bitmap file reader (whole, and a few rows at a time, which
// must agree), and the same bytes after the 14-byte file header to the row converter as a
// packed DIB.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "output/bmp_file.h"
#include "output/jpeg_codec.h"

namespace {

// Converts `dib` when it describes a picture lying wholly inside it; row storage is sized
// from the header only after DescribePackedDib has checked it against the block.
void ConvertRows(std::span<const std::uint8_t> dib) {
    const IoResultOf<DibLayout> layout = DescribePackedDib(dib);
    if (!layout) {
        // Nothing may be converted: a single pixel's row would be overrun.
        std::uint8_t row[3] = {};
        std::uint8_t* rows[1] = {row};
        static_cast<void>(DibRowsToRgb(dib, 3, rows));
        return;
    }
    const auto width = static_cast<std::size_t>(layout->header.biWidth);
    const auto height = static_cast<std::size_t>(layout->header.biHeight);
    std::vector<std::uint8_t> storage(3 * width * height);
    std::vector<std::uint8_t*> rows(height);
    for (std::size_t i = 0; i < height; ++i) {
        rows[i] = storage.data() + i * 3 * width;
    }
    if (!DibRowsToRgb(dib, static_cast<int>(3 * width), rows.data())) {
        __builtin_trap();
    }
}

// Reads the picture a few rows at a time, as the JPEG conversion does, and checks every
// band against the rows of the whole loaded picture.
void CompareBands(std::span<const std::uint8_t> bytes, const PackedDib& whole) {
    BitmapRowReader reader;
    if (!reader.Parse(bytes)) {
        __builtin_trap();  // the whole picture loaded
    }
    const std::size_t stride = reader.rowStrideBytes();
    const auto height = static_cast<std::uint32_t>(reader.height());
    if (stride != whole.layout().rowStrideBytes ||
        static_cast<std::int32_t>(height) != whole.layout().header.biHeight) {
        __builtin_trap();
    }
    const std::span<const std::uint8_t> rows = whole.Rows();
    std::vector<std::uint8_t> band(3 * stride);
    for (std::uint32_t top = 0; top < height; top += 3) {
        const std::uint32_t count = std::min<std::uint32_t>(3, height - top);
        if (!reader.ReadRows(top, count, band.data())) {
            __builtin_trap();
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            // The whole picture is stored bottom-up.
            const std::uint8_t* expected = rows.data() + (height - 1 - top - i) * stride;
            if (std::memcmp(band.data() + i * stride, expected, stride) != 0) {
                __builtin_trap();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    IoResultOf<PackedDib> load = ParseBitmapFile(bytes);
    if (load) {
        CompareBands(bytes, *load);
        const IoResultOf<PackedDib> dib = BitmapToPackedDib(*std::move(load), kBiRgb);
        if (!dib || !DescribePackedDib(dib->bytes())) {
            __builtin_trap();
        }
        ConvertRows(dib->bytes());
    }
    if (size > kBitmapFileHeaderBytes) {
        ConvertRows(bytes.subspan(kBitmapFileHeaderBytes));
    }
    return 0;
}
