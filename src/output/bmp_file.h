#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "output/packed_dib.h"

// Reading bitmap (.bmp) files: uncompressed (BI_RGB) pictures of 1, 4, 8, 16, 24 or 32 bits
// per pixel with a BITMAPINFOHEADER or one of its longer successors, rows stored bottom-up
// or top-down. Every size and offset in the file is checked against the file's length
// before anything is read.

struct BitmapLoad {
    int error = 0;     // 0, or why the file could not be loaded (see LoadBitmapFile)
    PackedDib bitmap;  // the picture when error is 0
};

// Loads the bitmap file at `path` as a packed DIB of the file's own depth: rows bottom-up
// whatever the file's order, a colour table of 2, 16 or 256 entries for 1, 4 and 8 bits
// (entries the file leaves out are black), biSize 40, biClrUsed 0, biSizeImage the size of
// the rows, the resolution fields as in the file.
// Errors: the errno of a failed open, stat or read; EISDIR or EINVAL for something that is
// not a regular file; EINVAL for a file that is not a well-formed bitmap (wrong signature,
// sizes, offsets or depth, a colour table longer than the depth allows, rows running past
// the end of the file); ENOTSUP for a well-formed bitmap we do not read (compressed rows,
// BI_BITFIELDS, the 12-byte OS/2 header); ENOMEM. Any thread; blocks on file I/O.
BitmapLoad LoadBitmapFile(const std::string& path);

// The same for the bytes of a whole bitmap file held in memory.
BitmapLoad ParseBitmapFile(std::span<const std::uint8_t> fileBytes);

// The loaded `bitmap` turned into the packed DIB handed to the JPEG encoder: the rows and
// colour table as they are, the header rewritten to biSize 40, biPlanes 1, the bitmap's
// width, height and bit count, `compression`, biSizeImage the size of the rows and every
// other field 0. Returns nullopt for BI_BITFIELDS and any other compression than BI_RGB
// (rows are never re-encoded), and for an empty bitmap. Any thread.
std::optional<PackedDib> BitmapToPackedDib(PackedDib bitmap, std::uint32_t compression);
