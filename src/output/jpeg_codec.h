#pragma once

#include <QImage>
#include <QSize>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

#include "platform/io_result.h"

// Conversions between the program's pictures (packed DIBs, bitmap files) and JPEG files,
// on libjpeg's interface. Every function may be called from any thread; calls share no
// state. Library errors never end the process: they come back as failures.

// Widens a 5-bit colour value to 8 bits: 0 for 0, 16 for 1, 8 * v + 8 for 2 to 30, 255 for 31.
inline constexpr std::array<std::uint8_t, 32> FiveBitLevels = [] {
    std::array<std::uint8_t, 32> levels{};
    for (unsigned v = 0; v < 32; ++v) {
        levels[v] = static_cast<std::uint8_t>(v == 0 ? 0 : v == 1 ? 16 : v == 31 ? 255 : 8 * v + 8);
    }
    return levels;
}();

// Texts a conversion's failure carries as its detail.
inline constexpr const char* kInvalidInputData = "Invalid input data";
inline constexpr const char* kInvalidBitCount = "Invalid bitmap bit count";
inline constexpr const char* kCannotOpen = "Cannot open ";  // followed by the path

// Fills `rows` (biHeight pointers, each to `rowLengthBytes` bytes) with the packed DIB in
// `dib` as red, green, blue, top row first. Fails with EINVAL and the detail
// kInvalidInputData (no DIB, a row length below 3 * biWidth or not positive, a header whose
// colour table or rows run past the end of `dib`) or kInvalidBitCount (biBitCount not 1, 4,
// 8, 16, 24 or 32). A DIB of biHeight 0 or below converts nothing and succeeds. The
// colour-table length follows biBitCount alone; biClrUsed and biCompression are not read;
// 16-bit pixels are 5-5-5.
IoResult DibRowsToRgb(std::span<const std::uint8_t> dib, int rowLengthBytes,
                      std::uint8_t* const* rows);

// Writes the packed DIB in `dib` as a baseline JFIF file at `jpegPath` with `quality`
// (0 to 100). The file appears only when the whole picture was written; a failure leaves
// no file behind, and an older file of that name is kept as it was. The path is resolved as
// OutputFile does. 24-bit rows are read by the library where they lie; the other depths are
// converted with DibRowsToRgb first.
// Succeeds exactly when the file was written. A failure's detail is its text:
//   EINVAL, kInvalidInputData: quality out of range, no DIB, empty path, a picture that is
//     not a bottom-up DIB lying wholly inside `dib`, or wider or taller than 65,500 pixels;
//     no file is created;
//   EINVAL, kInvalidBitCount: no file is created;
//   OutputFile::Create's code, kCannotOpen + path;
//   the errno of a failed write, or ENOMEM, with the system's text;
//   EIO, the JPEG library's text for its own failure.
IoResult DibToJpeg(std::span<const std::uint8_t> dib, int quality, const std::string& jpegPath);

// The widest and tallest picture a JPEG file can hold.
inline constexpr std::int32_t kJpegMaxSide = 65500;

// Asked between the rows of a conversion; true abandons it.
using StopRequested = std::function<bool()>;

// Converts the bitmap file at `bmpPath` to a baseline JFIF file at `jpegPath` with `quality`
// (0 to 100), reading and encoding a few rows at a time, so that memory stays small
// whatever the picture's size. The file appears only when it was written whole: every
// failure, and a stop, leaves no file behind and an older file of that name as it was. The
// JPEG path is resolved as OutputFile does (links followed; a device, FIFO or folder is never
// replaced). `stopRequested`, when given, is asked before each row. Any thread.
// Succeeds exactly when the JPEG file was written. A failure's detail tells a user what
// happened, naming the file concerned as it was given:
//   the reader's code (see LoadBitmapFile): "cannot read <bmp>: " and BitmapFileErrorText;
//   the errno of reading its rows later: "cannot read <bmp>: " and platform::FileErrorText;
//   EINVAL: "cannot write <jpeg>: Invalid input data" for a quality out of range or an
//     empty JPEG path;
//   EFBIG: "cannot convert <bmp>: the picture is <w> x <h> pixels, and a JPEG file holds
//     at most 65500 on a side";
//   the errno of a failed create, write or commit: "cannot write <jpeg>: " and
//     platform::FileErrorText;
//   EINVAL: "cannot write <jpeg>: it names the bitmap file being converted" (the JPEG path
//     names the bitmap file itself, or another name of it);
//   ENOMEM: "cannot convert <bmp>: out of memory" (the library or the row buffers);
//   EIO: "cannot write <jpeg>: " and the JPEG library's text for its own failure;
//   ECANCELED, no detail, when stopRequested said so.
IoResult ConvertBitmapFileToJpeg(const std::string& bmpPath, const std::string& jpegPath,
                                 int quality, const StopRequested& stopRequested = {});

// Converts the bitmap file at `bmpPath` (see LoadBitmapFile) to a JPEG file at `jpegPath`,
// quality 100. Succeeds exactly when the JPEG file was written. When the bitmap file cannot
// be read, fails with the reader's code and no detail. When it was read, a failure has the
// code ConvertBitmapFileToJpeg gives and the text DibToJpeg would give as its detail:
// kInvalidInputData for a picture too large for JPEG, kCannotOpen + path when the JPEG file
// cannot be created or the path names the bitmap file itself, or the system's or the
// library's words. Any thread.
IoResult BitmapFileToJpeg(const std::string& bmpPath, const std::string& jpegPath);

// Bytes from the start of a decoded DIB to its first pixel row: the header, no colour table.
inline constexpr std::size_t kDecodedRowsOffset = 40;

// Decodes the JPEG file at `jpegPath` into `dib` as a packed DIB: a 40-byte header (biSize
// 40, biWidth and biHeight of the picture, biPlanes 1, biBitCount 24, BI_RGB, every other
// field 0) followed directly by the rows, bottom-up, blue-green-red, each padded to a
// multiple of 4 bytes. Colour and grey JPEGs both come out as 24-bit pictures.
// `imageSizeBytes` receives the size of the rows (row length * height) on success and when
// the picture is refused as too large, so that a caller may offer a larger buffer.
// Fails, with no detail, with:
//   the errno of the failed open, or EIO when that is 0 (traces "Open file error!\n");
//   EFBIG   when the header and rows would not fit in `dib`;
//   ENOTSUP for a colour model other than grey, YCbCr or RGB (CMYK, YCCK);
//   EBADMSG for a file that is not a JPEG, is corrupt or truncated, or has over 500 scans;
//   ENOMEM  when the library runs out of memory.
// The buffer is left untouched unless decoding started; when decoding fails after that,
// its first 40 bytes are cleared, so it holds no picture.
IoResult JpegFileToDib(const std::string& jpegPath, std::span<std::uint8_t> dib,
                       std::size_t* imageSizeBytes);

// The same for a JPEG stream that is already open (read from its current position); the
// stream stays open. Fails with the same codes, without the open failure, and with EINVAL
// for no stream.
IoResult JpegStreamToDib(std::FILE* stream, std::span<std::uint8_t> dib,
                         std::size_t* imageSizeBytes);

// The most pixels JpegToFrame makes a frame of: 2^25, room for an 8K picture (128 MiB).
inline constexpr std::int64_t kMaxFramePixels = std::int64_t{1} << 25;

// Decodes the JPEG picture in `jpeg` (a frame of a Motion-JPEG video) into `frame`, 32-bit
// pixels of QImage::Format_RGB32, for showing it `shown` large: reduced to a half, a quarter
// or an eighth where that keeps at least 15/16 of `shown` in both directions, else whole
// (also when `shown` is empty). A reduced picture costs a fraction of a whole one to decode:
// the inverse transform makes the smaller blocks directly. `pictureSize`, when given,
// receives the picture's own size. Damaged or missing picture data is decoded as far as it
// goes, as a video decoder does. On failure `frame` is left as it was. Fails with:
//   EBADMSG and the library's text: not a JPEG picture, or one that breaks off in its header;
//   ENOTSUP for a colour model other than grey, YCbCr or RGB (CMYK, YCCK);
//   EFBIG   when the frame would have more than kMaxFramePixels pixels;
//   ENOMEM  when the library or the frame runs out of memory.
// Any thread; calls share no state.
IoResult JpegToFrame(std::span<const std::uint8_t> jpeg, QSize shown, QImage& frame,
                     QSize* pictureSize = nullptr);
