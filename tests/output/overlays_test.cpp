#include "output/overlays.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <vector>

namespace {

constexpr QRgb kGrey = 0xFF808080u;
constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kBlack = 0xFF000000u;

struct Switches {
    int clock = 0;
    int cross = 0;
    int grid = 0;
    int circles = 0;
};

class OverlayTest : public ::testing::Test {
protected:
    // The overlays drawn over a grey picture of the given client size.
    QImage Render(int width, int height, Switches on) {
        switches.showClock = on.clock;
        switches.showCrossLine = on.cross;
        switches.showGrid = on.grid;
        switches.showCircles = on.circles;
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(kGrey);
        QPainter painter(&image);
        DrawOverlays(painter, QRect(0, 0, width, height), switches);
        return image;
    }

    // The x coordinates painted in `colour` on row y.
    static std::vector<int> Row(const QImage& image, int y, QRgb colour) {
        std::vector<int> xs;
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == colour) {
                xs.push_back(x);
            }
        }
        return xs;
    }
    static std::vector<int> Column(const QImage& image, int x, QRgb colour) {
        std::vector<int> ys;
        for (int y = 0; y < image.height(); ++y) {
            if (image.pixel(x, y) == colour) {
                ys.push_back(y);
            }
        }
        return ys;
    }
    static int Count(const QImage& image, QRgb colour) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            count += static_cast<int>(Row(image, y, colour).size());
        }
        return count;
    }

    OverlaySwitches switches;
};

TEST_F(OverlayTest, NothingIsDrawnWhileEveryOverlayIsOff) {
    const QImage image = Render(640, 480, {});
    EXPECT_EQ(Count(image, kGrey), 640 * 480);
}

TEST_F(OverlayTest, TheCrossRunsEdgeToEdgeThroughTheCentre) {
    const QImage image = Render(640, 480, {.cross = 1});
    EXPECT_EQ(Row(image, 240, kWhite).size(), 640u);
    EXPECT_EQ(Column(image, 320, kWhite).size(), 480u);
    EXPECT_EQ(Count(image, kWhite), 640 + 480 - 1);
}

TEST_F(OverlayTest, ScaleTicksStandEveryFourPixelsWithMiddleAndLongTicks) {
    const QImage image = Render(640, 480, {.grid = 1});
    // The vertical scale: 60 steps each way from y = 240.
    std::vector<int> longRows;
    std::vector<int> middleRows;
    for (int y = 0; y < 480; ++y) {
        const std::vector<int> xs = Row(image, y, kBlack);
        if (y % 4 != 0) {
            // Only the horizontal scale's vertical ticks cross these rows, near the centre row.
            if (std::abs(y - 240) > 6) {
                EXPECT_TRUE(xs.empty()) << "row " << y;
            }
            continue;
        }
        std::vector<int> onAxis;
        for (const int x : xs) {
            if (x >= 320 - 6 && x < 320 + 6) {
                onAxis.push_back(x);
            }
        }
        if (y == 240 || y == 0) {
            continue;  // crossed by the horizontal scale; beyond the last step
        }
        ASSERT_FALSE(onAxis.empty()) << "row " << y;
        const int half = (320 - onAxis.front());
        EXPECT_EQ(onAxis.back(), 320 + half - 1) << "row " << y;  // the end point is left out
        if (half == 6) {
            longRows.push_back(y);
        } else if (half == 3) {
            middleRows.push_back(y);
        } else {
            EXPECT_EQ(half, 1) << "row " << y;
        }
    }
    EXPECT_EQ(longRows, std::vector<int>({40, 80, 120, 160, 200, 280, 320, 360, 400, 440}));
    EXPECT_EQ(middleRows,
              std::vector<int>({20, 60, 100, 140, 180, 220, 260, 300, 340, 380, 420, 460}));
    // The horizontal scale: 80 steps each way, the outermost ticks at x = 4 and x = 636. Every
    // tick covers the row above the centre; only middle and long ones reach the row below.
    const std::vector<int> aboveCentre = Row(image, 239, kBlack);
    EXPECT_EQ(aboveCentre.front(), 4);
    EXPECT_EQ(aboveCentre.back(), 636);
    EXPECT_EQ(aboveCentre.size(), 2u * 79u + 1u);
    EXPECT_EQ(Row(image, 241, kBlack).size(), 2u * 15u);
    // No axis line between the ticks.
    EXPECT_EQ(image.pixel(322, 240), kGrey);
    EXPECT_EQ(image.pixel(320, 242), kGrey);
}

TEST_F(OverlayTest, CirclesHaveFifthsOfHalfTheHeightAsRadii) {
    const QImage image = Render(640, 480, {.circles = 1});
    // Down the centre column: each circle's top and bottom, the outermost touching the edges.
    const std::vector<int> column = Column(image, 320, kWhite);
    for (const int radius : {48, 96, 144, 192, 240}) {
        EXPECT_NE(std::find(column.begin(), column.end(), 240 - radius), column.end()) << radius;
        EXPECT_NE(std::find(column.begin(), column.end(), 240 + radius - 1), column.end())
            << radius;
        EXPECT_EQ(std::find(column.begin(), column.end(), 240 - radius - 1), column.end())
            << radius;
        // Left and right extremes on the centre row.
        EXPECT_EQ(image.pixel(320 - radius, 240), kWhite) << radius;
        EXPECT_EQ(image.pixel(320 + radius - 1, 240), kWhite) << radius;
        EXPECT_EQ(image.pixel(320 + radius, 240), kGrey) << radius;
    }
    EXPECT_EQ(column.front(), 0);
    EXPECT_EQ(column.back(), 479);
    // Hollow: the centre stays as it was.
    EXPECT_EQ(image.pixel(320, 240), kGrey);
    // Their size does not follow the width.
    const QImage wide = Render(1000, 480, {.circles = 1});
    EXPECT_EQ(wide.pixel(500 - 240, 240), kWhite);
    EXPECT_EQ(wide.pixel(500 - 241, 240), kGrey);
}

TEST_F(OverlayTest, ABlackTickIsDrawnOverTheWhiteCross) {
    const QImage image = Render(640, 480, {.cross = 1, .grid = 1});
    for (int y = 0; y < 480; ++y) {
        // The vertical scale's ticks, and the centre tick of the horizontal one (y = 239, 240).
        const QRgb expected = ((y % 4 == 0 && y >= 4) || y == 239) ? kBlack : kWhite;
        ASSERT_EQ(image.pixel(320, y), expected) << y;
    }
}

TEST_F(OverlayTest, AOnePixelHighClientHasNoVerticalScaleAndEmptyCircles) {
    const QImage flat = Render(640, 1, {.grid = 1, .circles = 1});
    // The horizontal scale's ticks of half-length 1 cover only the row above the centre,
    // which is this row; no circle leaves a white pixel.
    EXPECT_EQ(Count(flat, kWhite), 0);
    EXPECT_EQ(Row(flat, 0, kBlack).size(), 2u * 79u + 1u);

    const QImage narrow = Render(1, 480, {.grid = 1});
    // cx = 0: only the vertical scale, each tick from x = -L to L - 1, so x = 0 only.
    EXPECT_EQ(Column(narrow, 0, kBlack).size(), 2u * 59u + 1u);
}

TEST_F(OverlayTest, TheClockShowsDateAndTimeWithoutLeadingZeros) {
    EXPECT_EQ(ClockOverlayText(QDateTime(QDate(2008, 3, 7), QTime(9, 5, 3))),
              QStringLiteral("2008-3-7 9:5:3"));
    EXPECT_EQ(ClockOverlayText(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 0))),
              QStringLiteral("2026-12-31 23:59:0"));

    switches.showClock = 1;
    QImage image(640, 480, QImage::Format_RGB32);
    image.fill(kGrey);
    QPainter painter(&image);
    painter.setPen(Qt::red);
    DrawClockOverlay(painter, QRect(0, 0, 640, 480), switches,
                     QDateTime(QDate(2008, 3, 7), QTime(9, 5, 3)));
    // Black on opaque white, its top 14 pixels above the bottom edge, at the left edge.
    EXPECT_EQ(painter.pen().color(), QColor(Qt::red));
    painter.end();
    int white = 0;
    int black = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (pixel == kGrey) {
                continue;
            }
            ASSERT_GE(y, 480 - 14) << x << "," << y;
            ASSERT_LT(x, 200) << x << "," << y;
            white += pixel == kWhite ? 1 : 0;
            black += qGray(pixel) < 100 ? 1 : 0;  // glyphs are smoothed at their edges
        }
    }
    EXPECT_GT(white, 300);
    EXPECT_GT(black, 50);
    EXPECT_NE(image.pixel(0, 480 - 14), kGrey);
}

TEST_F(OverlayTest, PaintersLeaveThePainterAsTheyFoundIt) {
    switches.showCrossLine = 1;
    switches.showGrid = 1;
    switches.showCircles = 1;
    switches.showClock = 1;
    QImage image(64, 48, QImage::Format_RGB32);
    QPainter painter(&image);
    const QPen pen(Qt::green, 3);
    painter.setPen(pen);
    painter.setBrush(Qt::blue);
    painter.setBackgroundMode(Qt::TransparentMode);
    DrawOverlays(painter, QRect(0, 0, 64, 48), switches);
    EXPECT_EQ(painter.pen(), pen);
    EXPECT_EQ(painter.brush().color(), QColor(Qt::blue));
    EXPECT_EQ(painter.backgroundMode(), Qt::TransparentMode);
}

}  // namespace

// The stamp gives the frame exactly what the painters draw on it, for every mix of overlays,
// odd sizes included, as the size, the switches and the clock's text change under it.
TEST(OverlayStampTest, StampedOverlaysMatchThePaintersPixelForPixel) {
    const QDateTime first(QDate(2008, 3, 7), QTime(9, 5, 3));
    const QDateTime second = first.addSecs(1);
    const QSize sizes[] = {{622, 487}, {640, 400}, {7, 3}, {1, 1}, {35, 200}};
    OverlayStamp stamp;
    for (const QSize size : sizes) {
        for (unsigned on = 0; on < 16; ++on) {
            for (const QDateTime& when : {first, second}) {
                SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height() << " on "
                                                << on << " " << when.toString().toStdString());
                QImage painted(size, QImage::Format_RGB32);
                for (int y = 0; y < size.height(); ++y) {
                    for (int x = 0; x < size.width(); ++x) {
                        painted.setPixel(x, y, qRgb(x * 7 % 256, y * 3 % 256, (x + y) % 256));
                    }
                }
                QImage stamped = painted.copy();
                OverlaySwitches switches;
                switches.showClock = (on & 1u) != 0 ? 1 : 0;
                switches.showCrossLine = (on & 2u) != 0 ? 1 : 0;
                switches.showGrid = (on & 4u) != 0 ? 1 : 0;
                switches.showCircles = (on & 8u) != 0 ? 1 : 0;
                ASSERT_EQ(OverlaysOn(switches), on);
                {
                    QPainter painter(&painted);
                    DrawOverlays(painter, QRect(QPoint(0, 0), size), switches, when);
                }
                stamp.Apply(stamped, on, when);
                ASSERT_TRUE(stamped == painted);
            }
        }
    }
}
