#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "media/still_frame.h"
#include "platform/bitmap_records.h"
#include "platform/io_result.h"

// Writes stills as "StillCap<n>.bmp" into the picture folder. The counter starts at 0 with
// each run and only moves up: a still takes the first free number at or above it. Used on
// the UI thread.
class StillWriter {
public:
    explicit StillWriter(std::string pictureFolder);

    // Writes the frame to a new file; the frame must not change meanwhile (the capture
    // session hands out a copy). Succeeds when the whole file was written; fails with EINVAL
    // when the frame is unusable, or with the errno of the step that failed when the file
    // cannot be created or written, in which case no file of that name is left behind. Two programs
    // never write the same name: each name is claimed with O_EXCL.
    IoResult SaveStillBitmap(const StillFrame& frame);

    // The caller moves on to the next number after each still it keeps.
    void AdvanceCounter();
    int stillCounter() const { return stillCounter_; }
    // The full path of the last still written (or tried).
    const std::string& stillFileName() const { return stillFileName_; }

private:
    std::string pictureFolder_;
    int stillCounter_ = 0;
    std::string stillFileName_;
};

inline constexpr std::size_t kBmpHeaderBytes = kBitmapFileHeaderBytes + kBitmapInfoHeaderBytes;

// Whether the frame's sizes agree with each other and with its buffer.
bool StillFrameIsConsistent(const StillFrame& frame);
