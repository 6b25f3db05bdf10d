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
// bottom-up, biSizeImage the size of the rows): a name ending in "jpg" (any case) through the
// JPEG decoder (24 bits), anything else as a bitmap file of any depth the bitmap reader takes.
// Fails with the errno of stat or open (ENOENT for a file that is gone, ELOOP, ...), EISDIR
// for a folder, EINVAL for a FIFO, device or socket (never opened, so never waited on), the
// bitmap reader's codes (EBADMSG, ENOTSUP, ...), the JPEG decoder's codes, ENOMEM, or EFBIG
// for a picture larger than `dest` (a bitmap is refused from its headers).
IoResult LoadPictureFile(const std::string& path, std::span<std::uint8_t> dest);

// Reads the first decodable video frame of the AVI file at `path` into `dest` as a 24-bit
// bottom-up packed DIB with no colour table (biSize 40, biSizeImage the size of the rows),
// at the size of the decoded frame, whatever the stream header says. Gives up on a file with
// no frame among its first 256 packets or 16 MiB. FFmpeg logs nothing about the file. Fails
// with the errno of stat or open (ENOENT for a file that is gone), EISDIR or EINVAL as
// LoadPictureFile does, EBADMSG for a file that is not an AVI or holds no decodable video
// frame, ENOMEM, or EFBIG for a frame larger than `dest` (or a stream header that says so).
IoResult LoadFirstVideoFrame(const std::string& path, std::span<std::uint8_t> dest);

// A thumbnail of the picture (kind Pictures) or of the first video frame (Videos) at `path`:
// the whole picture scaled to fit in `maxSide` x `maxSide`, keeping its aspect ratio (never
// enlarged; each side at least 1 pixel), each pixel the mean of the picture's pixels under
// it, as a Format_RGB32 image. Pictures larger than kViewerImageBytes are refused, as the
// viewer refuses them. Fails as the readers above do, or with EINVAL for a maxSide below 1.
IoResultOf<QImage> LoadThumbnailImage(const std::string& path, MediaKind kind, int maxSide);
