#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

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

// Texts left in a conversion's error text.
inline constexpr const char* kInvalidInputData = "Invalid input data";
inline constexpr const char* kInvalidBitCount = "Invalid bitmap bit count";
inline constexpr const char* kCannotOpen = "Cannot open ";  // followed by the path

// Fills `rows` (biHeight pointers, each to `rowLengthBytes` bytes) with the packed DIB in
// `dib` as red, green, blue, top row first. Returns true on success; on failure sets
// `errorText` (when given) to kInvalidInputData (no DIB, a row length below 3 * biWidth or
// not positive, a header whose colour table or rows run past the end of `dib`) or
// kInvalidBitCount (biBitCount not 1, 4, 8, 16, 24 or 32). A DIB of biHeight 0 or below
// converts nothing and succeeds. Without `errorText` a failure only returns false. The
// colour-table length follows biBitCount alone; biClrUsed and biCompression are not read;
// 16-bit pixels are 5-5-5.
bool DibRowsToRgb(std::span<const std::uint8_t> dib, int rowLengthBytes, std::uint8_t* const* rows,
                  std::string* errorText);

// Writes the packed DIB in `dib` as a baseline JFIF file at `jpegPath` with `quality`
// (0 to 100). The file appears only when the whole picture was written; a failure leaves
// no file behind, and an older file of that name is kept as it was. The path is resolved as
// OutputFile does.
// Returns true exactly when `errorText` was given and is empty at the end. Error texts:
// kInvalidInputData (quality out of range, no DIB, empty path, a picture that is not a
// bottom-up DIB lying wholly inside `dib`, or wider or taller than 65,500 pixels; no file
// is created), kInvalidBitCount (no file is created), kCannotOpen + path, or the JPEG
// library's or the system's text for a failure while writing. 24-bit rows are read by the
// library where they lie; the other depths are converted with DibRowsToRgb first.
bool DibToJpeg(std::span<const std::uint8_t> dib, int quality, const std::string& jpegPath,
               std::string* errorText);

// The widest and tallest picture a JPEG file can hold.
inline constexpr std::int32_t kJpegMaxSide = 65500;

// Asked between the rows of a conversion; true abandons it.
using StopRequested = std::function<bool()>;

// What became of a bitmap file's conversion to JPEG, in enough detail to tell a user why.
struct BitmapFileConversion {
    enum class Outcome {
        kWritten,      // the JPEG file is there, whole
        kUnreadable,   // the bitmap file cannot be opened or read: LoadBitmapFile's `error`
        kReadFailed,   // reading its rows failed on the way: `error` (an errno)
        kTooLarge,     // `width` or `height` is over kJpegMaxSide
        kSameFile,     // the JPEG path names the bitmap file itself, or another name of it
        kUnwritable,   // the JPEG file could not be created or written: `error` (an errno)
        kOutOfMemory,  // the library or the row buffers found no memory
        kStopped,      // StopRequested said so
        kFailed,       // the JPEG library failed: `text` says how
    };
    Outcome outcome = Outcome::kWritten;
    int error = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::string text;  // the error text BitmapFileToJpeg gives; empty when written
};

// Converts the bitmap file at `bmpPath` to a baseline JFIF file at `jpegPath` with `quality`
// (0 to 100), reading and encoding a few rows at a time, so that memory stays small
// whatever the picture's size. The file appears only when it was written whole: every
// failure, and a stop, leaves no file behind and an older file of that name as it was. The
// JPEG path is resolved as OutputFile does (links followed; a device, FIFO or folder is never
// replaced). `stopRequested`, when given, is asked before each row. Any thread.
BitmapFileConversion ConvertBitmapFileToJpeg(const std::string& bmpPath,
                                             const std::string& jpegPath, int quality,
                                             const StopRequested& stopRequested = {});

// Converts the bitmap file at `bmpPath` (see LoadBitmapFile) to a JPEG file at `jpegPath`,
// quality 100. Returns 0 when the bitmap file was read, whatever became of the conversion,
// else the reader's error code, with no JPEG file. `conversionError`, when given, receives
// the error text: empty exactly when the JPEG file was written, else as DibToJpeg gives it
// (kInvalidInputData for a picture too large for JPEG, kCannotOpen + path, or the system's
// or the library's words). Any thread.
std::int32_t BitmapFileToJpeg(const std::string& bmpPath, const std::string& jpegPath,
                              std::string* conversionError = nullptr);

// Bytes from the start of a decoded DIB to its first pixel row: the header, no colour table.
inline constexpr std::size_t kDecodedRowsOffset = 40;

// Decodes the JPEG file at `jpegPath` into `dib` as a packed DIB: a 40-byte header (biSize
// 40, biWidth and biHeight of the picture, biPlanes 1, biBitCount 24, BI_RGB, every other
// field 0) followed directly by the rows, bottom-up, blue-green-red, each padded to a
// multiple of 4 bytes. Colour and grey JPEGs both come out as 24-bit pictures.
// `imageSizeBytes` receives the size of the rows (row length * height) on success and when
// the picture is refused as too large, so that a caller may offer a larger buffer.
// Returns 0 on success, else:
//   the errno of the failed open, or -1 when that is 0 (traces "Open file error!\n");
//   EFBIG   when the header and rows would not fit in `dib`;
//   ENOTSUP for a colour model other than grey, YCbCr or RGB (CMYK, YCCK);
//   EBADMSG for a file that is not a JPEG, is corrupt or truncated, or has over 500 scans;
//   ENOMEM  when the library runs out of memory.
// The buffer is left untouched unless decoding started; when decoding fails after that,
// its first 40 bytes are cleared, so it holds no picture.
int JpegFileToDib(const std::string& jpegPath, std::span<std::uint8_t> dib,
                  std::size_t* imageSizeBytes);

// The same for a JPEG stream that is already open (read from its current position); the
// stream stays open. Returns the same codes, without the open failure.
int JpegStreamToDib(std::FILE* stream, std::span<std::uint8_t> dib, std::size_t* imageSizeBytes);
