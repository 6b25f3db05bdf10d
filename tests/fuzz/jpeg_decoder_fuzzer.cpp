// Feeds arbitrary bytes to the JPEG decoder as the content of a JPEG file, decoding into a
// buffer that ends exactly where the sanitizer would notice a write past it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "platform/bitmap_records.h"
#include "output/jpeg_codec.h"

namespace {
constexpr std::size_t kBufferBytes = 1 << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::vector<std::uint8_t> dib(kBufferBytes);
    if (size == 0) {
        return 0;
    }
    std::FILE* stream = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (stream == nullptr) {
        return 0;
    }
    std::size_t imageBytes = 0;
    const IoResult result = JpegStreamToDib(stream, dib, &imageBytes);
    std::fclose(stream);
    if (result) {
        const BitmapInfoHeader header =
            ReadBitmapInfoHeader(std::span(dib).first<kBitmapInfoHeaderBytes>());
        const std::size_t stride = (3 * static_cast<std::size_t>(header.biWidth) + 3) & ~3u;
        if (header.biBitCount != 24 || header.biWidth <= 0 || header.biHeight <= 0 ||
            stride * static_cast<std::size_t>(header.biHeight) != imageBytes ||
            imageBytes > kBufferBytes - kDecodedRowsOffset) {
            __builtin_trap();
        }
    }
    return 0;
}
