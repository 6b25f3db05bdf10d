#pragma once

#include <cstddef>
#include <cstdint>

// A live frame as a still is written from it: 24-bit blue-green-red rows, bottom-up, each
// padded to a multiple of 4 bytes. A view: the bytes belong to whoever made it.
struct StillFrame {
    const std::uint8_t* pixels = nullptr;
    std::size_t sizeBytes = 0;       // the bytes of the picture (the frame header's biSizeImage)
    std::size_t availableBytes = 0;  // the bytes the buffer holds
    int width = 0;
    int height = 0;
};
