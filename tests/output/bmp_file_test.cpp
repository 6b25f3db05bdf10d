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

std::vector<std::uint8_t> Rows(const IoResultOf<PackedDib>& load) {
    const auto rows = load->Rows();
    return {rows.begin(), rows.end()};
}

TEST(ParseBitmapFile, LoadsABottomUpPictureAsItIsStored) {
    const BitmapLayout layout = Rgb3x2();
    const IoResultOf<PackedDib> load = ParseBitmapFile(MakeBitmapFile(layout));
    ASSERT_EQ(load.error(), 0);
    const BitmapInfoHeader& header = load->layout().header;
    EXPECT_EQ(header.biSize, 40u);
    EXPECT_EQ(header.biWidth, 3);
    EXPECT_EQ(header.biHeight, 2);
    EXPECT_EQ(header.biBitCount, 24);
    EXPECT_EQ(header.biSizeImage, 24u);
    EXPECT_EQ(Rows(load), layout.rows);
    EXPECT_EQ(load->bytes().size(), 40u + 24u);
}

TEST(ParseBitmapFile, TurnsTopDownRowsBottomUp) {
    BitmapLayout layout = Rgb3x2();
    layout.height = -2;
    const IoResultOf<PackedDib> load = ParseBitmapFile(MakeBitmapFile(layout));
    ASSERT_EQ(load.error(), 0);
    EXPECT_EQ(load->layout().header.biHeight, 2);
    std::vector<std::uint8_t> flipped(layout.rows.begin() + 12, layout.rows.end());
    flipped.insert(flipped.end(), layout.rows.begin(), layout.rows.begin() + 12);
    EXPECT_EQ(Rows(load), flipped);
}

TEST(ParseBitmapFile, GivesEveryIndexedPictureAFullColourTable) {
    const BitmapLayout layout = Indexed5x3();
    const IoResultOf<PackedDib> load = ParseBitmapFile(MakeBitmapFile(layout));
    ASSERT_EQ(load.error(), 0);
    EXPECT_EQ(load->layout().header.biClrUsed, 0u);
    ASSERT_EQ(load->layout().colourTableEntries, 256u);
    const auto table = load->bytes().subspan(40, 256 * 4);
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
        const IoResultOf<PackedDib> load = ParseBitmapFile(MakeBitmapFile(layout));
        ASSERT_EQ(load.error(), 0) << bitCount;
        EXPECT_EQ(load->layout().header.biBitCount, bitCount);
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
    const IoResultOf<PackedDib> load = ParseBitmapFile(longer);
    ASSERT_EQ(load.error(), 0);
    EXPECT_EQ(Rows(load), Rgb3x2().rows);
}

struct Lie {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> edit;
    int error;
};

TEST(ParseBitmapFile, RefusesFilesWhoseHeadersLie) {
    const std::vector<Lie> lies = {
        {"signature", [](auto& f) { f[0] = 'X'; }, EBADMSG},
        {"cut inside the header", [](auto& f) { f.resize(30); }, EBADMSG},
        {"cut inside the rows", [](auto& f) { f.pop_back(); }, EBADMSG},
        {"rows offset past the end", [](auto& f) { Put32(f, 10, 0xFFFFFFF0u); }, EBADMSG},
        {"rows offset inside the colour table", [](auto& f) { Put32(f, 10, 60); }, EBADMSG},
        {"header size past the end", [](auto& f) { Put32(f, kInfoOffset, 0x7FFFFFFF); }, EBADMSG},
        {"header size too small", [](auto& f) { Put32(f, kInfoOffset, 39); }, EBADMSG},
        {"width 0", [](auto& f) { Put32(f, kInfoOffset + 4, 0); }, EBADMSG},
        {"negative width", [](auto& f) { Put32(f, kInfoOffset + 4, 0xFFFFFFFBu); }, EBADMSG},
        {"huge width", [](auto& f) { Put32(f, kInfoOffset + 4, 0x7FFFFFFF); }, EBADMSG},
        {"height 0", [](auto& f) { Put32(f, kInfoOffset + 8, 0); }, EBADMSG},
        {"huge height", [](auto& f) { Put32(f, kInfoOffset + 8, 0x7FFFFFFF); }, EBADMSG},
        {"most negative height", [](auto& f) { Put32(f, kInfoOffset + 8, 0x80000000u); }, EBADMSG},
        {"two planes", [](auto& f) { Put16(f, kInfoOffset + 12, 2); }, EBADMSG},
        {"2 bits", [](auto& f) { Put16(f, kInfoOffset + 14, 2); }, EBADMSG},
        {"0 bits", [](auto& f) { Put16(f, kInfoOffset + 14, 0); }, EBADMSG},
        {"16 bits, rows too short", [](auto& f) { Put16(f, kInfoOffset + 14, 16); }, EBADMSG},
        {"colour table longer than the depth allows",
         [](auto& f) { Put32(f, kInfoOffset + 32, 257); }, EBADMSG},
        {"colour table of 2^32-1 entries", [](auto& f) { Put32(f, kInfoOffset + 32, 0xFFFFFFFF); },
         EBADMSG},
        {"BI_BITFIELDS", [](auto& f) { Put32(f, kInfoOffset + 16, kBiBitfields); }, ENOTSUP},
        {"run-length encoded", [](auto& f) { Put32(f, kInfoOffset + 16, 1); }, ENOTSUP},
    };
    const std::vector<std::uint8_t> good = MakeBitmapFile(Indexed5x3());
    ASSERT_EQ(ParseBitmapFile(good).error(), 0);
    for (const Lie& lie : lies) {
        std::vector<std::uint8_t> file = good;
        lie.edit(file);
        const IoResultOf<PackedDib> load = ParseBitmapFile(file);
        EXPECT_EQ(load.error(), lie.error) << lie.what;
    }
    EXPECT_EQ(ParseBitmapFile({}).error(), EBADMSG);
}

TEST(ParseBitmapFile, ReadsBiClrUsedZeroAsAFullColourTable) {
    // biClrUsed 0 means a full table; a file that stores fewer entries before its rows is
    // refused rather than read with rows as colours.
    BitmapLayout layout = Indexed5x3();
    layout.clrUsed = 0;
    EXPECT_EQ(ParseBitmapFile(MakeBitmapFile(layout)).error(), EBADMSG);
    layout.colourTable.resize(256 * 4, 0);
    EXPECT_EQ(ParseBitmapFile(MakeBitmapFile(layout)).error(), 0);
}

TEST(LoadBitmapFile, ReadsAFileAndReportsWhyOneCannotBeRead) {
    const testsupport::TempDir dir;
    const std::string path = dir / "picture.bmp";
    testsupport::WriteFile(path, outputtest::AsString(MakeBitmapFile(Rgb3x2())));
    const IoResultOf<PackedDib> load = LoadBitmapFile(path);
    ASSERT_EQ(load.error(), 0);
    EXPECT_EQ(Rows(load), Rgb3x2().rows);

    EXPECT_EQ(LoadBitmapFile(dir / "missing.bmp").error(), ENOENT);
    EXPECT_EQ(LoadBitmapFile(dir.path()).error(), EISDIR);
    EXPECT_EQ(LoadBitmapFile("/dev/null").error(), EINVAL);
    testsupport::WriteFile(path, "BM");
    EXPECT_EQ(LoadBitmapFile(path).error(), EBADMSG);
}

TEST(ParseBitmapFile, ReadsTheOs2HeaderAndItsThreeByteColourTable) {
    // 12-byte header: 16-bit width, height, planes, depth; 3-byte entries up to the rows.
    // Three colours stored of the 16 a 4-bit picture may have; the rest are black.
    std::vector<std::uint8_t> file = {'B', 'M', 0,  0,  0,  0,  0,  0,  0,  0,  35, 0,
                                      0,   0,   12, 0,  0,  0,  3,  0,  2,  0,  1,  0,
                                      4,   0,   10, 20, 30, 40, 50, 60, 70, 80, 90};
    const std::vector<std::uint8_t> rows = {0x01, 0x20, 0, 0, 0x12, 0x00, 0, 0};
    file.insert(file.end(), rows.begin(), rows.end());
    IoResultOf<PackedDib> load = ParseBitmapFile(file);
    ASSERT_EQ(load.error(), 0);
    const BitmapInfoHeader& header = load->layout().header;
    EXPECT_EQ(header.biWidth, 3);
    EXPECT_EQ(header.biHeight, 2);
    EXPECT_EQ(header.biBitCount, 4);
    EXPECT_EQ(Rows(load), rows);
    const auto table = load->ColourTable();
    ASSERT_EQ(table.size(), 16u * 4u);
    EXPECT_EQ(std::vector<std::uint8_t>(table.begin(), table.begin() + 16),
              (std::vector<std::uint8_t>{10, 20, 30, 0, 40, 50, 60, 0, 70, 80, 90, 0, 0, 0, 0, 0}));

    // The OS/2 header has no 16- or 32-bit pictures, and no room for a 40-byte header's.
    std::vector<std::uint8_t> sixteen = file;
    sixteen[24] = 16;
    EXPECT_EQ(ParseBitmapFile(sixteen).error(), EBADMSG);
}

TEST(BitmapRowReader, ReadsBandsOfRowsTopFirstWhateverTheFileOrder) {
    BitmapLayout layout{.width = 1, .height = 5, .bitCount = 8, .clrUsed = 1};
    layout.colourTable = {0, 0, 0, 0};
    // Stored bottom-up: picture row y holds the byte 10 + y.
    for (int stored = 0; stored < 5; ++stored) {
        layout.rows.insert(layout.rows.end(), {static_cast<std::uint8_t>(14 - stored), 0, 0, 0});
    }
    const std::vector<std::uint8_t> bottomUp = MakeBitmapFile(layout);
    for (std::uint8_t* row = layout.rows.data(); row < layout.rows.data() + 20; row += 4) {
        *row = static_cast<std::uint8_t>(24 - *row);  // top-down now: 10 at the top
    }
    layout.height = -5;
    const std::vector<std::uint8_t> topDown = MakeBitmapFile(layout);
    for (const auto* file : {&bottomUp, &topDown}) {
        BitmapRowReader reader;
        ASSERT_TRUE(reader.Parse(*file));
        EXPECT_EQ(reader.height(), 5);
        std::uint8_t band[12] = {};
        ASSERT_TRUE(reader.ReadRows(1, 3, band));
        EXPECT_EQ(band[0], 11);
        EXPECT_EQ(band[4], 12);
        EXPECT_EQ(band[8], 13);
        EXPECT_EQ(reader.ReadRows(3, 3, band).error(), EINVAL) << "past the bottom row";
    }
}

TEST(BitmapToPackedDib, RewritesTheHeaderAndRefusesBitfields) {
    IoResultOf<PackedDib> load = ParseBitmapFile(MakeBitmapFile(Indexed5x3()));
    ASSERT_EQ(load.error(), 0);
    EXPECT_EQ(BitmapToPackedDib(*ParseBitmapFile(MakeBitmapFile(Rgb3x2())), kBiBitfields).error(),
              ENOTSUP);
    EXPECT_EQ(BitmapToPackedDib(PackedDib(), kBiRgb).error(), EINVAL);

    const IoResultOf<PackedDib> dib = BitmapToPackedDib(*std::move(load), kBiRgb);
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
