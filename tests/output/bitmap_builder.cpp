#include "output/bitmap_builder.h"

#include <span>

namespace outputtest {

std::size_t StrideOf(std::int32_t width, unsigned bitCount) {
    return static_cast<std::size_t>(DibRowStrideBytes(static_cast<std::uint32_t>(width), bitCount));
}

std::vector<std::uint8_t> MakeDib(const BitmapSpec& spec) {
    BitmapInfoHeader header;
    header.biSize = kBitmapInfoHeaderBytes;
    header.biWidth = spec.width;
    header.biHeight = spec.height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<std::uint16_t>(spec.bitCount);
    header.biCompression = spec.compression;
    header.biSizeImage = static_cast<std::uint32_t>(spec.rows.size());
    header.biClrUsed = spec.clrUsed;
    std::vector<std::uint8_t> dib(kBitmapInfoHeaderBytes);
    WriteBitmapInfoHeader(header,
                          std::span<std::uint8_t, kBitmapInfoHeaderBytes>(dib.data(), dib.size()));
    dib.insert(dib.end(), spec.colourTable.begin(), spec.colourTable.end());
    dib.insert(dib.end(), spec.rows.begin(), spec.rows.end());
    return dib;
}

std::vector<std::uint8_t> MakeBitmapFile(const BitmapSpec& spec) {
    const std::vector<std::uint8_t> dib = MakeDib(spec);
    BitmapFileHeader header;
    header.bfType = kBitmapFileType;
    header.bfSize = static_cast<std::uint32_t>(kBitmapFileHeaderBytes + dib.size());
    header.bfOffBits = static_cast<std::uint32_t>(kBitmapFileHeaderBytes + kBitmapInfoHeaderBytes +
                                                  spec.colourTable.size());
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
