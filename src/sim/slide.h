#pragma once

#include <cstdint>
#include <vector>

namespace sim {

// A stained slide painted into floating-point planes: luma (0..255) and the two chroma
// deviations from neutral. The slide's content is fixed (the same cells and fibres for every
// size); `scale` maps slide units to pixels, with the slide's origin at the planes' centre.
struct SlidePlanes {
    int width = 0;
    int height = 0;
    std::vector<float> luma;
    std::vector<float> u;
    std::vector<float> v;
};

// Paints the slide at `pixelsPerUnit` into planes of `width` x `height` and softens it as an
// objective slightly out of focus would. One frame of 640 slide units across is the view at
// the reference magnification.
SlidePlanes PaintSlide(int width, int height, double pixelsPerUnit);

}  // namespace sim
