#include "output/packed_dib.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <optional>

namespace {

// a + b * c when it does not overflow.
std::optional<std::uint64_t> AddProduct(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    std::uint64_t product = 0;
    std::uint64_t sum = 0;
    if (__builtin_mul_overflow(b, c, &product) || __builtin_add_overflow(a, product, &sum)) {
        return std::nullopt;
    }
    return sum;
}

// The layout of a bottom-up picture with the given header, and the block size it needs.
std::optional<DibLayout> LayoutFor(const BitmapInfoHeader& header, std::uint64_t* blockBytes) {
    if (header.biSize < kBitmapInfoHeaderBytes || header.biWidth <= 0 || header.biHeight <= 0 ||
        !IsSupportedBitCount(header.biBitCount)) {
        return std::nullopt;
    }
    DibLayout layout;
    layout.header = header;
    layout.colourTableOffset = header.biSize;
    layout.colourTableEntries = ColourTableEntries(header.biBitCount);
    const std::uint64_t rowsOffset =
        std::uint64_t{header.biSize} + layout.colourTableEntries * kRgbQuadBytes;
    const std::uint64_t stride =
        DibRowStrideBytes(static_cast<std::uint32_t>(header.biWidth), header.biBitCount);
    const auto end = AddProduct(rowsOffset, stride, static_cast<std::uint64_t>(header.biHeight));
    if (!end || *end > SIZE_MAX) {
        return std::nullopt;
    }
    layout.rowsOffset = static_cast<std::size_t>(rowsOffset);
    layout.rowStrideBytes = static_cast<std::size_t>(stride);
    layout.imageBytes = static_cast<std::size_t>(*end - rowsOffset);
    *blockBytes = *end;
    return layout;
}

}  // namespace

IoResultOf<DibLayout> DescribePackedDib(std::span<const std::uint8_t> block) {
    if (block.data() == nullptr || block.size() < kBitmapInfoHeaderBytes) {
        return IoResult(EBADMSG);
    }
    const BitmapInfoHeader header = ReadBitmapInfoHeader(block.first<kBitmapInfoHeaderBytes>());
    std::uint64_t blockBytes = 0;
    std::optional<DibLayout> layout = LayoutFor(header, &blockBytes);
    if (!layout || blockBytes > block.size()) {
        return IoResult(EBADMSG);
    }
    return *layout;
}

IoResultOf<PackedDib> PackedDib::Create(std::int32_t width, std::int32_t height, unsigned bitCount,
                                        RowFill rows) {
    if (width <= 0 || height <= 0 || !IsSupportedBitCount(bitCount)) {
        return IoResult(EINVAL);
    }
    BitmapInfoHeader header;
    header.biSize = kBitmapInfoHeaderBytes;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<std::uint16_t>(bitCount);
    header.biCompression = kBiRgb;
    std::uint64_t blockBytes = 0;
    std::optional<DibLayout> layout = LayoutFor(header, &blockBytes);
    if (!layout || layout->imageBytes > UINT32_MAX) {
        return IoResult(EFBIG);
    }
    layout->header.biSizeImage = static_cast<std::uint32_t>(layout->imageBytes);

    PackedDib dib;
    const auto size = static_cast<std::size_t>(blockBytes);
    dib.block_.reset(new (std::nothrow) std::uint8_t[size]);
    if (!dib.block_) {
        return IoResult(ENOMEM);
    }
    std::memset(dib.block_.get(), 0, rows == RowFill::kZeroed ? size : layout->rowsOffset);
    dib.sizeBytes_ = size;
    dib.layout_ = *layout;
    dib.SetHeader(layout->header);
    return dib;
}

void PackedDib::SetHeader(const BitmapInfoHeader& header) {
    layout_.header = header;
    WriteBitmapInfoHeader(header, std::span<std::uint8_t, kBitmapInfoHeaderBytes>(
                                      block_.get(), kBitmapInfoHeaderBytes));
}

std::span<std::uint8_t> PackedDib::ColourTable() {
    return {block_.get() + layout_.colourTableOffset, layout_.colourTableEntries * kRgbQuadBytes};
}

std::span<std::uint8_t> PackedDib::Rows() {
    return {block_.get() + layout_.rowsOffset, layout_.imageBytes};
}

std::span<const std::uint8_t> PackedDib::Rows() const {
    return {block_.get() + layout_.rowsOffset, layout_.imageBytes};
}
