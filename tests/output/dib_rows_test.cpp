#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <vector>

#include "output/bitmap_builder.h"
#include "output/jpeg_codec.h"

namespace {

using outputtest::BitmapLayout;
using outputtest::MakeDib;

// Output rows for a DIB, filled by DibRowsToRgb.
struct RgbRows {
    RgbRows(std::int32_t width, std::int32_t height)
        : rowBytes(3 * width),
          storage(static_cast<std::size_t>(rowBytes * height), 0xEE),
          pointers(static_cast<std::size_t>(height)) {
        for (std::size_t i = 0; i < pointers.size(); ++i) {
            pointers[i] = storage.data() + i * static_cast<std::size_t>(rowBytes);
        }
    }
    std::array<int, 3> At(std::int32_t x, std::int32_t y) const {
        const std::uint8_t* p = pointers[static_cast<std::size_t>(y)] + 3 * x;
        return {p[0], p[1], p[2]};
    }
    int rowBytes;
    std::vector<std::uint8_t> storage;
    std::vector<std::uint8_t*> pointers;
};

IoResult Convert(const std::vector<std::uint8_t>& dib, RgbRows& rows) {
    return DibRowsToRgb(dib, rows.rowBytes, rows.pointers.data());
}

std::vector<std::uint8_t> GreyTable(std::size_t entries) {
    std::vector<std::uint8_t> table;
    for (std::size_t i = 0; i < entries; ++i) {
        const auto level = static_cast<std::uint8_t>(i);
        table.insert(table.end(), {level, static_cast<std::uint8_t>(level + 1),
                                   static_cast<std::uint8_t>(level + 2), 0});
    }
    return table;
}

TEST(FiveBitLevels, WidensEveryValue) {
    EXPECT_EQ(FiveBitLevels[0], 0);
    EXPECT_EQ(FiveBitLevels[1], 16);
    EXPECT_EQ(FiveBitLevels[2], 24);
    EXPECT_EQ(FiveBitLevels[15], 128);
    EXPECT_EQ(FiveBitLevels[30], 248);
    EXPECT_EQ(FiveBitLevels[31], 255);
}

TEST(DibRowsToRgb, TurnsBottomUpRowsTopDownAndSkipsRowPadding) {
    // 3 pixels wide: 9 bytes of pixels and 3 of padding per stored row.
    BitmapLayout layout{.width = 3, .height = 2};
    layout.rows = {1,  2,  3,  4,  5,  6,  7,  8,  9,  0xAA, 0xAA, 0xAA,  // bottom row
                 11, 12, 13, 14, 15, 16, 17, 18, 19, 0xAA, 0xAA, 0xAA};
    RgbRows rows(3, 2);
    const IoResult result = Convert(MakeDib(layout), rows);
    ASSERT_TRUE(result) << result.detail();
    EXPECT_EQ(result.detail(), "");
    EXPECT_EQ(rows.At(0, 0), (std::array<int, 3>{13, 12, 11}));
    EXPECT_EQ(rows.At(2, 0), (std::array<int, 3>{19, 18, 17}));
    EXPECT_EQ(rows.At(0, 1), (std::array<int, 3>{3, 2, 1}));
    EXPECT_EQ(rows.At(2, 1), (std::array<int, 3>{9, 8, 7}));
}

TEST(DibRowsToRgb, ThirtyTwoBitPixelsIgnoreTheFourthByte) {
    BitmapLayout layout{.width = 2, .height = 1, .bitCount = 32};
    layout.rows = {10, 20, 30, 0xFF, 40, 50, 60, 0x00};
    RgbRows rows(2, 1);
    ASSERT_TRUE(Convert(MakeDib(layout), rows));
    EXPECT_EQ(rows.At(0, 0), (std::array<int, 3>{30, 20, 10}));
    EXPECT_EQ(rows.At(1, 0), (std::array<int, 3>{60, 50, 40}));
}

TEST(DibRowsToRgb, EightBitIndicesGoThroughTheColourTable) {
    BitmapLayout layout{.width = 5, .height = 1, .bitCount = 8};
    layout.colourTable.assign(256 * 4, 0);
    layout.colourTable[5 * 4 + 0] = 10;  // blue
    layout.colourTable[5 * 4 + 1] = 20;  // green
    layout.colourTable[5 * 4 + 2] = 30;  // red
    layout.rows = {5, 0, 5, 5, 0, 0, 0, 0};
    RgbRows rows(5, 1);
    ASSERT_TRUE(Convert(MakeDib(layout), rows));
    for (const int x : {0, 2, 3}) {
        EXPECT_EQ(rows.At(x, 0), (std::array<int, 3>{30, 20, 10})) << x;
    }
    EXPECT_EQ(rows.At(1, 0), (std::array<int, 3>{0, 0, 0}));
}

TEST(DibRowsToRgb, SixteenBitWordsAreFiveFiveFiveThroughFiveBitLevels) {
    BitmapLayout layout{.width = 4, .height = 1, .bitCount = 16};
    // 0x7FFF, 0x0421, 0x0842 and 0x7C00 (red only), little-endian.
    layout.rows = {0xFF, 0x7F, 0x21, 0x04, 0x42, 0x08, 0x00, 0x7C};
    RgbRows rows(4, 1);
    ASSERT_TRUE(Convert(MakeDib(layout), rows));
    EXPECT_EQ(rows.At(0, 0), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(rows.At(1, 0), (std::array<int, 3>{16, 16, 16}));
    EXPECT_EQ(rows.At(2, 0), (std::array<int, 3>{24, 24, 24}));
    EXPECT_EQ(rows.At(3, 0), (std::array<int, 3>{255, 0, 0}));
}

TEST(DibRowsToRgb, OneBitPixelsArePackedFromTheTopBit) {
    // 10 pixels: 2 bytes of each 4-byte row; pixels 8 and 9 are the top bits of byte 1.
    BitmapLayout layout{.width = 10, .height = 2, .bitCount = 1};
    layout.colourTable = {0, 0, 0, 0, 200, 100, 50, 0};
    layout.rows = {0x80, 0x40, 0xFF, 0xFF,   // bottom: pixel 0 and pixel 9 set
                 0x01, 0x80, 0x00, 0x00};  // top: pixel 7 and pixel 8 set
    RgbRows rows(10, 2);
    ASSERT_TRUE(Convert(MakeDib(layout), rows));
    const std::array<int, 3> on{50, 100, 200};
    const std::array<int, 3> off{0, 0, 0};
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(rows.At(x, 0), x == 7 || x == 8 ? on : off) << "top row, pixel " << x;
        EXPECT_EQ(rows.At(x, 1), x == 0 || x == 9 ? on : off) << "bottom row, pixel " << x;
    }
}

TEST(DibRowsToRgb, FourBitPixelsTakeTheHighNibbleFirst) {
    BitmapLayout layout{.width = 3, .height = 1, .bitCount = 4};
    layout.colourTable = GreyTable(16);
    layout.rows = {0x3C, 0xF0, 0, 0};
    RgbRows rows(3, 1);
    ASSERT_TRUE(Convert(MakeDib(layout), rows));
    EXPECT_EQ(rows.At(0, 0), (std::array<int, 3>{5, 4, 3}));
    EXPECT_EQ(rows.At(1, 0), (std::array<int, 3>{14, 13, 12}));
    EXPECT_EQ(rows.At(2, 0), (std::array<int, 3>{17, 16, 15}));
}

TEST(DibRowsToRgb, RefusesWhatItCannotConvert) {
    BitmapLayout valid{.width = 2, .height = 2};
    valid.rows.assign(16, 0);
    BitmapLayout twoBit = valid;
    twoBit.bitCount = 2;
    std::vector<std::uint8_t> cut = MakeDib(valid);
    cut.pop_back();
    RgbRows rows(2, 2);
    const struct {
        const char* what;
        std::vector<std::uint8_t> dib;
        int rowLengthBytes;
        const char* text;
    } cases[] = {
        {"2 bits", MakeDib(twoBit), rows.rowBytes, kInvalidBitCount},
        {"no DIB", {}, rows.rowBytes, kInvalidInputData},
        {"row length 0", MakeDib(valid), 0, kInvalidInputData},
        {"a row length below 3 * width would be overrun", MakeDib(valid), 5, kInvalidInputData},
        {"rows running past the end of the block", cut, rows.rowBytes, kInvalidInputData},
    };
    for (const auto& c : cases) {
        const IoResult result = DibRowsToRgb(c.dib, c.rowLengthBytes, rows.pointers.data());
        EXPECT_EQ(result.error(), EINVAL) << c.what;
        EXPECT_EQ(result.detail(), c.text) << c.what;
    }
}

TEST(DibRowsToRgb, AnEmptyOrTopDownPictureConvertsNothing) {
    RgbRows rows(2, 1);
    for (const std::int32_t height : {0, -1}) {
        BitmapLayout layout{.width = 2, .height = height};
        layout.rows.assign(8, 1);
        EXPECT_TRUE(Convert(MakeDib(layout), rows)) << height;
        EXPECT_EQ(rows.At(0, 0), (std::array<int, 3>{0xEE, 0xEE, 0xEE}));
    }
}

}  // namespace
