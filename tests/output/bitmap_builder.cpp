#include "output/bitmap_builder.h"

#include <span>

namespace outputtest {

std::size_t StrideOf(std::int32_t width, unsigned bitCount) {
    return static_cast<std::size_t>(DibRowStrideBytes(static_cast<std::uint32_t>(width), bitCount));
}

std::vector<std::uint8_t> MakeDib(const BitmapLayout& layout) {
    BitmapInfoHeader header;
    header.biSize = kBitmapInfoHeaderBytes;
    header.biWidth = layout.width;
    header.biHeight = layout.height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<std::uint16_t>(layout.bitCount);
    header.biCompression = layout.compression;
    header.biSizeImage = static_cast<std::uint32_t>(layout.rows.size());
    header.biClrUsed = layout.clrUsed;
    std::vector<std::uint8_t> dib(kBitmapInfoHeaderBytes);
    WriteBitmapInfoHeader(header,
                          std::span<std::uint8_t, kBitmapInfoHeaderBytes>(dib.data(), dib.size()));
    dib.insert(dib.end(), layout.colourTable.begin(), layout.colourTable.end());
    dib.insert(dib.end(), layout.rows.begin(), layout.rows.end());
    return dib;
}

std::vector<std::uint8_t> MakeBitmapFile(const BitmapLayout& layout) {
    const std::vector<std::uint8_t> dib = MakeDib(layout);
    BitmapFileHeader header;
    header.bfType = kBitmapFileType;
    header.bfSize = static_cast<std::uint32_t>(kBitmapFileHeaderBytes + dib.size());
    header.bfOffBits = static_cast<std::uint32_t>(kBitmapFileHeaderBytes + kBitmapInfoHeaderBytes +
                                                  layout.colourTable.size());
    std::vector<std::uint8_t> file(kBitmapFileHeaderBytes);
    WriteBitmapFileHeader(
        header, std::span<std::uint8_t, kBitmapFileHeaderBytes>(file.data(), file.size()));
    file.insert(file.end(), dib.begin(), dib.end());
    return file;
}

std::string AsString(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace outputtest
