#pragma once

#include <cstddef>
#include <cstdint>

// Takes each frame while a recording runs (streaming thread; must not block). The frame is
// the grabber's own buffer, passed on without a copy: 24-bit blue-green-red, rows top-down and
// padded to 4 bytes, the order encoders take (FFmpeg's bgr24 is top-down). Valid only during
// the call. `sampleTimeSeconds` is the frame's capture time on the stream's clock.
class RecordingSink {
public:
    virtual ~RecordingSink() = default;
    virtual void WriteRecordingFrame(double sampleTimeSeconds, const std::uint8_t* buffer,
                                     std::size_t lengthBytes) = 0;
};
