#pragma once

#include <QImage>
#include <cstdint>
#include <span>
#include <string>

#include "browser/media_item.h"
#include "platform/io_result.h"

// Readers of the captured files for the file list and the viewer. Every function may be
// called from any thread; calls share no state. A failure never changes `dest`: the viewer
// keeps showing what it showed.

// Reads the picture at `path` into `dest` as a packed DIB (header, colour table, rows
// bottom-up): a name ending in "jpg" (any case) through the JPEG decoder (24 bits), anything
// else as a bitmap file of any depth the bitmap reader takes. Fails with the errno of stat
// or open (ENOENT for a file that is gone), the bitmap reader's codes (EISDIR, EBADMSG,
// ENOTSUP, ...), the JPEG decoder's codes, or EFBIG for a picture larger than `dest`.
IoResult LoadPictureFile(const std::string& path, std::span<std::uint8_t> dest);

// Reads the first video frame of the video file at `path` into `dest` as a 24-bit bottom-up
// packed DIB with no colour table. Fails with the errno of stat or open (ENOENT for a file
// that is gone), EBADMSG for a file that holds no decodable video frame, or EFBIG for a frame
// larger than `dest`.
IoResult LoadFirstVideoFrame(const std::string& path, std::span<std::uint8_t> dest);

// A thumbnail of the picture (kind Pictures) or of the first video frame (Videos) at `path`:
// the whole picture scaled to fit in `maxSide` x `maxSide`, keeping its aspect ratio (never
// enlarged). Pictures larger than kViewerImageBytes are refused, as the viewer refuses them.
// Fails as the readers above do.
IoResultOf<QImage> LoadThumbnailImage(const std::string& path, MediaKind kind, int maxSide);
