#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "sim/picture_tables.h"
#include "sim/simulated_microscope.h"

namespace sim {

// The procedural specimen seen through the simulated microscope at one frame size.
//
// Construction renders the whole slide once: a texture larger than the frame (cells with
// nuclei and membranes, fibres, stain variation, soft focus) plus its detail plane for the
// sharpness control, the round illuminated field of the frame and a table of sensor noise.
// Composing a frame then only copies a slowly drifting, gently wobbling window out of the
// texture and runs it through the picture tables, so it costs a few operations per pixel.
//
// Immutable after construction: any number of threads may compose frames at once.
class Specimen {
public:
    // `size` must have a positive, even width and a positive height.
    explicit Specimen(FrameSize size);

    FrameSize size() const { return size_; }
    std::size_t FrameBytes() const;

    // Composes frame `index` into `yuy2` (2 * width * height bytes, top-down, unpadded).
    // The result depends only on `index` and `tables`. Writes no frame index code.
    void Compose(std::uint64_t index, const PictureTables& tables, std::uint8_t* yuy2) const;

private:
    struct WindowOrigin {
        int x = 0;
        int y = 0;
    };
    WindowOrigin OriginOf(std::uint64_t index) const;
    int RowWobble(int row, std::uint64_t index) const;
    void ComposeRow(int row, const WindowOrigin& origin, std::uint64_t index,
                    const PictureTables& tables, std::uint8_t* out) const;

    FrameSize size_;
    int driftPixels_ = 0;   // largest shift of the window from its centre position
    int wobblePixels_ = 0;  // largest extra shift of a single row
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    std::vector<std::uint8_t> luma_;     // textureWidth_ x textureHeight_
    std::vector<std::uint8_t> detail_;   // luma minus local mean, offset by 128
    std::vector<std::uint8_t> chromaU_;  // textureWidth_ / 2 x textureHeight_
    std::vector<std::uint8_t> chromaV_;
    std::vector<std::uint8_t> vignette_;  // frame-sized illumination, 255 = full
    std::vector<std::int8_t> noise_;      // sensor noise, read at a per-row offset
};

}  // namespace sim
