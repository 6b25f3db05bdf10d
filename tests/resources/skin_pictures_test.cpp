#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

constexpr QRect kWindow{0, 0, 842, 579};
constexpr int kVideoBottom = 487;  // the first row under the video area
constexpr int kVideoLeft = 221;

QImage LoadSkin(int id) {
    return QImage(QStringLiteral(":/skin/%1.png").arg(id));
}

struct FixedSize {
    int id;
    QSize size;
};

const FixedSize kFixedSizes[] = {
    {140, {842, 579}}, {146, {223, 459}}, {147, {223, 459}}, {144, {223, 380}}, {148, {223, 380}},
    {149, {183, 49}},  {139, {82, 82}},   {172, {426, 14}},  {173, {426, 14}},  {174, {24, 6}},
    {171, {24, 6}},    {176, {13, 13}},   {177, {13, 13}},   {179, {13, 13}},   {178, {14, 13}},
};

enum class Group { Toolbar, Playback, Zoom, NeverShown };
enum class Kind { Push, Toggle };

struct ButtonPlace {
    int firstId;
    int secondId;
    Kind kind;
    QPoint position;
    Group group;
    int disabledId = 0;  // the dimmed face, for a button the window disables
};

const ButtonPlace kButtons[] = {
    {155, 355, Kind::Toggle, {13, 2}, Group::Toolbar, 555},
    {150, 350, Kind::Push, {50, 3}, Group::Toolbar, 550},
    {151, 351, Kind::Toggle, {88, 2}, Group::Toolbar, 551},
    {152, 352, Kind::Push, {125, 2}, Group::Toolbar, 552},
    {154, 354, Kind::Push, {160, 2}, Group::Toolbar, 554},
    {153, 353, Kind::Push, {195, 2}, Group::Toolbar, 553},
    {165, 365, Kind::Toggle, {518, 500}, Group::Playback},
    {166, 366, Kind::Push, {465, 505}, Group::Playback, 566},
    {167, 367, Kind::Toggle, {576, 505}, Group::Playback},
    {161, 361, Kind::Push, {412, 505}, Group::Playback, 561},
    {164, 364, Kind::Push, {624, 505}, Group::Playback, 564},
    {169, 369, Kind::Push, {486, 487}, Group::Zoom, 569},
    {170, 370, Kind::Push, {554, 487}, Group::Zoom, 570},
    {156, 356, Kind::Push, {425, 0}, Group::NeverShown, 556},
    {157, 357, Kind::Push, {746, 0}, Group::NeverShown},
    {158, 358, Kind::Push, {814, 2}, Group::NeverShown},
    {159, 359, Kind::Push, {840, 2}, Group::NeverShown},
    {160, 360, Kind::Push, {866, 2}, Group::NeverShown},
    {162, 362, Kind::Push, {616, 422}, Group::NeverShown, 562},
    {163, 363, Kind::Push, {696, 422}, Group::NeverShown, 563},
    {168, 368, Kind::Push, {474, 398}, Group::NeverShown},
};

QRect PlaceOf(const ButtonPlace& button) {
    return QRect(button.position, LoadSkin(button.firstId).size());
}

// The share of pixels whose colours differ by more than `threshold` in some channel.
double ShareOfChangedPixels(const QImage& a, const QImage& b, int threshold) {
    int changed = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QColor p = a.pixelColor(x, y);
            const QColor q = b.pixelColor(x, y);
            if (std::abs(p.red() - q.red()) > threshold ||
                std::abs(p.green() - q.green()) > threshold ||
                std::abs(p.blue() - q.blue()) > threshold) {
                ++changed;
            }
        }
    }
    return static_cast<double>(changed) / (a.width() * a.height());
}

double MeanLightness(const QImage& image, const QRect& rect) {
    double sum = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            sum += image.pixelColor(x, y).lightnessF();
        }
    }
    return sum / (rect.width() * rect.height());
}

TEST(SkinPicturesTest, PicturesOfFixedSizeLoadAtThatSize) {
    for (const FixedSize& expected : kFixedSizes) {
        SCOPED_TRACE(expected.id);
        const QImage image = LoadSkin(expected.id);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), expected.size);
    }
}

TEST(SkinPicturesTest, WindowPanelsAreOpaque24BitPictures) {
    for (const int id : {140, 144, 146, 147, 148, 149, 139, 172, 173, 174, 171}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(LoadSkin(id).hasAlphaChannel());
    }
}

TEST(SkinPicturesTest, EachTabPictureLightsUpItsOwnTab) {
    // Tab areas in window coordinates, moved into the tab picture drawn at (0, 29).
    const QRect pictures = QRect(QPoint(3, 30), QPoint(100, 90)).translated(0, -29);
    const QRect videos = QRect(QPoint(115, 30), QPoint(214, 90)).translated(0, -29);
    const QImage videosActive = LoadSkin(146);
    const QImage picturesActive = LoadSkin(147);
    EXPECT_GT(MeanLightness(picturesActive, pictures), MeanLightness(videosActive, pictures));
    EXPECT_GT(MeanLightness(videosActive, videos), MeanLightness(picturesActive, videos));
}

TEST(SkinPicturesTest, WindowIconLoadsAtEverySize) {
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const QImage icon(QStringLiteral(":/icons/128-%1.png").arg(size));
        EXPECT_EQ(icon.size(), QSize(size, size));
    }
}

TEST(SkinButtonsTest, BothFacesLoadAtTheSameSize) {
    for (const ButtonPlace& button : kButtons) {
        SCOPED_TRACE(button.firstId);
        const QImage first = LoadSkin(button.firstId);
        const QImage second = LoadSkin(button.secondId);
        ASSERT_FALSE(first.isNull());
        ASSERT_FALSE(second.isNull());
        EXPECT_EQ(first.size(), second.size());
    }
}

TEST(SkinButtonsTest, SecondFaceIsClearlyDifferent) {
    for (const ButtonPlace& button : kButtons) {
        SCOPED_TRACE(button.firstId);
        const QImage first = LoadSkin(button.firstId);
        const QImage second = LoadSkin(button.secondId);
        ASSERT_EQ(first.size(), second.size());
        // A toggle that is on must be told from one that is off at a glance; a pressed
        // button only has to move.
        const double share = button.kind == Kind::Toggle ? 0.5 : 0.2;
        EXPECT_GT(ShareOfChangedPixels(first, second, 12), share);
    }
}

// The lightness of the brightest pixel (the icon) and of the median one (the face).
std::pair<double, double> BrightestAndMedian(const QImage& image) {
    std::vector<double> lightness;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            lightness.push_back(image.pixelColor(x, y).lightnessF());
        }
    }
    std::sort(lightness.begin(), lightness.end());
    return {lightness.back(), lightness[lightness.size() / 2]};
}

TEST(SkinButtonsTest, DisabledFaceIsClearlyDimmerButItsIconStillReadable) {
    int dimmed = 0;
    for (const ButtonPlace& button : kButtons) {
        if (button.disabledId == 0) {
            continue;
        }
        SCOPED_TRACE(button.firstId);
        ++dimmed;
        const QImage first = LoadSkin(button.firstId);
        const QImage disabled = LoadSkin(button.disabledId);
        ASSERT_EQ(disabled.size(), first.size());
        const auto [firstIcon, firstFace] = BrightestAndMedian(first);
        const auto [icon, face] = BrightestAndMedian(disabled);
        EXPECT_LT(icon, firstIcon - 0.25);
        EXPECT_LE(face, firstFace);
        EXPECT_GT(icon - face, 0.15);
    }
    // The seven capture buttons, the transport buttons and zoom.
    EXPECT_EQ(dimmed, 14);
}

TEST(SkinButtonsTest, ButtonsOfAGroupDoNotOverlap) {
    for (const ButtonPlace& a : kButtons) {
        for (const ButtonPlace& b : kButtons) {
            if (a.firstId < b.firstId && a.group == b.group) {
                EXPECT_FALSE(PlaceOf(a).intersects(PlaceOf(b)))
                    << a.firstId << " and " << b.firstId;
            }
        }
    }
}

TEST(SkinButtonsTest, ShownButtonsStayInTheirPartOfTheWindow) {
    const QRect toolbarRow(0, 0, kVideoLeft, 29);
    const QRect underVideo(kVideoLeft, kVideoBottom, kWindow.width() - kVideoLeft,
                           kWindow.height() - kVideoBottom);
    for (const ButtonPlace& button : kButtons) {
        SCOPED_TRACE(button.firstId);
        const QRect place = PlaceOf(button);
        if (button.group == Group::Toolbar) {
            EXPECT_TRUE(toolbarRow.contains(place));
        } else if (button.group != Group::NeverShown) {
            EXPECT_TRUE(underVideo.contains(place));
        }
    }
}

// The program makes the thumb transparent wherever it has the colour of its pixel (0, 0).
class SliderThumbTest : public ::testing::TestWithParam<int> {};

bool IsCorner(const QImage& image, int x, int y) {
    return (x == 0 || x == image.width() - 1) && (y == 0 || y == image.height() - 1);
}

TEST_P(SliderThumbTest, KeyColourAppearsOnlyInTheCorners) {
    const QImage thumb = LoadSkin(GetParam());
    ASSERT_FALSE(thumb.isNull());
    const QRgb key = thumb.pixel(0, 0);
    EXPECT_NE(thumb.pixel(thumb.width() / 2, thumb.height() / 2), key);
    for (int y = 0; y < thumb.height(); ++y) {
        for (int x = 0; x < thumb.width(); ++x) {
            if (!IsCorner(thumb, x, y)) {
                EXPECT_NE(thumb.pixel(x, y), key) << "at " << x << "," << y;
            }
        }
    }
}

TEST_P(SliderThumbTest, EdgesAreNotBlendedIntoTheKey) {
    const QImage thumb = LoadSkin(GetParam());
    const QColor key = thumb.pixelColor(0, 0);
    for (int y = 0; y < thumb.height(); ++y) {
        for (int x = 0; x < thumb.width(); ++x) {
            const QColor colour = thumb.pixelColor(x, y);
            if (colour == key) {
                continue;
            }
            // Anti-aliasing against the key would leave a tinge of it: a pixel whose red and
            // blue both stand well above its green.
            const int tinge = std::min(colour.red(), colour.blue()) - colour.green();
            EXPECT_LT(tinge, 40) << "at " << x << "," << y;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RestingAndDragged, SliderThumbTest, ::testing::Values(174, 171));

TEST(SkinSliderTest, ActiveChannelDiffersFromChannelAlongTheGroove) {
    const QImage channel = LoadSkin(172);
    const QImage active = LoadSkin(173);
    ASSERT_EQ(channel.size(), active.size());
    // The thumb's rows 3..8 of the track; the groove runs through their middle.
    const int grooveRow = 3 + 6 / 2;
    for (const int x : {10, channel.width() / 2, channel.width() - 10}) {
        EXPECT_NE(channel.pixel(x, grooveRow), active.pixel(x, grooveRow)) << "at " << x;
    }
}

}  // namespace
