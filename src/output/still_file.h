#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "media/still_frame.h"
#include "output/picture_formats.h"
#include "platform/bitmap_records.h"
#include "platform/io_result.h"

// The scale a still bitmap records: biXPelsPerMeter and biYPelsPerMeter (0 unknown).
struct BitmapResolution {
    std::int32_t xPixelsPerMetre = 0;
    std::int32_t yPixelsPerMetre = 0;
};

// The metadata's scale rounded to whole pixels per metre; 0 for a scale that is unknown,
// not above 0 or not finite, INT32_MAX at most.
BitmapResolution BitmapResolutionOf(const PictureMetadata& metadata);

// Writes stills as "StillCap<n>.bmp" (or .png, .tif) into the picture folder. The counter
// starts at 0 with each run and only moves up: a still takes the first free number at or
// above it (a name of the same extension). Used on the UI thread.
class StillWriter {
public:
    explicit StillWriter(std::string pictureFolder);

    // Writes the frame to a new file; the frame must not change meanwhile (the capture
    // session hands out a copy). Succeeds when the whole file was written; fails with EINVAL
    // when the frame is unusable, or with the errno of the step that failed when the file
    // cannot be created or written, in which case no file of that name is left behind. Two programs
    // never write the same name: each name is claimed with O_EXCL. `resolution` goes into
    // the info header.
    IoResult SaveStillBitmap(const StillFrame& frame, BitmapResolution resolution = {});

    // The same in `format`, as "StillCap<n>.bmp", ".png" or ".tif" (see picture_formats.h
    // for what each records): a bitmap gets the metadata's scale, rounded. Fails as
    // SaveStillBitmap does, with no detail, and also with ENOMEM, or EIO when the PNG or TIFF
    // library fails; ENOTSUP for kJpeg, no file made.
    IoResult SaveStill(const StillFrame& frame, PictureFormat format,
                       const PictureMetadata& metadata);

    // The caller moves on to the next number after each still it keeps.
    void AdvanceCounter();
    int stillCounter() const { return stillCounter_; }
    // The full path of the last still written (or tried).
    const std::string& stillFileName() const { return stillFileName_; }

private:
    // Claims the first free "StillCap<n>.<extension>" and lets `write` fill the open file;
    // removes the file when that fails.
    IoResult ClaimAndWrite(const char* extension, const std::function<IoResult(int fd)>& write);

    std::string pictureFolder_;
    int stillCounter_ = 0;
    std::string stillFileName_;
};

inline constexpr std::size_t kBmpHeaderBytes = kBitmapFileHeaderBytes + kBitmapInfoHeaderBytes;

// Whether the frame's sizes agree with each other and with its buffer.
bool StillFrameIsConsistent(const StillFrame& frame);

// The file and info headers of the bitmap file of a consistent `frame`, into `out`.
void WriteStillBitmapHeaders(std::uint8_t (&out)[kBmpHeaderBytes], const StillFrame& frame,
                             BitmapResolution resolution);
