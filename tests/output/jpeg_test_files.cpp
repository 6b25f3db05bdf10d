#include "output/jpeg_test_files.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>

// clang-format off: jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>
// clang-format on

namespace outputtest {

std::vector<std::uint8_t> EncodeFlatJpeg(int width, int height, int components,
                                         std::uint8_t level) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long sizeBytes = 0;
    jpeg_mem_dest(&cinfo, &buffer, &sizeBytes);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width * components), level);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(buffer, buffer + sizeBytes);
    std::free(buffer);
    return bytes;
}

JpegFrame InspectJpeg(const std::string& bytes) {
    JpegFrame frame;
    const auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    if (bytes.size() < 4 || at(0) != 0xFF || at(1) != 0xD8) {
        return frame;
    }
    frame.jfif =
        bytes.size() > 11 && at(3) == 0xE0 && bytes.compare(6, 5, std::string("JFIF\0", 5)) == 0;
    bool onlySof0 = true;
    bool sawSof0 = false;
    std::size_t i = 2;
    while (i + 4 <= bytes.size() && at(i) == 0xFF) {
        const std::uint8_t marker = at(i + 1);
        const std::size_t length = std::size_t{at(i + 2)} << 8 | at(i + 3);
        if (marker == 0xDA) {
            break;
        }
        if (marker == 0xC0 && i + 10 <= bytes.size()) {
            sawSof0 = true;
            frame.height = at(i + 5) << 8 | at(i + 6);
            frame.width = at(i + 7) << 8 | at(i + 8);
            frame.components = at(i + 9);
        } else if (marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                   marker != 0xCC) {
            onlySof0 = false;
        }
        i += 2 + length;
    }
    frame.baseline = sawSof0 && onlySof0;
    return frame;
}

}  // namespace outputtest
