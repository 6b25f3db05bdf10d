#include "skin/skin_slider.h"

#include <gtest/gtest.h>

#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

namespace {

constexpr QRgb kTrack = 0xFF505050u;
constexpr QRgb kActiveTrack = 0xFF2080F0u;
constexpr QRgb kThumb = 0xFFF0F0F0u;
constexpr QRgb kActiveThumb = 0xFFF0C020u;
constexpr QRgb kKey = 0xFFFF00FFu;
constexpr QRgb kBackdrop = 0xFFFFFF00u;

QImage Filled(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A 24 x 6 thumb whose corners have the key colour of its pixel (0, 0).
QImage Thumb(QRgb colour) {
    QImage image = Filled(24, 6, colour);
    for (const QPoint corner : {QPoint(0, 0), QPoint(23, 0), QPoint(0, 5), QPoint(23, 5)}) {
        image.setPixel(corner, kKey);
    }
    return image;
}

QImage SkinImages(int id) {
    switch (id) {
        case 172: return Filled(426, 14, kTrack);
        case 173: return Filled(426, 14, kActiveTrack);
        case 174: return Thumb(kThumb);
        case 171: return Thumb(kActiveThumb);
        default: return {};
    }
}

// The window the slider sits on, painting a plain colour.
class Backdrop : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(kBackdrop)); }
};

class SkinSliderTest : public ::testing::Test {
protected:
    SkinSliderTest() {
        window.resize(842, 579);
        slider = new CSkinSlider(1110, &window, SkinImages);
        // The video position slider's set-up.
        slider->move(341, 487);
        EXPECT_TRUE(
            slider->SetChannelBitmaps(172, 173, Transparency::kOpaque, KEY_FROM_PIXEL, 0, 0));
        EXPECT_TRUE(
            slider->SetThumbBitmaps(174, 171, Transparency::kTransparent, KEY_FROM_PIXEL, 0, 0));
        slider->SetFocusRect(false, false);
        slider->SetMargins(2, 3, 4, 2);
        slider->SetRange(0, 123, true);
        window.show();
    }

    void Mouse(QEvent::Type type, int x) {
        const QPoint at(x, 7);
        QMouseEvent event(type, QPointF(at), QPointF(slider->mapToGlobal(at)), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(slider, &event);
    }
    QImage Shown() { return slider->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    Backdrop window;
    CSkinSlider* slider = nullptr;
};

TEST_F(SkinSliderTest, PositionsMapToThumbCentresFrom14To410) {
    EXPECT_EQ(slider->size(), QSize(426, 14));
    EXPECT_EQ(slider->PosToPixel(0), 14);
    EXPECT_EQ(slider->PosToPixel(123), 410);
    EXPECT_EQ(slider->PixelToPos(212), 61);
    EXPECT_EQ(slider->PixelToPos(14), 0);
    EXPECT_EQ(slider->PixelToPos(410), 123);

    slider->SetPos(500);
    EXPECT_EQ(slider->GetPos(), 123);
    slider->SetPos(-3);
    EXPECT_EQ(slider->GetPos(), 0);
}

TEST_F(SkinSliderTest, DraggingToAPointGivesItsPositionAndEndsWithTheMovedMessage) {
    QSignalSpy moving(slider, &CSkinSlider::sliderMoving);
    QSignalSpy moved(slider, &CSkinSlider::sliderMoved);
    Mouse(QEvent::MouseButtonPress, 14);  // on the thumb at 0: no jump, no message
    EXPECT_EQ(moving.count(), 0);
    Mouse(QEvent::MouseMove, 212);
    EXPECT_EQ(slider->GetPos(), 61);
    ASSERT_EQ(moving.count(), 1);
    EXPECT_EQ(moving.at(0), (QList<QVariant>{1110, 61}));
    Mouse(QEvent::MouseButtonRelease, 212);
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.at(0), (QList<QVariant>{1110, 61}));
    EXPECT_FALSE(slider->dragging());
}

TEST_F(SkinSliderTest, ATrackClickJumpsButAThumbClickKeepsItsHold) {
    slider->SetPos(100);
    const int centre = slider->PosToPixel(100);
    QSignalSpy moving(slider, &CSkinSlider::sliderMoving);
    Mouse(QEvent::MouseButtonPress, centre - 100);
    EXPECT_EQ(slider->GetPos(), slider->PixelToPos(centre - 100));
    EXPECT_EQ(moving.count(), 1);
    Mouse(QEvent::MouseButtonRelease, centre - 100);

    slider->SetPos(100);
    moving.clear();
    Mouse(QEvent::MouseButtonPress, centre + 5);
    EXPECT_EQ(slider->GetPos(), 100);
    EXPECT_EQ(moving.count(), 0);
    Mouse(QEvent::MouseMove, centre + 5 - 40);  // the centre follows 5 pixels left of the hold
    EXPECT_EQ(slider->GetPos(), slider->PixelToPos(centre - 40));
    Mouse(QEvent::MouseButtonRelease, centre - 35);
}

TEST_F(SkinSliderTest, DraggingBeyondTheEndsClampsWithoutRepeatingMessages) {
    QSignalSpy moving(slider, &CSkinSlider::sliderMoving);
    Mouse(QEvent::MouseButtonPress, 14);
    Mouse(QEvent::MouseMove, -300);
    EXPECT_EQ(slider->GetPos(), 0);
    EXPECT_EQ(moving.count(), 0);
    Mouse(QEvent::MouseMove, 900);
    EXPECT_EQ(slider->GetPos(), 123);
    EXPECT_EQ(moving.count(), 1);
    Mouse(QEvent::MouseMove, 1200);
    EXPECT_EQ(moving.count(), 1);
    Mouse(QEvent::MouseButtonRelease, 1200);
}

TEST_F(SkinSliderTest, KeysMoveByOneOrAPageAndReportTheClampedPosition) {
    QSignalSpy moved(slider, &CSkinSlider::sliderMoved);
    slider->SetPos(110);
    QTest::keyClick(slider, Qt::Key_PageDown);
    EXPECT_EQ(slider->GetPos(), 123);
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.at(0), (QList<QVariant>{1110, 123}));
    QTest::keyClick(slider, Qt::Key_PageUp);
    EXPECT_EQ(slider->GetPos(), 103);
    QTest::keyClick(slider, Qt::Key_Left);
    QTest::keyClick(slider, Qt::Key_Up);
    EXPECT_EQ(slider->GetPos(), 101);
    QTest::keyClick(slider, Qt::Key_Down);
    EXPECT_EQ(slider->GetPos(), 102);
    QTest::keyClick(slider, Qt::Key_Home);
    EXPECT_EQ(slider->GetPos(), 0);
    QTest::keyClick(slider, Qt::Key_End);
    EXPECT_EQ(slider->GetPos(), 123);
    EXPECT_EQ(moved.count(), 7);
    QTest::keyClick(slider, Qt::Key_A);
    EXPECT_EQ(moved.count(), 7);
}

TEST_F(SkinSliderTest, AReleaseAfterAPressElsewhereStillReportsThePosition) {
    slider->SetPos(42);
    QSignalSpy moved(slider, &CSkinSlider::sliderMoved);
    Mouse(QEvent::MouseButtonRelease, 300);
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved.at(0), (QList<QVariant>{1110, 42}));
    EXPECT_EQ(slider->GetPos(), 42);
}

TEST_F(SkinSliderTest, TheTrackLeftOfTheThumbIsActiveAndTheThumbsCornersShowTheTrack) {
    slider->SetPos(61);
    const int centre = slider->PosToPixel(61);
    QImage shown = Shown();
    EXPECT_EQ(shown.pixel(centre - 20, 1), kActiveTrack);
    EXPECT_EQ(shown.pixel(centre + 20, 1), kTrack);
    // The thumb at (centre - 12, 3), its key-coloured corners transparent.
    EXPECT_EQ(shown.pixel(centre, 5), kThumb);
    EXPECT_EQ(shown.pixel(centre - 12 + 1, 3), kThumb);
    EXPECT_EQ(shown.pixel(centre - 12, 3), kActiveTrack);
    EXPECT_EQ(shown.pixel(centre + 11, 8), kTrack);
    EXPECT_EQ(shown.pixel(centre, 9), kTrack);

    Mouse(QEvent::MouseButtonPress, centre);
    shown = Shown();
    EXPECT_EQ(shown.pixel(centre, 5), kActiveThumb);
    Mouse(QEvent::MouseButtonRelease, centre);
    EXPECT_EQ(Shown().pixel(centre, 5), kThumb);
}

TEST_F(SkinSliderTest, ATransparentChannelShowsTheWindowUnderIt) {
    QImage channel = Filled(426, 14, kTrack);
    for (int x = 0; x < 426; ++x) {
        channel.setPixel(x, 0, kKey);
    }
    CSkinSlider overlay(7, &window, [&](int id) { return id == 1 ? channel : QImage(); });
    overlay.move(10, 10);
    ASSERT_TRUE(overlay.SetChannelBitmaps(1, 0, Transparency::kTransparent, KEY_FROM_PIXEL, 0, 0));
    overlay.show();
    const QImage shown = overlay.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.pixel(100, 0), kBackdrop);
    EXPECT_EQ(shown.pixel(100, 1), kTrack);
}

TEST_F(SkinSliderTest, AnEmptyRangeKeepsTheThumbAtTheLeftAndReportsTheOnlyPosition) {
    slider->SetRange(5, 5, true);
    slider->SetPos(9);
    EXPECT_EQ(slider->GetPos(), 5);
    EXPECT_EQ(slider->PosToPixel(5), 14);
    EXPECT_EQ(slider->PixelToPos(300), 5);
    QSignalSpy moved(slider, &CSkinSlider::sliderMoved);
    Mouse(QEvent::MouseButtonPress, 300);
    Mouse(QEvent::MouseMove, 350);
    Mouse(QEvent::MouseButtonRelease, 350);
    EXPECT_EQ(slider->GetPos(), 5);
    EXPECT_EQ(moved.count(), 1);
    (void)Shown();
}

TEST_F(SkinSliderTest, AnImageThatCannotBeLoadedLeavesNoChannelOrThumb) {
    EXPECT_FALSE(slider->SetChannelBitmaps(172, 999, Transparency::kOpaque, KEY_FROM_PIXEL, 0, 0));
    EXPECT_FALSE(slider->SetThumbBitmaps(998, 171, Transparency::kOpaque, KEY_FROM_PIXEL, 0, 0));
    // Nothing but the background is drawn.
    const QImage shown = Shown();
    EXPECT_NE(shown.pixel(100, 7), kTrack);
    EXPECT_NE(shown.pixel(14, 5), kThumb);
    EXPECT_TRUE(slider->SetChannelBitmaps(0, 0, Transparency::kOpaque, KEY_FROM_PIXEL, 0, 0));
}

}  // namespace
