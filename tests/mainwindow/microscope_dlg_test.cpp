#include "mainwindow/microscope_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

#include "app/program_paths.h"
#include "capture/display/video_display_window.h"
#include "capture/gst/capture_stack.h"
#include "sim/simulated_microscope.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

using testsupport::Exists;
using testsupport::IsDirectory;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WaitUntil;
using testsupport::WriteFile;

class MicroscopeDlgTest : public ::testing::Test {
protected:
    StartupEnvironment Environment(platform::LangId language = 0x0409) const {
        StartupEnvironment environment;
        environment.executablePath = program / "digital-microscope";
        environment.documentsFolder = documents.path();
        environment.languageId = language;
        environment.audioSink = "fakesink";
        return environment;
    }
    void TearDown() override { SetProgramPaths({}); }

    TempDir program;
    TempDir documents;
};

TEST_F(MicroscopeDlgTest, StartsWithDefaultsAndTheFixedClientArea) {
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    EXPECT_EQ(dialog.MessageTitle(), QStringLiteral("USB 2.0 Digital Microscope"));
    EXPECT_EQ(dialog.windowTitle(), dialog.MessageTitle());
    dialog.show();
    EXPECT_EQ(dialog.centralWidget()->size(), QSize(842, 579));

    EXPECT_EQ(dialog.Paths().programFolder, program.path());
    EXPECT_EQ(dialog.Paths().languageFilePath, program / "English1252.ini");
    EXPECT_TRUE(IsDirectory(documents / "Microscope files/Picture"));
    EXPECT_TRUE(IsDirectory(documents / "Microscope files/Video"));
    EXPECT_EQ(CurrentProgramPaths().videoFolder, dialog.Paths().videoFolder);
}

TEST_F(MicroscopeDlgTest, TitleComesFromTheLanguageOfTheSystem) {
    WriteFile(program / "Russian1251.ini",
              "[Zentra]\nMsgTitle=\xCC\xE8\xEA\xF0\xEE\xF1\xEA\xEE\xEF\n");
    CMicroscopeDlg dialog(Environment(0x0419));
    ASSERT_TRUE(dialog.OnInitDialog());
    EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("Микроскоп"));
}

TEST_F(MicroscopeDlgTest, StartingKeepsEveryFileInTheVideoFolder) {
    ASSERT_EQ(::mkdir((documents / "Microscope files").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((documents / "Microscope files/Video").c_str(), 0755), 0);
    // A recording of the user's that happens to have the name of the compressor probe.
    WriteFile(documents / "Microscope files/Video/test.avi", "the user's recording");
    WriteFile(documents / "Microscope files/Video/VCap0000.avi", "recording");

    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    EXPECT_EQ(ReadFile(documents / "Microscope files/Video/test.avi"), "the user's recording");
    EXPECT_EQ(ReadFile(documents / "Microscope files/Video/VCap0000.avi"), "recording");
    EXPECT_TRUE(IsDirectory(documents / "Microscope files/Picture"));
}

TEST_F(MicroscopeDlgTest, ClosingEndsTheWindow) {
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    ASSERT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.close());
    EXPECT_FALSE(dialog.isVisible());
}

}  // namespace

namespace {

// The source pixel under the centre of display pixel i of n, for a frame side of `count`.
int SourceUnder(int i, int count, int n) {
    return ((2 * i + 1) * count) / (2 * n);
}

bool IsWhite(QRgb pixel) {
    return (pixel & 0xFFFFFFu) == 0xFFFFFFu;
}

bool IsBlack(QRgb pixel) {
    return (pixel & 0xFFFFFFu) == 0u;
}

TEST_F(MicroscopeDlgTest, TheDisplayShowsTheStreamedFrameUnderAllFourOverlays) {
    StartupEnvironment environment = Environment();
    environment.simulatedKind = 1;
    CMicroscopeDlg dialog(environment);
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    VideoDisplayWindow& display = *dialog.displayWindow();
    EXPECT_EQ(display.geometry(), QRect(221, 0, 622, 487));
    EXPECT_TRUE(display.connectText().isEmpty());
    OverlaySwitches& overlays = display.overlays();
    overlays.showClock = 1;
    overlays.showCrossLine = 1;
    overlays.showGrid = 1;
    overlays.showCircles = 1;
    const std::uint64_t before = display.framesDrawn();
    ASSERT_TRUE(WaitUntil([&] { return display.framesDrawn() >= before + 3; }));

    // Once the graph has stopped, the last frame drawn is the one the engine holds.
    CaptureEngine& engine = dialog.capture()->engine();
    ASSERT_EQ(engine.StopGraph(), 1);
    QCoreApplication::processEvents();
    const BitmapInfoHeader header = engine.latestFrame().Header();
    ASSERT_EQ(header.biWidth, 1280);
    ASSERT_EQ(header.biHeight, 1024);
    const std::vector<std::uint8_t> kept = engine.latestFrame().BottomUpBytes(header.biSizeImage);
    ASSERT_EQ(kept.size(), header.biSizeImage);
    const std::uint8_t* frame = kept.data();
    const QImage shown = display.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(622, 487));

    const int cx = 311;
    const int cy = 243;
    constexpr std::array<int, 5> kRadii = {48, 97, 145, 194, 243};
    // The white cross, with the black ticks of the scales drawn over it every 4 pixels.
    // The circles, drawn last, cross the centre lines in white.
    const auto onCircle = [&](int offset) {
        return std::any_of(kRadii.begin(), kRadii.end(),
                           [&](int radius) { return offset == -radius || offset == radius - 1; });
    };
    for (int x = 0; x < 622; ++x) {
        const bool tick = ((x - cx) % 4 == 0 && std::abs(x - cx) <= 4 * 77) || x == cx - 1;
        const bool black = tick && !onCircle(x - cx);
        ASSERT_EQ(shown.pixel(x, cy) & 0xFFFFFFu, black ? 0u : 0xFFFFFFu) << "x " << x;
    }
    for (int y = 0; y < 487; ++y) {
        const bool tick = ((y - cy) % 4 == 0 && std::abs(y - cy) <= 4 * 60) || y == cy - 1;
        const bool black = tick && !onCircle(y - cy);
        ASSERT_EQ(shown.pixel(cx, y) & 0xFFFFFFu, black ? 0u : 0xFFFFFFu) << "y " << y;
    }
    // A long tick 40 pixels above the centre, a middle one 20 pixels below it.
    for (int x = cx - 6; x < cx + 6; ++x) {
        EXPECT_TRUE(IsBlack(shown.pixel(x, cy - 40))) << x;
    }
    for (int x = cx - 3; x < cx + 3; ++x) {
        EXPECT_TRUE(IsBlack(shown.pixel(x, cy + 20))) << x;
    }
    // The circles, drawn last, at their left and right extremes.
    for (const int radius : kRadii) {
        for (const int dy : {-3, 3}) {
            EXPECT_TRUE(IsWhite(shown.pixel(cx - radius, cy + dy))) << radius;
            EXPECT_TRUE(IsWhite(shown.pixel(cx + radius - 1, cy + dy))) << radius;
        }
    }
    // The clock in the bottom left corner: black text on white.
    int white = 0;
    int black = 0;
    for (int y = 487 - 14; y < 487; ++y) {
        for (int x = 0; x < 100; ++x) {
            white += IsWhite(shown.pixel(x, y)) ? 1 : 0;
            black += qGray(shown.pixel(x, y)) < 100 ? 1 : 0;
        }
    }
    EXPECT_GT(white, 200);
    EXPECT_GT(black, 40);

    // Elsewhere the frame itself, stretched over the whole window, upright.
    int compared = 0;
    int distinct = 0;
    QRgb first = 0;
    for (int y = 10; y < 460; y += 13) {
        for (int x = 10; x < 612; x += 17) {
            const int fromCentre = static_cast<int>(std::lround(std::hypot(x - cx, y - cy)));
            const bool nearCircle = std::any_of(kRadii.begin(), kRadii.end(), [&](int radius) {
                return std::abs(fromCentre - radius) <= 3;
            });
            if (std::abs(x - cx) <= 7 || std::abs(y - cy) <= 7 || nearCircle) {
                continue;
            }
            const int sx = SourceUnder(x, 1280, 622);
            const int sy = SourceUnder(y, 1024, 487);
            const std::uint8_t* pixel = frame + static_cast<std::size_t>(1023 - sy) * 1280 * 3 +
                                        static_cast<std::size_t>(sx) * 3;
            ASSERT_EQ(shown.pixel(x, y) & 0xFFFFFFu, qRgb(pixel[2], pixel[1], pixel[0]) & 0xFFFFFFu)
                << x << "," << y;
            if (compared++ == 0) {
                first = shown.pixel(x, y);
            } else if (shown.pixel(x, y) != first) {
                ++distinct;
            }
        }
    }
    EXPECT_GT(compared, 400);
    EXPECT_GT(distinct, compared / 2);
}

TEST_F(MicroscopeDlgTest, WithoutADeviceTheDisplayAsksForOne) {
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    VideoDisplayWindow& display = *dialog.displayWindow();
    EXPECT_EQ(display.connectText(), QStringLiteral("Please connect USB 2.0 Digital Microscope"));
    const QImage shown = display.grab().toImage().convertToFormat(QImage::Format_RGB32);
    int green = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            green += (shown.pixel(x, y) & 0xFFFFFFu) == 0x00FF00u ? 1 : 0;
        }
    }
    EXPECT_GT(green, 500);
}

TEST_F(MicroscopeDlgTest, AStillFromTheEngineIsSavedInThePictureFolder) {
    StartupEnvironment environment = Environment();
    environment.simulatedKind = 1;
    CMicroscopeDlg dialog(environment);
    ASSERT_TRUE(dialog.OnInitDialog());
    ASSERT_TRUE(WaitUntil([&] { return dialog.displayWindow()->framesDrawn() >= 2; }));
    dialog.capture()->session().RequestStill(StillSource::CameraButton);
    const std::string still = dialog.Paths().pictureFolder + "/StillCap0.bmp";
    ASSERT_TRUE(WaitUntil([&] { return Exists(still); }));
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(still).size() == 54u + 1280u * 1024u * 3u; }));
    EXPECT_FALSE(dialog.capture()->session().StillPending());
}

}  // namespace
