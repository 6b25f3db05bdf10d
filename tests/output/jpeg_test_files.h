#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace outputtest {

// A JPEG of `components` (1 grey, 3 RGB, 4 CMYK) made straight with libjpeg, every sample
// `level`.
std::vector<std::uint8_t> EncodeFlatJpeg(int width, int height, int components, std::uint8_t level);

struct JpegFrame {
    bool baseline = false;  // SOF0 and no other frame type
    bool jfif = false;      // APP0 "JFIF" right after SOI
    int width = 0;
    int height = 0;
    int components = 0;
};

// Reads the markers up to the first scan.
JpegFrame InspectJpeg(const std::string& bytes);

}  // namespace outputtest
