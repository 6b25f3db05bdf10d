#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/bitmap_records.h"
#include "platform/io_result.h"

// A packed DIB is one block: a BITMAPINFOHEADER, the colour table (4-byte entries blue,
// green, red, reserved; 2, 16 or 256 entries for 1, 4 and 8 bits, none above) and the
// pixel rows, bottom-up, each padded to a multiple of 4 bytes.

// Where the parts of a packed DIB lie in its block.
struct DibLayout {
    BitmapInfoHeader header;
    std::size_t colourTableOffset = 0;  // biSize
    std::size_t colourTableEntries = 0;
    std::size_t rowsOffset = 0;
    std::size_t rowStrideBytes = 0;
    std::size_t imageBytes = 0;  // rowStrideBytes * biHeight
};

// The layout of the picture in `block` when its header describes a bottom-up picture
// (biWidth and biHeight above 0, biSize at least 40, a supported bit count) whose colour
// table and rows lie wholly inside the block; otherwise fails with EBADMSG, no detail.
// biCompression, biSizeImage and biClrUsed are not consulted. Any thread.
IoResultOf<DibLayout> DescribePackedDib(std::span<const std::uint8_t> block);

// What a new PackedDib's rows hold: zeros, or whatever the memory held (for a caller that
// overwrites every row at once).
enum class RowFill { kZeroed, kUninitialised };

// An owned packed DIB. Moves, does not copy. Any thread, one at a time.
class PackedDib {
public:
    PackedDib() = default;

    // A bottom-up BI_RGB picture of the given size and depth: biSize 40, biPlanes 1,
    // biSizeImage the size of the rows, every other header field 0, colour table zeroed,
    // rows as `rows` says. Fails, with no detail, with EINVAL for a side of 0 or below or a
    // depth a packed DIB cannot have, EFBIG for rows of over 4 GiB, ENOMEM when memory runs
    // out.
    static IoResultOf<PackedDib> Create(std::int32_t width, std::int32_t height, unsigned bitCount,
                                        RowFill rows = RowFill::kZeroed);

    bool empty() const { return sizeBytes_ == 0; }
    std::span<const std::uint8_t> bytes() const { return {block_.get(), sizeBytes_}; }
    const DibLayout& layout() const { return layout_; }

    // Rewrites the header; biSize, the width, height and bit count must stay as they are.
    void SetHeader(const BitmapInfoHeader& header);

    std::span<std::uint8_t> ColourTable();
    std::span<std::uint8_t> Rows();
    std::span<const std::uint8_t> Rows() const;

private:
    std::unique_ptr<std::uint8_t[]> block_;
    std::size_t sizeBytes_ = 0;
    DibLayout layout_;
};
