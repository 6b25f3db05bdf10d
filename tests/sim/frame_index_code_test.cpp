#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "sim/simulated_microscope.h"
#include "yuy2_picture.h"

namespace {

using sim::Kind;
using sim::SimulatedMicroscope;
using simtest::RowToBgr;
using simtest::Yuy2Frame;

constexpr int kCodeWidth = 32 * sim::kIndexCellPixels;

// A row of mid-grey specimen-like pixels with some colour, written over by the code.
Yuy2Frame ColouredRow(int width) {
    Yuy2Frame frame{width, 1, std::vector<std::uint8_t>(2 * static_cast<std::size_t>(width))};
    for (std::size_t i = 0; i < frame.bytes.size(); i += 4) {
        frame.bytes[i] = 120;
        frame.bytes[i + 1] = 170;
        frame.bytes[i + 2] = 140;
        frame.bytes[i + 3] = 60;
    }
    return frame;
}

TEST(FrameIndexCodeTest, SurvivesLimitedRangeConversionToBgr) {
    const std::uint32_t indices[] = {0u,          1u,          2u,         0x80000000u,
                                     0x7FFFFFFFu, 0xA5C3F00Fu, 123456789u, 0xFFFFFFFFu};
    for (const int width : {kCodeWidth, 320, 1280}) {
        for (const std::uint32_t index : indices) {
            Yuy2Frame row = ColouredRow(width);
            sim::WriteFrameIndex(row.bytes.data(), width, index);
            const std::vector<std::uint8_t> bgr = RowToBgr(row, 0);
            EXPECT_EQ(sim::ReadFrameIndexBgr(bgr.data(), width), index)
                << "width " << width << " index " << index;
        }
    }
}

TEST(FrameIndexCodeTest, ReadsFullRangeConversionAndSlightlyBlurredCells) {
    Yuy2Frame row = ColouredRow(320);
    sim::WriteFrameIndex(row.bytes.data(), 320, 0x0F0F3C3Cu);
    // Full-range reading of the same luma (white 235, black 16) and a neighbour blend at each
    // cell edge, as a scaler or a lossy codec would leave it.
    std::vector<std::uint8_t> bgr(3 * 320);
    for (int x = 0; x < 320; ++x) {
        int luma = row.Luma(x, 0);
        if (x % sim::kIndexCellPixels == 0 && x > 0) {
            luma = (luma + row.Luma(x - 1, 0)) / 2;
        }
        for (int channel = 0; channel < 3; ++channel) {
            bgr[3 * static_cast<std::size_t>(x) + static_cast<std::size_t>(channel)] =
                static_cast<std::uint8_t>(luma);
        }
    }
    EXPECT_EQ(sim::ReadFrameIndexBgr(bgr.data(), 320), 0x0F0F3C3Cu);
}

TEST(FrameIndexCodeTest, RejectsNarrowRowsAndRowsWithoutCode) {
    std::vector<std::uint8_t> bgr(3 * 320, 255);
    EXPECT_EQ(sim::ReadFrameIndexBgr(bgr.data(), 320), 0xFFFFFFFFu);
    EXPECT_FALSE(sim::ReadFrameIndexBgr(bgr.data(), kCodeWidth - 1).has_value());
    EXPECT_FALSE(sim::ReadFrameIndexBgr(nullptr, 320).has_value());

    // A mid-grey cell is neither bit.
    bgr[3 * 100] = bgr[3 * 100 + 1] = bgr[3 * 100 + 2] = 128;
    bgr[3 * 101] = bgr[3 * 101 + 1] = bgr[3 * 101 + 2] = 128;
    bgr[3 * 98] = bgr[3 * 98 + 1] = bgr[3 * 98 + 2] = 128;
    bgr[3 * 99] = bgr[3 * 99 + 1] = bgr[3 * 99 + 2] = 128;
    EXPECT_FALSE(sim::ReadFrameIndexBgr(bgr.data(), 320).has_value());

    // Writing into a row too narrow for the code leaves it alone.
    Yuy2Frame narrow = ColouredRow(kCodeWidth - 2);
    const std::vector<std::uint8_t> before = narrow.bytes;
    sim::WriteFrameIndex(narrow.bytes.data(), narrow.width, 0u);
    EXPECT_EQ(narrow.bytes, before);
}

// The code is drawn only when the options ask for it; otherwise the top rows show the
// specimen like the rest of the frame.
TEST(FrameIndexCodeTest, RenderedFramesCarryTheirIndexInTheTopRowsOnlyWhenAsked) {
    for (const Kind kind : {Kind::Microscope, Kind::Camera}) {
        SimulatedMicroscope plain({.kind = kind});
        SimulatedMicroscope coded({.kind = kind, .frameIndexCode = true});
        for (const FrameSize size : plain.FrameSizes()) {
            // Indices with 1 bits, so that a code would show white cells.
            for (const std::uint64_t index : {std::uint64_t{4242}, std::uint64_t{0x1'0000'0007}}) {
                const Yuy2Frame withCode = simtest::Render(coded, index, size);
                const Yuy2Frame without = simtest::Render(plain, index, size);
                for (const int y : {0, sim::kIndexCellPixels - 1}) {
                    // Only the low 32 bits of the index fit the code.
                    EXPECT_EQ(sim::ReadFrameIndexBgr(RowToBgr(withCode, y).data(), size.width),
                              static_cast<std::uint32_t>(index))
                        << size.width << "x" << size.height << " row " << y;
                    EXPECT_NE(sim::ReadFrameIndexBgr(RowToBgr(without, y).data(), size.width),
                              static_cast<std::uint32_t>(index))
                        << size.width << "x" << size.height << " row " << y;
                }
                // Below the code's rows both frames are the same picture.
                const std::size_t codeBytes =
                    2 * static_cast<std::size_t>(size.width) * sim::kIndexCellPixels;
                EXPECT_TRUE(std::equal(withCode.bytes.begin() + codeBytes, withCode.bytes.end(),
                                       without.bytes.begin() + codeBytes))
                    << size.width << "x" << size.height;
            }
        }
    }
}

}  // namespace
