#pragma once

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <vector>

// Stretches 24-bit blue-green-red frames (rows top-down, padded to 4 bytes) over a whole
// 32-bit image, without keeping the aspect ratio, by taking for each target pixel the
// source pixel under its centre. Keeps the column table of the last sizes it saw; one
// thread at a time.
class NearestScaler {
public:
    // `target` must be Format_RGB32 and not empty. False, with `target` untouched, when the
    // frame has no area or `lengthBytes` is short of its rows.
    bool Scale(const std::uint8_t* frame, std::size_t lengthBytes, int width, int height,
               QImage& target);

private:
    void PrepareColumns(int sourceWidth, int targetWidth);

    std::vector<std::uint32_t> columnOffsets_;  // byte offset in a source row per target column
    int wordColumns_ = 0;  // the leading columns whose pixel and one byte more lie in the row
    int sourceWidth_ = 0;
    int targetWidth_ = 0;
};
