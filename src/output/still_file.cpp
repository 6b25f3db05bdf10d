#include "output/still_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <span>
#include <vector>

#include "platform/bitmap_records.h"
#include "platform/regular_files.h"
#include "platform/unique_fd.h"

namespace {

std::int32_t RoundedPixelsPerMetre(double pixelsPerMetre) {
    if (!std::isfinite(pixelsPerMetre) || pixelsPerMetre <= 0) {
        return 0;
    }
    return static_cast<std::int32_t>(std::min(std::round(pixelsPerMetre), double{INT32_MAX}));
}

}  // namespace

BitmapResolution BitmapResolutionOf(const PictureMetadata& metadata) {
    const std::int32_t x = RoundedPixelsPerMetre(metadata.xPixelsPerMetre);
    const std::int32_t y = RoundedPixelsPerMetre(metadata.yPixelsPerMetre);
    return BitmapResolution{x, y};
}

// File header and info header. Rows are stored bottom-up, so the height is positive;
// biSizeImage counts the padded rows (width x 3 per row for widths that are multiples of 4).
void WriteStillBitmapHeaders(std::uint8_t (&out)[kBmpHeaderBytes], const StillFrame& frame,
                             BitmapResolution resolution) {
    const auto size = static_cast<std::uint32_t>(frame.sizeBytes);
    BitmapFileHeader file;
    file.bfType = kBitmapFileType;
    file.bfSize = size + static_cast<std::uint32_t>(kBmpHeaderBytes);
    file.bfOffBits = static_cast<std::uint32_t>(kBmpHeaderBytes);
    WriteBitmapFileHeader(
        file, std::span<std::uint8_t, kBitmapFileHeaderBytes>(out, kBitmapFileHeaderBytes));

    BitmapInfoHeader info;
    info.biSize = static_cast<std::uint32_t>(kBitmapInfoHeaderBytes);
    info.biWidth = frame.width;
    info.biHeight = frame.height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = kBiRgb;
    info.biSizeImage = size;
    info.biXPelsPerMeter = resolution.xPixelsPerMetre;
    info.biYPelsPerMeter = resolution.yPixelsPerMetre;
    WriteBitmapInfoHeader(info, std::span<std::uint8_t, kBitmapInfoHeaderBytes>(
                                    out + kBitmapFileHeaderBytes, kBitmapInfoHeaderBytes));
}

bool StillFrameIsConsistent(const StillFrame& frame) {
    if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0 || frame.width > 65535 ||
        frame.height > 65535) {
        return false;
    }
    const std::size_t expected = DibRowStrideBytes(static_cast<std::uint32_t>(frame.width), 24) *
                                 static_cast<std::size_t>(frame.height);
    return frame.sizeBytes == expected && frame.availableBytes >= expected &&
           expected <= UINT32_MAX - kBmpHeaderBytes;
}

StillWriter::StillWriter(std::string pictureFolder) : pictureFolder_(std::move(pictureFolder)) {}

void StillWriter::AdvanceCounter() {
    if (stillCounter_ < INT_MAX) {
        ++stillCounter_;
    }
}

IoResult StillWriter::SaveStillBitmap(const StillFrame& frame, BitmapResolution resolution) {
    if (!StillFrameIsConsistent(frame)) {
        return IoResult(EINVAL);
    }
    std::uint8_t headers[kBmpHeaderBytes];
    WriteStillBitmapHeaders(headers, frame, resolution);
    return ClaimAndWrite("bmp", [&](int fd) {
        int error = platform::WriteAll(fd, headers, sizeof headers);
        if (error == 0) {
            error = platform::WriteAll(fd, frame.pixels, frame.sizeBytes);
        }
        return IoResult(error);
    });
}

IoResult StillWriter::SaveStill(const StillFrame& frame, PictureFormat format,
                                const PictureMetadata& metadata) {
    if (format == PictureFormat::kBmp) {
        return SaveStillBitmap(frame, BitmapResolutionOf(metadata));
    }
    if (format == PictureFormat::kJpeg) {
        return IoResult(ENOTSUP);
    }
    if (!StillFrameIsConsistent(frame)) {
        return IoResult(EINVAL);
    }
    return ClaimAndWrite(PictureFormatExtension(format), [&](int fd) {
        return WriteStillPictureToFile(fd, frame, format, metadata);
    });
}

IoResult StillWriter::ClaimAndWrite(const char* extension,
                                    const std::function<IoResult(int fd)>& write) {
    bool folderMade = false;
    for (;;) {
        stillFileName_ =
            pictureFolder_ + "/StillCap" + std::to_string(stillCounter_) + "." + extension;
        platform::UniqueFd fd(
            ::open(stillFileName_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
        if (fd.get() < 0) {
            const int openError = errno;
            if (openError == EEXIST && stillCounter_ < INT_MAX) {
                ++stillCounter_;
                continue;
            }
            // The folder was taken away while the program ran: it is made again, once.
            if (openError == ENOENT && !folderMade) {
                folderMade = true;
                if (platform::MakeFolderPath(pictureFolder_) == 0) {
                    continue;
                }
            }
            return IoResult(openError);
        }
        int error = write(fd.get()).error();
        const int closeError = fd.Close();
        if (error == 0) {
            error = closeError;
        }
        if (error != 0) {
            ::unlink(stillFileName_.c_str());
            return IoResult(error);
        }
        return IoResult();
    }
}
