#include "capture/display/display_geometry.h"

#include <gtest/gtest.h>

namespace {

constexpr DisplayRect kClient{0, 0, 640, 400};
using Mode = DisplayGeometry::WindowMode;

DisplayGeometry Fitted(int width, int height, const DisplayRect& client = kClient) {
    DisplayGeometry geometry;
    geometry.SetPicture(width, height);
    geometry.Fit(client);
    geometry.ResetView(client, Mode::kNormal);
    return geometry;
}

TEST(DisplayGeometryTest, FitLimitsByTheTighterSideAndCentresTheOther) {
    const DisplayGeometry tall = Fitted(1280, 1024);
    EXPECT_EQ(tall.zoom(), 0.390625);
    EXPECT_EQ(tall.fitZoom(), 0.390625);
    EXPECT_EQ(tall.viewRect(), (DisplayRect{70, 0, 570, 400}));

    const DisplayGeometry wide = Fitted(1600, 400);
    EXPECT_EQ(wide.zoom(), 0.4);
    EXPECT_EQ(wide.viewRect(), (DisplayRect{0, 120, 640, 280}));

    // The picture is drawn 19 pixels further out on each side than its view.
    EXPECT_EQ(tall.PictureTarget(), (DisplayRect{51, 0, 589, 400}));
}

TEST(DisplayGeometryTest, AZoomStepAcrossTheFitStopsExactlyAtIt) {
    DisplayGeometry geometry = Fitted(1280, 1024);
    geometry.ZoomBy(0.1, kClient);
    EXPECT_DOUBLE_EQ(geometry.zoom(), 0.490625);
    geometry.ZoomBy(-0.2, kClient);
    EXPECT_EQ(geometry.zoom(), geometry.fitZoom());
    EXPECT_EQ(geometry.viewRect(), (DisplayRect{70, 0, 570, 400}));

    geometry.ZoomBy(-0.2, kClient);
    geometry.ZoomBy(0.2f, kClient);  // the buttons' single-precision step
    EXPECT_EQ(geometry.zoom(), geometry.fitZoom());
}

TEST(DisplayGeometryTest, ZoomingOutStopsAtATenthAndKeepsThePictureCentred) {
    DisplayGeometry geometry = Fitted(1280, 1024);
    for (int i = 0; i < 10; ++i) {
        geometry.ZoomBy(-0.2, kClient);
        EXPECT_GE(geometry.zoom(), 0.1);
    }
    EXPECT_EQ(geometry.zoom(), 0.1);
    EXPECT_EQ(geometry.viewRect(), (DisplayRect{256, 149, 384, 251}));
}

TEST(DisplayGeometryTest, ZoomingInKeepsTheViewCentreAndCoversTheClient) {
    DisplayGeometry geometry = Fitted(1280, 1024);
    geometry.ZoomBy(1.0, kClient);  // 1.390625: 1780 x 1424
    EXPECT_EQ(geometry.viewRect(), (DisplayRect{-570, -512, 1210, 912}));
    EXPECT_TRUE(geometry.CanPanAt(320, 200, kClient));

    geometry.Pan(-50, -20, kClient);
    EXPECT_EQ(geometry.viewRect(), (DisplayRect{-620, -532, 1160, 892}));
    // Panned as far as it goes, the picture's edges stop at the client's.
    geometry.Pan(5000, 5000, kClient);
    EXPECT_EQ(geometry.viewRect().left, 0);
    EXPECT_EQ(geometry.viewRect().top, 0);
    geometry.Pan(-5000, -5000, kClient);
    EXPECT_EQ(geometry.viewRect().right, 640);
    EXPECT_EQ(geometry.viewRect().bottom, 400);
}

TEST(DisplayGeometryTest, APictureSmallerThanTheClientDoesNotMove) {
    DisplayGeometry geometry = Fitted(1280, 1024);
    EXPECT_FALSE(geometry.CanPanAt(320, 200, kClient));
    geometry.Pan(100, -37, kClient);
    EXPECT_EQ(geometry.viewRect(), (DisplayRect{70, 0, 570, 400}));

    // Taller than the client but narrower: it moves only up and down.
    geometry.ZoomBy(0.1, kClient);
    const DisplayRect before = geometry.viewRect();
    ASSERT_LT(before.Width(), 640);
    ASSERT_GT(before.Height(), 400);
    geometry.Pan(40, -10, kClient);
    EXPECT_EQ(geometry.viewRect().left, before.left);
    EXPECT_EQ(geometry.viewRect().top, before.top - 10);
    EXPECT_TRUE(geometry.CanPanAt(320, 200, kClient));
    EXPECT_FALSE(geometry.CanPanAt(before.left - 1, 200, kClient));
}

TEST(DisplayGeometryTest, FullScreenResetStretchesToTheClientAndTheSavedStateComesBack) {
    DisplayGeometry geometry = Fitted(1280, 1024);
    geometry.ZoomBy(0.5, kClient);
    const DisplayRect zoomed = geometry.viewRect();
    const double zoom = geometry.zoom();
    geometry.SaveZoomState();

    const DisplayRect screen{0, 0, 1920, 1080};
    geometry.ResetView(screen, Mode::kFullScreen);
    EXPECT_EQ(geometry.viewRect(), screen);

    geometry.ResetView(kClient, Mode::kNormal);
    geometry.RestoreZoomState();
    EXPECT_EQ(geometry.viewRect(), zoomed);
    EXPECT_EQ(geometry.zoom(), zoom);
}

TEST(DisplayGeometryTest, DegenerateSizesGiveNoNonsense) {
    DisplayGeometry empty = Fitted(0, 0);
    EXPECT_EQ(empty.zoom(), 1.0);
    EXPECT_EQ(empty.viewRect().Width(), 0);

    DisplayGeometry hidden = Fitted(1280, 1024, DisplayRect{0, 0, 0, 0});
    EXPECT_EQ(hidden.zoom(), 1.0);

    // No upper limit on the zoom, but coordinates stay representable.
    DisplayGeometry huge = Fitted(1280, 1024);
    huge.ZoomBy(1e12, kClient);
    EXPECT_GT(huge.viewRect().Width(), 0);
    EXPECT_LE(huge.viewRect().left, 0);
    EXPECT_GE(huge.viewRect().right, 640);
}

}  // namespace
