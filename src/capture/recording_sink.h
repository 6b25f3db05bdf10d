#pragma once

#include <cstddef>
#include <cstdint>

// Takes each frame while a recording runs (streaming thread; must not block).
class RecordingSink {
public:
    virtual ~RecordingSink() = default;
    virtual void WriteRecordingFrame(const std::uint8_t* buffer, std::size_t lengthBytes) = 0;
};
