#include "output/burned_overlays.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "output/scale_overlays.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 960;
constexpr std::size_t kRowBytes = kWidth * 3;

struct Still {
    std::vector<std::uint8_t> rows = std::vector<std::uint8_t>(kRowBytes * kHeight, 0x60);
    // The pixel at (x, y) counted from the top, as 0xRRGGBB.
    std::uint32_t At(int x, int y) const {
        const std::uint8_t* p = rows.data() + (kHeight - 1 - y) * kRowBytes + 3 * x;
        return (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
    }
    // The longest run of white pixels along any row from `top` down.
    int LongestWhiteRun(int top) const {
        int longest = 0;
        for (int y = top; y < kHeight; ++y) {
            int run = 0;
            for (int x = 0; x < kWidth; ++x) {
                run = At(x, y) == 0xFFFFFF ? run + 1 : 0;
                longest = std::max(longest, run);
            }
        }
        return longest;
    }
};

// Burned in, the overlays lie where a window of the frame's size would show them: the cross
// line through the frame's middle, the scale bar as long as the frame's scale says.
TEST(BurnedOverlays, LieAtTheFramesOwnScale) {
    const PictureScale scale{2.0, 2.0, QStringLiteral("x200"), {}};
    OverlaySwitches nothing;
    StillOverlays none;
    Still untouched;
    EXPECT_FALSE(
        BurnOverlays(untouched.rows.data(), untouched.rows.size(), kWidth, kHeight, nothing, none));
    EXPECT_EQ(untouched.LongestWhiteRun(0), 0);

    StillOverlays withBar;
    withBar.scale = scale;
    withBar.scaleBar = true;
    Still barred;
    ASSERT_TRUE(
        BurnOverlays(barred.rows.data(), barred.rows.size(), kWidth, kHeight, nothing, withBar));
    const QRect client(0, 0, kWidth, kHeight);
    const ScaleBarChoice bar =
        ChooseScaleBar(client, QRectF(client), QSize(kWidth, kHeight), scale);
    EXPECT_DOUBLE_EQ(bar.micrometres, 500.0);  // a fifth of 2560 µm, rounded down
    EXPECT_NEAR(barred.LongestWhiteRun(kHeight * 3 / 4), bar.framePixels, 3.0);
    EXPECT_EQ(barred.At(10, 10), 0x606060u);  // away from the bar the frame is as it was

    OverlaySwitches cross;
    cross.showCrossLine = 1;
    Still crossed;
    ASSERT_TRUE(
        BurnOverlays(crossed.rows.data(), crossed.rows.size(), kWidth, kHeight, cross, none));
    for (const int x : {0, kWidth / 3, kWidth - 1}) {
        EXPECT_EQ(crossed.At(x, kHeight / 2), 0xFFFFFFu) << x;
    }
    EXPECT_EQ(crossed.At(kWidth / 3, kHeight / 3), 0x606060u);

    // Rows too short for the frame are left alone.
    Still shortRows;
    EXPECT_FALSE(BurnOverlays(shortRows.rows.data(), shortRows.rows.size() - 1, kWidth, kHeight,
                              cross, withBar));
}

}  // namespace
