#pragma once

#include <QDateTime>
#include <optional>
#include <string>
#include <string_view>

#include "media/still_frame.h"
#include "platform/io_result.h"

// Stills as picture files of other formats than the program's own bitmaps: lossless PNG and
// TIFF files that carry the picture's scale (pixels per metre, from a calibration) and where
// and when it was taken, and bitmap files converted to them. Every function may be called
// from any thread; calls share no state. Library errors never end the process.

enum class PictureFormat { kBmp, kJpeg, kPng, kTiff };

// "bmp", "jpg"/"jpeg", "png", "tif"/"tiff", any case; nullopt otherwise. For --format values
// and file extensions.
std::optional<PictureFormat> PictureFormatNamed(std::string_view name);

// The format a target path's extension (the text after the last "." of its file name) asks
// for; nullopt when none of those.
std::optional<PictureFormat> PictureFormatOfPath(const std::string& path);

// The extension the program gives a file of `format`: "bmp", "jpg", "png", "tif".
const char* PictureFormatExtension(PictureFormat format);

struct PictureMetadata {
    double xPixelsPerMetre = 0;  // 0: unknown (no pHYs / no resolution tags written)
    double yPixelsPerMetre = 0;
    QDateTime captured;           // invalid: unknown
    std::string deviceName;       // UTF-8; "" unknown
    std::string calibrationName;  // UTF-8; "" none
};

// What each file records (a value that is unknown is left out):
//   PNG: 8-bit RGB; pHYs in pixels per metre (rounded) when both scales are known (above 0
//     and finite); text chunks "Creation Time" (RFC 3339, "2026-02-14T10:30:00+01:00"),
//     "Source" (the device's name), "Software" (the application's name and version as Qt
//     has them) and "Calibration" (the calibration's name): tEXt when the value is Latin-1,
//     else iTXt in UTF-8 (no language). NUL characters are dropped from every value.
//   TIFF: RGB, 8 bits a sample, LZW with the horizontal predictor, rows top first;
//     XResolution/YResolution in pixels per centimetre with ResolutionUnit centimetre when
//     both scales are known; DateTime "YYYY:MM:DD HH:MM:SS", Software, Model (the device's
//     name) and ImageDescription "Calibration: <name>". TIFF's text tags are meant to be
//     ASCII: other text is written as its UTF-8 bytes, as most readers expect today.
//     BigTIFF only for pictures too large for a classic TIFF file.
//   BMP: the program's 24-bit still, biXPelsPerMeter/biYPelsPerMeter rounded (0 unknown).
// Times are written as the QDateTime holds them: its own date, time and offset.

// Writes the still `frame` (see still_frame.h) as a `format` file at `path`. The file
// appears only when it was written whole: a failure leaves no file behind and an older file
// of that name as it was; the path is resolved as OutputFile does (links followed; a
// device, FIFO or folder is never replaced). The file is not flushed to the disk.
// Fails with:
//   EINVAL, no detail: a frame that does not add up (StillFrameIsConsistent) or an empty path;
//   ENOTSUP, no detail: kJpeg (stills are kept lossless; ConvertBitmapFile makes a JPEG file
//     of the bitmap);
//   the errno of a failed create, write or commit, ENOMEM, or EIO for the library's own
//     failure, with the detail "cannot write <path>: " and the words for it.
IoResult WriteStillPicture(const std::string& path, const StillFrame& frame, PictureFormat format,
                           const PictureMetadata& metadata);

// The same into the open file `fd`: a new, empty regular file, open for writing at its
// start. The caller closes it, and removes it on failure. The same codes; the detail is
// only the words ("No space left on device"), naming no file.
IoResult WriteStillPictureToFile(int fd, const StillFrame& frame, PictureFormat format,
                                 const PictureMetadata& metadata);

// Reads the bitmap file `source` (any LoadBitmapFile reads) and writes it at `target` as
// PNG or TIFF, a few rows at a time; kJpeg converts as ConvertBitmapFileToJpeg does at
// quality 100. Where `metadata` has no scale, the bitmap's biXPelsPerMeter/biYPelsPerMeter
// are used when both are above 0; where it has no capture time, the source file's
// modification time (local time) is used. The target appears only when it was written
// whole, as for WriteStillPicture. Fails, with a detail that names the file concerned as
// it was given:
//   the reader's code (see bmp_file.h): "cannot read <source>: " and BitmapFileErrorText;
//   the errno of reading its rows later: "cannot read <source>: " and the system's words;
//   EINVAL "cannot write <target>: it names the bitmap file being converted", or
//     "cannot write <target>: Invalid input data" for an empty target;
//   ENOTSUP "cannot write <target>: a bitmap file is copied, not converted" for kBmp;
//   the errno of a failed create, write or commit: "cannot write <target>: " and
//     platform::FileErrorText;
//   ENOMEM "cannot convert <source>: out of memory";
//   EIO "cannot write <target>: " and the library's text for its own failure;
//   for kJpeg, whatever ConvertBitmapFileToJpeg gives.
IoResult ConvertBitmapFile(const std::string& source, const std::string& target,
                           PictureFormat format, const PictureMetadata& metadata);
