#include "platform/bitmap_records.h"

namespace {

std::uint16_t Load16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t Load32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

std::int32_t LoadSigned32(const std::uint8_t* bytes) {
    return static_cast<std::int32_t>(Load32(bytes));
}

void Store16(std::uint8_t* bytes, std::uint16_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
}

void Store32(std::uint8_t* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void StoreSigned32(std::uint8_t* bytes, std::int32_t value) {
    Store32(bytes, static_cast<std::uint32_t>(value));
}

}  // namespace

BitmapFileHeader ReadBitmapFileHeader(std::span<const std::uint8_t, kBitmapFileHeaderBytes> bytes) {
    const std::uint8_t* p = bytes.data();
    BitmapFileHeader header;
    header.bfType = Load16(p + 0);
    header.bfSize = Load32(p + 2);
    header.bfReserved1 = Load16(p + 6);
    header.bfReserved2 = Load16(p + 8);
    header.bfOffBits = Load32(p + 10);
    return header;
}

void WriteBitmapFileHeader(const BitmapFileHeader& header,
                           std::span<std::uint8_t, kBitmapFileHeaderBytes> bytes) {
    std::uint8_t* p = bytes.data();
    Store16(p + 0, header.bfType);
    Store32(p + 2, header.bfSize);
    Store16(p + 6, header.bfReserved1);
    Store16(p + 8, header.bfReserved2);
    Store32(p + 10, header.bfOffBits);
}

BitmapInfoHeader ReadBitmapInfoHeader(std::span<const std::uint8_t, kBitmapInfoHeaderBytes> bytes) {
    const std::uint8_t* p = bytes.data();
    BitmapInfoHeader header;
    header.biSize = Load32(p + 0);
    header.biWidth = LoadSigned32(p + 4);
    header.biHeight = LoadSigned32(p + 8);
    header.biPlanes = Load16(p + 12);
    header.biBitCount = Load16(p + 14);
    header.biCompression = Load32(p + 16);
    header.biSizeImage = Load32(p + 20);
    header.biXPelsPerMeter = LoadSigned32(p + 24);
    header.biYPelsPerMeter = LoadSigned32(p + 28);
    header.biClrUsed = Load32(p + 32);
    header.biClrImportant = Load32(p + 36);
    return header;
}

void WriteBitmapInfoHeader(const BitmapInfoHeader& header,
                           std::span<std::uint8_t, kBitmapInfoHeaderBytes> bytes) {
    std::uint8_t* p = bytes.data();
    Store32(p + 0, header.biSize);
    StoreSigned32(p + 4, header.biWidth);
    StoreSigned32(p + 8, header.biHeight);
    Store16(p + 12, header.biPlanes);
    Store16(p + 14, header.biBitCount);
    Store32(p + 16, header.biCompression);
    Store32(p + 20, header.biSizeImage);
    StoreSigned32(p + 24, header.biXPelsPerMeter);
    StoreSigned32(p + 28, header.biYPelsPerMeter);
    Store32(p + 32, header.biClrUsed);
    Store32(p + 36, header.biClrImportant);
}

bool IsSupportedBitCount(unsigned bitCount) {
    switch (bitCount) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            return true;
        default:
            return false;
    }
}

std::size_t ColourTableEntries(unsigned bitCount) {
    return bitCount <= 8 && IsSupportedBitCount(bitCount) ? std::size_t{1} << bitCount : 0;
}

std::uint64_t DibRowStrideBytes(std::uint32_t width, unsigned bitCount) {
    // At most (2^32 - 1) * 32 + 31 bits: no overflow in 64 bits.
    const std::uint64_t bits = std::uint64_t{width} * bitCount;
    return (bits + 31) / 32 * 4;
}
