#pragma once

#include <cstddef>
#include <cstdint>

// The engine's display side: paints each frame and owns the off-screen surface it paints
// into.
class FrameDrawer {
public:
    virtual ~FrameDrawer() = default;
    // Streaming thread; must not block for long. `buffer` holds 24-bit blue-green-red rows,
    // top-down and padded to 4 bytes. Returns 1, or 0 for frame bits it cannot draw (none, or
    // fewer than `width` x `height` 24-bit rows).
    virtual int DrawFrame(const std::uint8_t* buffer, std::size_t lengthBytes, int width,
                          int height) = 0;
    // UI thread: lets go of the off-screen surface; the next paint makes a new, black one.
    virtual void ReleaseMemorySurface() {}
};
