#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "output/packed_dib.h"
#include "platform/io_result.h"
#include "platform/regular_files.h"

// Reading bitmap (.bmp) files: uncompressed (BI_RGB) pictures of 1, 4, 8, 16, 24 or 32 bits
// per pixel with a BITMAPINFOHEADER or one of its longer successors, or with the 12-byte
// OS/2 header (1, 4, 8 or 24 bits, 3-byte colour-table entries); rows stored bottom-up or
// top-down. Every size and offset in the file is checked against the file's length before
// anything is read.
//
// Error codes (IoResult::error(); no detail), here and below:
//   the errno of a failed stat, open or read; EIO when the file shrank while being read;
//   EISDIR for a folder, EINVAL for something else that is not a regular file (a FIFO or a
//   device is refused without waiting on it);
//   EBADMSG for a file that is not a well-formed bitmap (wrong signature, sizes, offsets or
//   depth, a colour table longer than the depth allows, rows running past the end);
//   ENOTSUP for a well-formed bitmap we do not read (compressed rows, BI_BITFIELDS);
//   EFBIG   (LoadBitmapFile only) for rows of over 4 GiB, more than a packed DIB can hold;
//   ENOMEM.

// The words for those codes: EBADMSG and ENOTSUP as they apply to bitmap files, the others
// as platform::FileErrorText gives them.
std::string BitmapFileErrorText(int error);

// Loads the bitmap file at `path` as a packed DIB of the file's own depth: rows bottom-up
// whatever the file's order, a colour table of 2, 16 or 256 entries for 1, 4 and 8 bits
// (entries the file leaves out are black), biSize 40, biClrUsed 0, biSizeImage the size of
// the rows, the resolution fields as in the file. The whole picture is held in memory: a
// caller that only passes the rows on reads them with BitmapRowReader. Gives the picture, or
// fails with one of the codes above. Any thread; blocks on file I/O.
IoResultOf<PackedDib> LoadBitmapFile(const std::string& path);

// The same for the bytes of a whole bitmap file held in memory.
IoResultOf<PackedDib> ParseBitmapFile(std::span<const std::uint8_t> fileBytes);

// A bitmap file read a few rows at a time, whatever its size. One thread at a time.
class BitmapRowReader {
public:
    BitmapRowReader();
    ~BitmapRowReader();
    BitmapRowReader(BitmapRowReader&&) noexcept;
    BitmapRowReader& operator=(BitmapRowReader&&) noexcept;

    // Opens and checks the file at `path`, or the bytes of a whole file (which must outlive
    // the reader). Fails with an error code as above, and the reader then holds no file.
    IoResult Open(const std::string& path);
    IoResult Parse(std::span<const std::uint8_t> fileBytes);

    std::int32_t width() const;
    std::int32_t height() const;  // positive, whatever the order of the rows in the file
    unsigned bitCount() const;
    std::size_t rowStrideBytes() const;  // the bytes of one stored row, padding included
    // The colour table as a packed DIB holds it: 4-byte entries blue, green, red, reserved;
    // 2, 16 or 256 of them for 1, 4 and 8 bits (those the file leaves out are black), none
    // above.
    std::span<const std::uint8_t> colourTable() const;
    // The opened file (zeros for bytes in memory).
    const platform::FileIdentity& identity() const;
    // The resolution the file states, biXPelsPerMeter and biYPelsPerMeter as they stand (0
    // for the OS/2 header, which has none).
    std::int32_t xPixelsPerMetre() const;
    std::int32_t yPixelsPerMetre() const;

    // Reads the stored bytes of `count` rows starting at picture row `top` (0 is the top of
    // the picture) into `dest`, top row first, rowStrideBytes() each. Fails with the errno of
    // the failed read (EIO when the file has become shorter), or EINVAL for rows outside the
    // picture; no detail.
    IoResult ReadRows(std::uint32_t top, std::uint32_t count, std::uint8_t* dest) const;

private:
    friend struct BitmapLoader;
    struct State;
    std::unique_ptr<State> state_;
};

// The loaded `bitmap` turned into the packed DIB handed to the JPEG encoder: the rows and
// colour table as they are, the header rewritten to biSize 40, biPlanes 1, the bitmap's
// width, height and bit count, `compression`, biSizeImage the size of the rows and every
// other field 0. Fails, with no detail, with ENOTSUP for BI_BITFIELDS and any other
// compression than BI_RGB (rows are never re-encoded), and EINVAL for an empty bitmap. Any
// thread.
IoResultOf<PackedDib> BitmapToPackedDib(PackedDib bitmap, std::uint32_t compression);
