// Feeds arbitrary bytes to the bitmap file reader, and the same bytes after the 14-byte
// file header to the row converter as a packed DIB.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "output/bmp_file.h"
#include "output/jpeg_codec.h"

namespace {

// Converts `dib` when it describes a picture lying wholly inside it; row storage is sized
// from the header only after DescribePackedDib has checked it against the block.
void ConvertRows(std::span<const std::uint8_t> dib) {
    const std::optional<DibLayout> layout = DescribePackedDib(dib);
    if (!layout) {
        // Nothing may be converted: a single pixel's row would be overrun.
        std::uint8_t row[3] = {};
        std::uint8_t* rows[1] = {row};
        std::string error;
        DibRowsToRgb(dib, 3, rows, &error);
        return;
    }
    const auto width = static_cast<std::size_t>(layout->header.biWidth);
    const auto height = static_cast<std::size_t>(layout->header.biHeight);
    std::vector<std::uint8_t> storage(3 * width * height);
    std::vector<std::uint8_t*> rows(height);
    for (std::size_t i = 0; i < height; ++i) {
        rows[i] = storage.data() + i * 3 * width;
    }
    std::string error;
    if (!DibRowsToRgb(dib, static_cast<int>(3 * width), rows.data(), &error)) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    BitmapLoad load = ParseBitmapFile(bytes);
    if (load.error == 0) {
        const std::optional<PackedDib> dib = BitmapToPackedDib(std::move(load.bitmap), kBiRgb);
        if (!dib || !DescribePackedDib(dib->bytes())) {
            __builtin_trap();
        }
        ConvertRows(dib->bytes());
    } else if (!load.bitmap.empty()) {
        __builtin_trap();
    }
    if (size > kBitmapFileHeaderBytes) {
        ConvertRows(bytes.subspan(kBitmapFileHeaderBytes));
    }
    return 0;
}
