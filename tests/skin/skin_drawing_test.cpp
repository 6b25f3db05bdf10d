#include "skin/skin_drawing.h"

#include <gtest/gtest.h>

namespace {

constexpr QRgb kMagenta = 0xFFFF00FFu;
constexpr QRgb kRed = 0xFFFF0000u;
constexpr QRgb kBlue = 0xFF0000FFu;
constexpr QRgb kBlack = 0xFF000000u;
constexpr QRgb kYellow = 0xFFFFFF00u;

QImage Filled(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A sprite on a key-coloured field: a red square in the middle, and one key-coloured pixel
// inside the square that must turn transparent too.
QImage Sprite() {
    QImage image = Filled(8, 6, kMagenta);
    for (int y = 1; y < 5; ++y) {
        for (int x = 2; x < 6; ++x) {
            image.setPixel(x, y, kRed);
        }
    }
    image.setPixel(3, 2, kMagenta);
    return image;
}

bool MaskBit(const QImage& mask, int x, int y) {
    return (mask.pixel(x, y) & 0xFFFFFFu) == 0xFFFFFFu;
}

// The sprite drawn transparently over a blue surface.
QImage DrawnOverBlue(const QImage& image, const QImage& mask) {
    QImage surface = Filled(image.width(), image.height(), kBlue);
    QPainter painter(&surface);
    DrawTransparent(painter, 0, 0, image.width(), image.height(), image, 0, 0, mask);
    painter.end();
    return surface;
}

TEST(SkinDrawingTest, TheKeyColourFromAPixelIsTransparentWhereverItLies) {
    QImage image = Sprite();
    QImage mask;
    BuildMask(image, mask, KEY_FROM_PIXEL, 0, 0);
    ASSERT_EQ(mask.size(), image.size());
    EXPECT_EQ(mask.depth(), 1);
    EXPECT_TRUE(MaskBit(mask, 0, 0));
    EXPECT_TRUE(MaskBit(mask, 3, 2));  // inside the square
    EXPECT_FALSE(MaskBit(mask, 2, 1));
    EXPECT_EQ(image.pixel(0, 0), kBlack);
    EXPECT_EQ(image.pixel(3, 2), kBlack);
    EXPECT_EQ(image.pixel(2, 1), kRed);

    const QImage drawn = DrawnOverBlue(image, mask);
    EXPECT_EQ(drawn.pixel(0, 0), kBlue);
    EXPECT_EQ(drawn.pixel(3, 2), kBlue);
    EXPECT_EQ(drawn.pixel(2, 1), kRed);
    EXPECT_EQ(drawn.pixel(5, 4), kRed);
}

TEST(SkinDrawingTest, AnImageWithoutTheKeyColourDrawsOpaque) {
    QImage image = Sprite();
    QImage mask;
    BuildMask(image, mask, RgbColor(0, 255, 0), 0, 0);
    for (int y = 0; y < mask.height(); ++y) {
        for (int x = 0; x < mask.width(); ++x) {
            ASSERT_FALSE(MaskBit(mask, x, y));
        }
    }
    EXPECT_EQ(DrawnOverBlue(image, mask), Sprite());

    // A key pixel outside the image names no colour at all.
    QImage outside = Sprite();
    BuildMask(outside, mask, KEY_FROM_PIXEL, 100, 100);
    EXPECT_EQ(outside, Sprite());
    EXPECT_FALSE(MaskBit(mask, 0, 0));
}

TEST(SkinDrawingTest, ABlackKeyLeavesTheImageAsItIsAndItsBlackShowsThrough) {
    QImage image = Filled(4, 4, kBlack);
    image.setPixel(1, 1, kRed);
    const QImage original = image;
    QImage mask;
    BuildMask(image, mask, RgbColor(0, 0, 0), 0, 0);
    EXPECT_EQ(image, original);
    const QImage drawn = DrawnOverBlue(image, mask);
    EXPECT_EQ(drawn.pixel(0, 0), kBlue);
    EXPECT_EQ(drawn.pixel(1, 1), kRed);
}

TEST(SkinDrawingTest, TheOffScreenSurfaceStartsFromWhatIsUnderItAndLandsWhereItCameFrom) {
    QImage screen = Filled(40, 30, kYellow);
    {
        QPainter target(&screen);
        target.setBackground(QColor(kBlue));
        // Filled with the background colour, then drawn in the target's coordinates.
        {
            CMemoryDC memory(target, QRect(10, 5, 10, 10), nullptr);
            memory.painter().fillRect(QRect(15, 5, 5, 10), QColor(kRed));
        }
        // Copy first: starts with the picture under the rectangle.
        const QImage under = Filled(10, 10, kMagenta);
        {
            CMemoryDC memory(target, QRect(25, 5, 10, 10), &under);
            EXPECT_EQ(memory.surface().pixel(0, 0), kMagenta);
        }
    }
    EXPECT_EQ(screen.pixel(9, 5), kYellow);
    EXPECT_EQ(screen.pixel(10, 5), kBlue);
    EXPECT_EQ(screen.pixel(15, 14), kRed);
    EXPECT_EQ(screen.pixel(20, 5), kYellow);
    EXPECT_EQ(screen.pixel(25, 5), kMagenta);
    EXPECT_EQ(screen.pixel(34, 14), kMagenta);
}

TEST(SkinDrawingTest, ASavedBackgroundIsPutBackAtItsPlace) {
    QImage surface = Filled(20, 20, kBlue);
    surface.setPixel(5, 6, kRed);
    QImage saved;
    SaveBackground(surface, QRect(4, 5, 3, 3), saved);
    ASSERT_EQ(saved.size(), QSize(3, 3));
    QImage changed = Filled(20, 20, kYellow);
    QPainter painter(&changed);
    RestoreBackground(painter, QPoint(4, 5), saved);
    painter.end();
    EXPECT_EQ(changed.pixel(5, 6), kRed);
    EXPECT_EQ(changed.pixel(4, 5), kBlue);
    EXPECT_EQ(changed.pixel(7, 5), kYellow);
}

}  // namespace
