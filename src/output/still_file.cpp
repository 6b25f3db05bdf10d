#include "output/still_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <span>
#include <vector>

#include "platform/bitmap_records.h"
#include "platform/regular_files.h"
#include "platform/unique_fd.h"

namespace {

// File header and info header. Rows are stored bottom-up, so the height is positive;
// biSizeImage counts the padded rows (width x 3 per row for widths that are multiples of 4).
void WriteHeaders(std::uint8_t* out, const StillFrame& frame) {
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
    WriteBitmapInfoHeader(info, std::span<std::uint8_t, kBitmapInfoHeaderBytes>(
                                    out + kBitmapFileHeaderBytes, kBitmapInfoHeaderBytes));
}

}  // namespace

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

IoResult StillWriter::SaveStillBitmap(const StillFrame& frame) {
    if (!StillFrameIsConsistent(frame)) {
        return IoResult(EINVAL);
    }
    std::uint8_t headers[kBmpHeaderBytes];
    WriteHeaders(headers, frame);

    bool folderMade = false;
    for (;;) {
        stillFileName_ = pictureFolder_ + "/StillCap" + std::to_string(stillCounter_) + ".bmp";
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
        int error = platform::WriteAll(fd.get(), headers, sizeof headers);
        if (error == 0) {
            error = platform::WriteAll(fd.get(), frame.pixels, frame.sizeBytes);
        }
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
