#include "capture/display/video_display_window.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>

#include "output/packed_dib.h"

namespace {

constexpr QRgb kBlackPixel = 0xFF000000u;
constexpr QRgb kWhitePixel = 0xFFFFFFFFu;

// A 24-bit frame, rows top-down and padded to 4 bytes, each pixel given by `colour`.
template <typename ColourOf>
std::vector<std::uint8_t> Frame(int width, int height, ColourOf colour) {
    const std::size_t rowBytes = BgrRowBytes(width);
    std::vector<std::uint8_t> bits(rowBytes * static_cast<std::size_t>(height), 0);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bits.data() + rowBytes * static_cast<std::size_t>(y);
        for (int x = 0; x < width; ++x) {
            const QRgb rgb = colour(x, y);
            row[3 * x] = static_cast<std::uint8_t>(qBlue(rgb));
            row[3 * x + 1] = static_cast<std::uint8_t>(qGreen(rgb));
            row[3 * x + 2] = static_cast<std::uint8_t>(qRed(rgb));
        }
    }
    return bits;
}

// A packed 24-bit DIB of one colour.
PackedDib SolidPicture(int width, int height, std::uint8_t level) {
    IoResultOf<PackedDib> dib = PackedDib::Create(width, height, 24);
    EXPECT_TRUE(dib.ok());
    std::fill(dib->Rows().begin(), dib->Rows().end(), level);
    return std::move(*dib);
}

struct Extent {
    int left = 1 << 30;
    int right = -1;
    int top = 1 << 30;
    int bottom = -1;
    int count = 0;
};

Extent ExtentOf(const QImage& image, QRgb colour) {
    Extent extent;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixel(x, y) == colour) {
                extent.left = std::min(extent.left, x);
                extent.right = std::max(extent.right, x);
                extent.top = std::min(extent.top, y);
                extent.bottom = std::max(extent.bottom, y);
                ++extent.count;
            }
        }
    }
    return extent;
}

class DisplayWindowTest : public ::testing::Test {
protected:
    DisplayWindowTest() {
        display.resize(640, 400);
        display.show();
    }
    QImage Shown() { return display.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    void SendMouse(QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
        QMouseEvent event(type, QPointF(at), QPointF(display.mapToGlobal(at)),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&display, &event);
    }

    VideoDisplayWindow display;
};

TEST_F(DisplayWindowTest, FramesWithoutBitsOrWithTooFewAreRefused) {
    const std::vector<std::uint8_t> frame = Frame(8, 4, [](int, int) { return kWhitePixel; });
    EXPECT_EQ(display.DrawFrame(nullptr, 0, 8, 4), 0);
    EXPECT_EQ(display.DrawFrame(frame.data(), frame.size() - 1, 8, 4), 0);
    EXPECT_EQ(display.DrawFrame(frame.data(), frame.size(), 0, 4), 0);
    EXPECT_EQ(display.DrawFrame(frame.data(), frame.size(), 8, -4), 0);
    EXPECT_EQ(display.framesDrawn(), 0u);
    EXPECT_EQ(display.DrawFrame(frame.data(), frame.size(), 8, 4), 1);
    EXPECT_EQ(display.framesDrawn(), 1u);
}

TEST_F(DisplayWindowTest, TheLiveFrameFillsTheWholeWindowUprightWithoutKeepingItsShape) {
    // Four columns and two rows of colours, the top-left one red.
    const QRgb colours[2][4] = {
        {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(9, 9, 9)},
        {qRgb(200, 100, 0), qRgb(0, 100, 200), qRgb(50, 50, 50), qRgb(255, 255, 0)}};
    const std::vector<std::uint8_t> frame =
        Frame(4, 2, [&](int x, int y) { return colours[y][x]; });
    ASSERT_EQ(display.DrawFrame(frame.data(), frame.size(), 4, 2), 1);
    const QImage surface = display.SurfaceSnapshot();
    ASSERT_EQ(surface.size(), QSize(640, 400));
    for (int y = 0; y < 400; y += 7) {
        for (int x = 0; x < 640; x += 5) {
            ASSERT_EQ(surface.pixel(x, y), colours[y / 200][x / 160]) << x << "," << y;
        }
    }
    EXPECT_EQ(surface.pixel(159, 199), colours[0][0]);
    EXPECT_EQ(surface.pixel(160, 200), colours[1][1]);
    EXPECT_EQ(surface.pixel(639, 399), colours[1][3]);
}

TEST_F(DisplayWindowTest, OverlaysAreComposedWithTheFrameAndRepaintedOverIt) {
    display.overlays().showCrossLine = 1;
    const std::vector<std::uint8_t> frame =
        Frame(64, 48, [](int, int) { return qRgb(10, 20, 30); });
    ASSERT_EQ(display.DrawFrame(frame.data(), frame.size(), 64, 48), 1);
    const QImage surface = display.SurfaceSnapshot();
    EXPECT_EQ(ExtentOf(surface, kWhitePixel).count, 640 + 400 - 1);
    EXPECT_EQ(surface.pixel(320, 10), kWhitePixel);
    EXPECT_EQ(surface.pixel(321, 10), qRgb(10, 20, 30));

    // The window's paint draws them again, also over what has no overlays in it.
    display.ClearDisplay();
    display.overlays().showCircles = 1;
    const QImage shown = Shown();
    EXPECT_EQ(shown.pixel(320, 10), kWhitePixel);
    EXPECT_EQ(shown.pixel(320 - 200, 200 + 3), kWhitePixel);
    EXPECT_EQ(shown.pixel(321, 10), kBlackPixel);
}

// The paint leaves out the overlays a frame was composed with, but not those switched on
// since, nor those that belong over a status text.
TEST_F(DisplayWindowTest, ThePaintDrawsTheOverlaysTheComposedFrameLacks) {
    display.overlays().showCrossLine = 1;
    const std::vector<std::uint8_t> frame =
        Frame(64, 48, [](int, int) { return qRgb(10, 20, 30); });
    ASSERT_EQ(display.DrawFrame(frame.data(), frame.size(), 64, 48), 1);
    EXPECT_TRUE(Shown() == display.SurfaceSnapshot());

    display.overlays().showCircles = 1;
    EXPECT_EQ(Shown().pixel(320 - 200, 200 + 3), kWhitePixel);

    // A hint as wide as the window, drawn across the lines: they go over it.
    ASSERT_EQ(display.DrawFrame(frame.data(), frame.size(), 64, 48), 1);
    display.SetFullScreenHint(QString(40, QLatin1Char('M')));
    display.SetFullScreenMode(true);
    const QImage shown = Shown();
    const QImage surface = display.SurfaceSnapshot();
    EXPECT_NE(shown, surface);
    for (int y = 0; y < 60; ++y) {
        for (int x = 0; x < 640; ++x) {
            if (surface.pixel(x, y) == kWhitePixel) {
                ASSERT_EQ(shown.pixel(x, y), kWhitePixel) << x << "," << y;
            }
        }
    }
}

TEST_F(DisplayWindowTest, AStreamOfFramesAsksForOneRepaintAtATime) {
    struct Counter : QObject {
        int metaCalls = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            metaCalls += event->type() == QEvent::MetaCall ? 1 : 0;
            return false;
        }
    } counter;
    display.installEventFilter(&counter);
    QCoreApplication::processEvents();
    const std::vector<std::uint8_t> frame = Frame(32, 24, [](int, int) { return kWhitePixel; });
    std::thread streaming([&] {
        for (int i = 0; i < 50; ++i) {
            display.DrawFrame(frame.data(), frame.size(), 32, 24);
        }
    });
    streaming.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.metaCalls, 1);
    display.DrawFrame(frame.data(), frame.size(), 32, 24);
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.metaCalls, 2);
    EXPECT_EQ(display.framesDrawn(), 51u);
}

TEST_F(DisplayWindowTest, TheConnectTextIsGreenCentredAndNeverCutOff) {
    display.SetConnectText(QStringLiteral("USB"));
    Extent text = ExtentOf(Shown(), qRgb(0, 255, 0));
    ASSERT_GT(text.count, 50);
    EXPECT_NEAR((text.left + text.right) / 2.0, 320.0, 8.0);
    EXPECT_NEAR((text.top + text.bottom) / 2.0, 200.0, 10.0);
    EXPECT_LE(text.bottom - text.top, 32);

    // Wider than the window: it starts at the left edge, and all of it is shown.
    display.SetConnectText(QStringLiteral("Please connect USB 2.0 Digital Microscope"));
    text = ExtentOf(Shown(), qRgb(0, 255, 0));
    EXPECT_LT(text.left, 6);
    EXPECT_GT(text.right, 600);

    display.SetConnectText(QString());
    EXPECT_EQ(ExtentOf(Shown(), qRgb(0, 255, 0)).count, 0);
}

TEST_F(DisplayWindowTest, TheFullScreenHintShowsTopRightOnlyInFullScreenMode) {
    display.SetFullScreenHint(QStringLiteral("ESC Restore"));
    EXPECT_EQ(ExtentOf(Shown(), qRgb(255, 0, 0)).count, 0);
    display.SetFullScreenMode(true);
    const Extent hint = ExtentOf(Shown(), qRgb(255, 0, 0));
    ASSERT_GT(hint.count, 50);
    EXPECT_LE(hint.right, 640 - 4 - 1);
    EXPECT_GT(hint.right, 600);
    EXPECT_GE(hint.top, 2);
    EXPECT_LT(hint.bottom, 2 + 40);
}

TEST_F(DisplayWindowTest, ABrowsedPictureIsFittedAndDrawnWiderThanItsView) {
    const PackedDib picture = SolidPicture(1280, 1024, 0xFF);
    display.ShowPicture(picture.bytes());
    EXPECT_EQ(display.view().zoom(), 0.390625);
    EXPECT_EQ(display.view().viewRect(), (DisplayRect{70, 0, 570, 400}));
    const QImage surface = display.SurfaceSnapshot();
    for (int y : {0, 200, 399}) {
        EXPECT_EQ(surface.pixel(50, y), kBlackPixel);
        EXPECT_EQ(surface.pixel(51, y), kWhitePixel);
        EXPECT_EQ(surface.pixel(588, y), kWhitePixel);
        EXPECT_EQ(surface.pixel(589, y), kBlackPixel);
    }

    // Full screen stretches it over the whole window.
    display.SetFullScreenMode(true);
    display.ResetView();
    EXPECT_EQ(display.view().viewRect(), (DisplayRect{0, 0, 640, 400}));
    EXPECT_EQ(ExtentOf(display.SurfaceSnapshot(), kWhitePixel).count, 640 * 400);
}

TEST_F(DisplayWindowTest, APictureThatCannotBeReadShowsBlack) {
    std::vector<std::uint8_t> block(5242880, 0);
    display.ShowPicture(block);
    EXPECT_EQ(ExtentOf(display.SurfaceSnapshot(), kBlackPixel).count, 640 * 400);

    // A header promising more rows than the block holds.
    const PackedDib picture = SolidPicture(64, 64, 0xFF);
    std::vector<std::uint8_t> truncated(picture.bytes().begin(), picture.bytes().end() - 100);
    display.ShowPicture(truncated);
    EXPECT_EQ(ExtentOf(display.SurfaceSnapshot(), kBlackPixel).count, 640 * 400);
    display.ShowPicture({});
    EXPECT_EQ(display.view().viewRect().Width(), 0);
}

TEST_F(DisplayWindowTest, DraggingPansAZoomedPictureWithAHandCursor) {
    const PackedDib picture = SolidPicture(1280, 1024, 0x80);
    display.ShowPicture(picture.bytes());
    SendMouse(QEvent::MouseMove, {300, 200}, Qt::NoButton);
    EXPECT_EQ(display.cursor().shape(), Qt::ArrowCursor);
    // Fitted, it does not move.
    SendMouse(QEvent::MouseButtonPress, {300, 200}, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, {250, 180}, Qt::LeftButton);
    SendMouse(QEvent::MouseButtonRelease, {250, 180}, Qt::NoButton);
    EXPECT_EQ(display.view().viewRect(), (DisplayRect{70, 0, 570, 400}));

    display.ZoomBy(1.0);
    ASSERT_EQ(display.view().viewRect(), (DisplayRect{-570, -512, 1210, 912}));
    SendMouse(QEvent::MouseMove, {300, 200}, Qt::NoButton);
    EXPECT_EQ(display.cursor().shape(), Qt::OpenHandCursor);
    SendMouse(QEvent::MouseButtonPress, {300, 200}, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, {250, 180}, Qt::LeftButton);
    EXPECT_EQ(display.view().viewRect(), (DisplayRect{-620, -532, 1160, 892}));
    // Outside the window the pointer counts as being at its edge.
    SendMouse(QEvent::MouseMove, {-400, 180}, Qt::LeftButton);
    EXPECT_EQ(display.view().viewRect(), (DisplayRect{-870, -532, 910, 892}));
    SendMouse(QEvent::MouseButtonRelease, {0, 180}, Qt::NoButton);
    SendMouse(QEvent::MouseMove, {100, 100}, Qt::NoButton);
    EXPECT_EQ(display.view().viewRect(), (DisplayRect{-870, -532, 910, 892}));
}

TEST_F(DisplayWindowTest, DraggingOrZoomingOverTheLivePictureLeavesItAlone) {
    const std::vector<std::uint8_t> frame = Frame(64, 48, [](int, int) { return qRgb(1, 2, 3); });
    ASSERT_EQ(display.DrawFrame(frame.data(), frame.size(), 64, 48), 1);
    display.ZoomBy(0.2);
    display.ZoomBy(-0.2);
    SendMouse(QEvent::MouseButtonPress, {300, 200}, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, {200, 100}, Qt::LeftButton);
    SendMouse(QEvent::MouseButtonRelease, {200, 100}, Qt::NoButton);
    EXPECT_EQ(ExtentOf(display.SurfaceSnapshot(), qRgb(1, 2, 3)).count, 640 * 400);
}

TEST_F(DisplayWindowTest, ZoomStateSurvivesFullScreenAndTearDownReleasesTheSurface) {
    const PackedDib picture = SolidPicture(1280, 1024, 0xFF);
    display.ShowPicture(picture.bytes());
    display.ZoomBy(0.2);
    const DisplayRect zoomed = display.view().viewRect();
    display.SaveZoomState();
    display.resize(1000, 700);
    display.SetFullScreenMode(true);
    display.ResetView();
    EXPECT_EQ(display.SurfaceSnapshot().size(), QSize(1000, 700));
    display.resize(640, 400);
    display.SetFullScreenMode(false);
    display.RestoreZoomState();
    EXPECT_EQ(display.view().viewRect(), zoomed);
    EXPECT_EQ(display.SurfaceSnapshot().size(), QSize(640, 400));

    display.ReleaseMemorySurface();
    EXPECT_TRUE(display.SurfaceSnapshot().isNull());
    EXPECT_EQ(ExtentOf(Shown(), kBlackPixel).count, 640 * 400);
}

TEST_F(DisplayWindowTest, FramesKeepComingWhileTheWindowIsResizedZoomedAndPainted) {
    const PackedDib picture = SolidPicture(320, 240, 0x40);
    const std::vector<std::uint8_t> frame =
        Frame(160, 120, [](int x, int y) { return qRgb(x, y, 0); });
    display.overlays().showClock = 1;
    display.overlays().showGrid = 1;
    std::atomic<bool> stop{false};
    std::thread streaming([&] {
        while (!stop.load()) {
            display.DrawFrame(frame.data(), frame.size(), 160, 120);
        }
    });
    for (int i = 0; i < 40; ++i) {
        display.resize(200 + 11 * i, 150 + 7 * i);
        display.ShowPicture(picture.bytes());
        display.ZoomBy(i % 2 == 0 ? 0.2 : -0.2);
        (void)Shown();
        QCoreApplication::processEvents();
        if (i % 10 == 0) {
            display.ReleaseMemorySurface();
        }
    }
    stop = true;
    streaming.join();
    QCoreApplication::processEvents();
    const QImage last = display.SurfaceSnapshot();
    EXPECT_TRUE(last.isNull() || last.size() == display.size());
    EXPECT_GT(display.framesDrawn(), 0u);
}

}  // namespace

// The line is kept in the picture's own pixels: drawn between the same two points of the
// picture, it has the same length fitted, zoomed and panned, up to the size of one window
// pixel in the picture.
TEST_F(DisplayWindowTest, AMeasuredLineKeepsItsLengthAtEveryZoomAndPan) {
    const PackedDib picture = SolidPicture(1280, 1024, 0x80);
    display.ShowPicture(picture.bytes());
    const QPointF from(450, 400);
    const QPointF to(830, 620);
    const double length = QLineF(from, to).length();
    // The window point over a point of the picture.
    const auto windowPoint = [&](QPointF point) {
        const DisplayRect target = display.view().PictureTarget();
        return QPoint(static_cast<int>(target.left + point.x() * target.Width() / 1280.0),
                      static_cast<int>(target.top + point.y() * target.Height() / 1024.0));
    };
    const auto measure = [&] {
        display.SetPointerTool(VideoDisplayWindow::PointerTool::kMeasure);
        QSignalSpy drawn(&display, &VideoDisplayWindow::lineDrawn);
        SendMouse(QEvent::MouseButtonPress, windowPoint(from), Qt::LeftButton);
        SendMouse(QEvent::MouseMove, windowPoint(to), Qt::LeftButton);
        SendMouse(QEvent::MouseButtonRelease, windowPoint(to), Qt::NoButton);
        EXPECT_EQ(drawn.count(), 1);
        EXPECT_EQ(display.measuredFrameSize(), QSize(1280, 1024));
        const double windowPixel = 1280.0 / display.view().PictureTarget().Width();
        const QLineF line = display.measuredLine().value_or(QLineF());
        EXPECT_NEAR(line.length(), length, 2 * windowPixel);
        EXPECT_NEAR(QLineF(line.p1(), from).length(), 0.0, 2 * windowPixel);
    };
    measure();
    display.ZoomBy(1.0);
    measure();
    // Panned with the hand, then measured again; the view did not move while measuring.
    display.SetPointerTool(VideoDisplayWindow::PointerTool::kPan);
    EXPECT_FALSE(display.measuredLine());
    SendMouse(QEvent::MouseButtonPress, {300, 200}, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, {340, 220}, Qt::LeftButton);
    SendMouse(QEvent::MouseButtonRelease, {340, 220}, Qt::NoButton);
    const DisplayRect panned = display.view().viewRect();
    measure();
    EXPECT_EQ(display.view().viewRect(), panned);
    // With a scale the label reads in micrometres.
    display.SetPictureScale(PictureScale{2.0, 2.0, QStringLiteral("x200"), {}});
    EXPECT_EQ(display.measuredLabel(),
              LengthText(LineMicrometres(display.measuredLine()->p1(), display.measuredLine()->p2(),
                                         display.pictureScale())));
}

// The scale bar needs a scale; the line drawn on the live picture goes into the next frame.
TEST_F(DisplayWindowTest, TheScaleBarAndTheLineAreComposedIntoLiveFrames) {
    const std::vector<std::uint8_t> frame = Frame(640, 400, [](int, int) { return kBlackPixel; });
    const auto drawnPixels = [&] {
        EXPECT_EQ(display.DrawFrame(frame.data(), frame.size(), 640, 400), 1);
        return 640 * 400 - ExtentOf(display.SurfaceSnapshot(), kBlackPixel).count;
    };
    display.SetScaleBarShown(true);
    EXPECT_EQ(drawnPixels(), 0);
    display.SetLiveScale(PictureScale{2.0, 2.0, QStringLiteral("x200"), {}});
    const int bar = drawnPixels();
    EXPECT_GT(bar, 100);  // a bar of 100 pixels with its label
    EXPECT_LT(ExtentOf(display.SurfaceSnapshot(), kWhitePixel).left, 640);

    display.SetPointerTool(VideoDisplayWindow::PointerTool::kMeasure);
    SendMouse(QEvent::MouseButtonPress, {50, 50}, Qt::LeftButton);
    SendMouse(QEvent::MouseMove, {250, 50}, Qt::LeftButton);
    SendMouse(QEvent::MouseButtonRelease, {250, 50}, Qt::NoButton);
    ASSERT_TRUE(display.measuredLine());
    EXPECT_NEAR(display.measuredLine()->length(), 200.0, 0.01);
    EXPECT_EQ(display.measuredLabel(), LengthText(400.0));
    EXPECT_GT(drawnPixels(), bar + 200);
    EXPECT_NE(display.SurfaceSnapshot().pixel(150, 50), kBlackPixel);
}
