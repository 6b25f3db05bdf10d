#include "output/bmp_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <vector>

#include "output/bitmap_builder.h"
#include "support/temp_dir.h"

namespace {

using outputtest::BitmapLayout;
using outputtest::MakeBitmapFile;

constexpr std::size_t kInfoOffset = kBitmapFileHeaderBytes;

void Put32(std::vector<std::uint8_t>& file, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        file[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

void Put16(std::vector<std::uint8_t>& file, std::size_t offset, std::uint16_t value) {
    file[offset] = static_cast<std::uint8_t>(value);
    file[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

// 3 x 2, 24 bits: every byte of the rows differs.
BitmapLayout Rgb3x2() {
    BitmapLayout layout{.width = 3, .height = 2};
    for (std::uint8_t i = 0; i < 24; ++i) {
        layout.rows.push_back(i);
    }
    return layout;
}

// 5 x 3, 8 bits with 4 colours in the table.
BitmapLayout Indexed5x3() {
    BitmapLayout layout{.width = 5, .height = 3, .bitCount = 8, .clrUsed = 4};
    layout.colourTable = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0};
    layout.rows = {0, 1, 2, 3, 0, 0, 0, 0, 3, 2, 1, 0, 1, 0, 0, 0, 1, 1, 1, 1, 1, 0, 0, 0};
    return layout;
}

std::vector<std::uint8_t> Rows(const BitmapLoad& load) {
    const auto rows = load.bitmap.Rows();
    return {rows.begin(), rows.end()};
}

TEST(ParseBitmapFile, LoadsABottomUpPictureAsItIsStored) {
    const BitmapLayout layout = Rgb3x2();
    const BitmapLoad load = ParseBitmapFile(MakeBitmapFile(layout));
    ASSERT_EQ(load.error, 0);
    const BitmapInfoHeader& header = load.bitmap.layout().header;
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 3);
    EXPECT_EQ(header.biHeight, 2);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biSizeImage, 24u);
    EXPECT_EQ(Rows(load), layout.rows);
    EXPECT_EQ(load.bitmap.bytes().size(), 40u + 24u);
}

TEST(ParseBitmapFile, TurnsTopDownRowsBottomUp) {
    BitmapLayout layout = Rgb3x2();
    layout.height = -2;
    const BitmapLoad load = ParseBitmapFile(MakeBitmapFile(layout));
    ASSERT_EQ(load.error, 0);
    EXPECT_EQ(load.bitmap.layout().header.biHeight, 2);
    std::vector<std::uint8_t> flipped(layout.rows.begin() + 12, layout.rows.end());
    flipped.insert(flipped.end(), layout.rows.begin(), layout.rows.begin() + 12);
    EXPECT_EQ(Rows(load), flipped);
}

TEST(ParseBitmapFile, GivesEveryIndexedPictureAFullColourTable) {
    const BitmapLayout layout = Indexed5x3();
    const BitmapLoad load = ParseBitmapFile(MakeBitmapFile(layout));
    ASSERT_EQ(load.error, 0);
    EXPECT_EQ(load.bitmap.layout().header.biClrUsed, 0u);
    ASSERT_EQ(load.bitmap.layout().colourTableEntries, 256u);
    const auto table = load.bitmap.bytes().subspan(40, 256 * 4);
    EXPECT_TRUE(std::equal(layout.colourTable.begin(), layout.colourTable.end(), table.begin()));
    EXPECT_TRUE(std::all_of(table.begin() + 16, table.end(), [](auto b) { return b == 0; }))
        << "entries the file leaves out are black";
    EXPECT_EQ(Rows(load), layout.rows);
}

TEST(ParseBitmapFile, ReadsEveryDepth) {
    for (const unsigned bitCount : {1u, 4u, 8u, 16u, 24u, 32u}) {
        BitmapLayout layout{.width = 7, .height = 3, .bitCount = bitCount};
        if (bitCount <= 8) {
            layout.colourTable.assign((std::size_t{1} << bitCount) * 4, 0x55);
        }
        layout.rows.assign(outputtest::StrideOf(7, bitCount) * 3, 0);
        for (std::size_t i = 0; i < layout.rows.size(); ++i) {
            layout.rows[i] = static_cast<std::uint8_t>(i * 7);
        }
        const BitmapLoad load = ParseBitmapFile(MakeBitmapFile(layout));
        ASSERT_EQ(load.error, 0) << bitCount;
        EXPECT_EQ(load.bitmap.layout().header.biBitCount, bitCount);
        EXPECT_EQ(Rows(load), layout.rows) << bitCount;
    }
}

TEST(ParseBitmapFile, FindsTheRowsAtTheirOffsetAfterALongerHeader) {
    // A 108-byte header and a gap before the rows.
    std::vector<std::uint8_t> file = MakeBitmapFile(Rgb3x2());
    std::vector<std::uint8_t> longer(file.begin(), file.begin() + 54);
    longer.insert(longer.end(), 68 + 10, 0xCC);
    longer.insert(longer.end(), file.begin() + 54, file.end());
    Put32(longer, kInfoOffset, 108);
    Put32(longer, 10, 14 + 108 + 10);
    const BitmapLoad load = ParseBitmapFile(longer);
    ASSERT_EQ(load.error, 0);
    EXPECT_EQ(Rows(load), Rgb3x2().rows);
}

struct Lie {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> edit;
    int error;
};

TEST(ParseBitmapFile, RefusesFilesWhoseHeadersLie) {
    const std::vector<Lie> lies = {
        {"signature", [](auto& f) { f[0] = 'X'; }, EINVAL},
        {"cut inside the header", [](auto& f) { f.resize(30); }, EINVAL},
        {"cut inside the rows", [](auto& f) { f.pop_back(); }, EINVAL},
        {"rows offset past the end", [](auto& f) { Put32(f, 10, 0xFFFFFFF0u); }, EINVAL},
        {"rows offset inside the colour table", [](auto& f) { Put32(f, 10, 60); }, EINVAL},
        {"header size past the end", [](auto& f) { Put32(f, kInfoOffset, 0x7FFFFFFF); }, EINVAL},
        {"header size too small", [](auto& f) { Put32(f, kInfoOffset, 39); }, EINVAL},
        {"OS/2 core header", [](auto& f) { Put32(f, kInfoOffset, 12); }, ENOTSUP},
        {"width 0", [](auto& f) { Put32(f, kInfoOffset + 4, 0); }, EINVAL},
        {"negative width", [](auto& f) { Put32(f, kInfoOffset + 4, 0xFFFFFFFBu); }, EINVAL},
        {"huge width", [](auto& f) { Put32(f, kInfoOffset + 4, 0x7FFFFFFF); }, EINVAL},
        {"height 0", [](auto& f) { Put32(f, kInfoOffset + 8, 0); }, EINVAL},
        {"huge height", [](auto& f) { Put32(f, kInfoOffset + 8, 0x7FFFFFFF); }, EINVAL},
        {"most negative height", [](auto& f) { Put32(f, kInfoOffset + 8, 0x80000000u); }, EINVAL},
        {"two planes", [](auto& f) { Put16(f, kInfoOffset + 12, 2); }, EINVAL},
        {"2 bits", [](auto& f) { Put16(f, kInfoOffset + 14, 2); }, EINVAL},
        {"0 bits", [](auto& f) { Put16(f, kInfoOffset + 14, 0); }, EINVAL},
        {"16 bits, rows too short", [](auto& f) { Put16(f, kInfoOffset + 14, 16); }, EINVAL},
        {"colour table longer than the depth allows",
         [](auto& f) { Put32(f, kInfoOffset + 32, 257); }, EINVAL},
        {"colour table of 2^32-1 entries", [](auto& f) { Put32(f, kInfoOffset + 32, 0xFFFFFFFF); },
         EINVAL},
        {"BI_BITFIELDS", [](auto& f) { Put32(f, kInfoOffset + 16, kBiBitfields); }, ENOTSUP},
        {"run-length encoded", [](auto& f) { Put32(f, kInfoOffset + 16, 1); }, ENOTSUP},
    };
    const std::vector<std::uint8_t> good = MakeBitmapFile(Indexed5x3());
    ASSERT_EQ(ParseBitmapFile(good).error, 0);
    for (const Lie& lie : lies) {
        std::vector<std::uint8_t> file = good;
        lie.edit(file);
        const BitmapLoad load = ParseBitmapFile(file);
        EXPECT_EQ(load.error, lie.error) << lie.what;
        EXPECT_TRUE(load.bitmap.empty()) << lie.what;
    }
    EXPECT_EQ(ParseBitmapFile({}).error, EINVAL);
}

TEST(ParseBitmapFile, ReadsBiClrUsedZeroAsAFullColourTable) {
    // biClrUsed 0 means a full table; a file that stores fewer entries before its rows is
    // refused rather than read with rows as colours.
    BitmapLayout layout = Indexed5x3();
    layout.clrUsed = 0;
    EXPECT_EQ(ParseBitmapFile(MakeBitmapFile(layout)).error, EINVAL);
    layout.colourTable.resize(256 * 4, 0);
    EXPECT_EQ(ParseBitmapFile(MakeBitmapFile(layout)).error, 0);
}

TEST(LoadBitmapFile, ReadsAFileAndReportsWhyOneCannotBeRead) {
    const testsupport::TempDir dir;
    const std::string path = dir / "picture.bmp";
    testsupport::WriteFile(path, outputtest::AsString(MakeBitmapFile(Rgb3x2())));
    const BitmapLoad load = LoadBitmapFile(path);
    ASSERT_EQ(load.error, 0);
    EXPECT_EQ(Rows(load), Rgb3x2().rows);

    EXPECT_EQ(LoadBitmapFile(dir / "missing.bmp").error, ENOENT);
    EXPECT_EQ(LoadBitmapFile(dir.path()).error, EISDIR);
    EXPECT_EQ(LoadBitmapFile("/dev/null").error, EINVAL);
    testsupport::WriteFile(path, "BM");
    EXPECT_EQ(LoadBitmapFile(path).error, EINVAL);
}

TEST(BitmapToPackedDib, RewritesTheHeaderAndRefusesBitfields) {
    BitmapLoad load = ParseBitmapFile(MakeBitmapFile(Indexed5x3()));
    ASSERT_EQ(load.error, 0);
    EXPECT_FALSE(BitmapToPackedDib(ParseBitmapFile(MakeBitmapFile(Rgb3x2())).bitmap, kBiBitfields));
    EXPECT_FALSE(BitmapToPackedDib(PackedDib(), kBiRgb));

    const std::optional<PackedDib> dib = BitmapToPackedDib(std::move(load.bitmap), kBiRgb);
    ASSERT_TRUE(dib);
    const auto bytes = dib->bytes();
    const BitmapInfoHeader header = ReadBitmapInfoHeader(bytes.first<kBitmapInfoHeaderBytes>());
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 5);
    EXPECT_EQ(header.biHeight, 3);
    EXPECT_EQ(header.biPlanes, 1);
    EXPECT_EQ(header.biBitCount, 8);
    EXPECT_EQ(header.biCompression, kBiRgb);
    EXPECT_EQ(header.biSizeImage, 24u);
    EXPECT_EQ(header.biClrUsed, 0u);
    EXPECT_EQ(bytes.size(), 40u + 1024u + 24u);
}

}  // namespace
