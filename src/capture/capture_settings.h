#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/version.h"
#include "platform/io_result.h"

// The capture format: the layout of a video format block (rectangles, rates, frame
// duration and a BITMAPINFOHEADER), 88 bytes little-endian on disk. CapConfig.dat holds
// exactly these bytes.
struct CaptureRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    bool operator==(const CaptureRect&) const = default;
};

struct CaptureSettings {
    CaptureRect rcSource;
    CaptureRect rcTarget;
    std::uint32_t dwBitRate = 0;
    std::uint32_t dwBitErrorRate = 0;
    std::int64_t AvgTimePerFrame = 0;  // frame duration in 100-nanosecond units
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;  // four-character code of the device's pixel format
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;

    bool operator==(const CaptureSettings&) const = default;
};

inline constexpr std::size_t kCaptureSettingsBytes = 88;
using CaptureSettingsBytes = std::array<std::uint8_t, kCaptureSettingsBytes>;

CaptureSettingsBytes SerializeCaptureSettings(const CaptureSettings& settings);
CaptureSettings ParseCaptureSettings(const CaptureSettingsBytes& bytes);

constexpr std::uint32_t MakeFourcc(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(a)) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(b)) << 8) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(c)) << 16) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(d)) << 24);
}
inline constexpr std::uint32_t kFourccYuy2 = MakeFourcc('Y', 'U', 'Y', '2');

// Frame duration used where a format names none (0 or negative): 30 frames per second.
inline constexpr std::int64_t kFallbackTimePerFrame = 333333;

// 10 000 000 / AvgTimePerFrame rounded to whole frames per second. A duration of 0 or
// less counts as kFallbackTimePerFrame; the result is at least 1.
std::uint32_t RoundedFrameRate(std::int64_t avgTimePerFrame);

// dwBitRate for a frame size at the record's frame rate; saturates instead of wrapping.
std::uint32_t BitRateFor(std::uint32_t sizeImageBytes, std::int64_t avgTimePerFrame);

// Bytes of a frame: width x height, times 2 at 16 bits and times 3 at 24 bits; 0 for
// sizes that are not positive. Saturates at the largest 32-bit value.
std::uint32_t FrameBytesFor(std::int32_t width, std::int32_t height, std::uint16_t bitCount);

// Whether frames of this size can be handled: both sides positive, and a 24-bit frame of it
// (rows padded to 4 bytes, as the grabbers deliver them) fits in 32 bits.
bool IsUsableFrameSize(std::int32_t width, std::int32_t height);

// The capture-format file.
inline constexpr const char* kCapConfigFileName = "CapConfig.dat";

// Where CapConfig.dat lives: the program folder when it is writable and not the folder the
// program is installed to (a build tree, a copy of its own), else the user's configuration
// folder (~/.config/digital-microscope), created when missing. An installed program run by
// root so never leaves a file of its own among the system's programs.
std::string CapConfigPath(const std::string& programFolder,
                          const std::string& installedProgramFolder = kInstalledProgramFolder);

// Replaces `settings` with the first 88 bytes of the file. Succeeds when it did; otherwise
// the record is unchanged, a trace is written, and the result (no detail) says why: the
// errno of the failed open or read, EINVAL for something that is not a regular file or a
// record naming a frame size that is not usable (IsUsableFrameSize), EBADMSG for a file of
// fewer bytes.
IoResult LoadCapConfig(const std::string& path, CaptureSettings& settings);

// Writes the record as the file's first 88 bytes; bytes after them in an existing file
// are kept. The file is replaced whole (written beside it, then renamed), so a failed
// write never leaves a damaged file. A symbolic link is written through; a device, FIFO or
// folder in the file's place is never replaced. Succeeds when the file holds the record;
// otherwise fails with the errno of the failed step, no detail (EINVAL for something that
// is not a regular file, EISDIR for a folder, ELOOP).
IoResult SaveCapConfig(const std::string& path, const CaptureSettings& settings);
