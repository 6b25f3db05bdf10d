#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The binary records of bitmap files and packed DIBs. They are read and written field by
// field, little-endian, at the offsets of the file format; the structs only carry the values
// and are never copied to or from bytes as a whole.

inline constexpr std::uint16_t kBitmapFileType = 0x4D42;  // "BM"
inline constexpr std::uint32_t kBiRgb = 0;                // uncompressed
inline constexpr std::uint32_t kBiBitfields = 3;          // pixels described by colour masks

struct BitmapFileHeader {
    std::uint16_t bfType = 0;
    std::uint32_t bfSize = 0;
    std::uint16_t bfReserved1 = 0;
    std::uint16_t bfReserved2 = 0;
    std::uint32_t bfOffBits = 0;
};

inline constexpr std::size_t kBitmapFileHeaderBytes = 14;
static_assert(sizeof(BitmapFileHeader::bfType) + sizeof(BitmapFileHeader::bfSize) +
                      sizeof(BitmapFileHeader::bfReserved1) +
                      sizeof(BitmapFileHeader::bfReserved2) + sizeof(BitmapFileHeader::bfOffBits) ==
                  kBitmapFileHeaderBytes,
              "BITMAPFILEHEADER is 14 bytes on disk");

struct BitmapInfoHeader {
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;  // positive: rows stored bottom-up
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};

inline constexpr std::size_t kBitmapInfoHeaderBytes = 40;
static_assert(sizeof(BitmapInfoHeader) == kBitmapInfoHeaderBytes,
              "BITMAPINFOHEADER is 40 bytes without padding");

// One colour-table entry as stored: blue, green, red, reserved.
inline constexpr std::size_t kRgbQuadBytes = 4;

// Field-by-field conversions. Any thread.
BitmapFileHeader ReadBitmapFileHeader(std::span<const std::uint8_t, kBitmapFileHeaderBytes> bytes);
void WriteBitmapFileHeader(const BitmapFileHeader& header,
                           std::span<std::uint8_t, kBitmapFileHeaderBytes> bytes);
BitmapInfoHeader ReadBitmapInfoHeader(std::span<const std::uint8_t, kBitmapInfoHeaderBytes> bytes);
void WriteBitmapInfoHeader(const BitmapInfoHeader& header,
                           std::span<std::uint8_t, kBitmapInfoHeaderBytes> bytes);

// True for the depths a packed DIB may have: 1, 4, 8, 16, 24 and 32 bits per pixel.
bool IsSupportedBitCount(unsigned bitCount);

// Colour-table entries a packed DIB of `bitCount` carries: 2, 16 or 256 for 1, 4 and 8 bits,
// none above.
std::size_t ColourTableEntries(unsigned bitCount);

// Bytes of one stored row: `width` pixels of `bitCount` bits, padded to a multiple of 4.
// Exact for every width up to INT32_MAX and every bit count up to 32.
std::uint64_t DibRowStrideBytes(std::uint32_t width, unsigned bitCount);
