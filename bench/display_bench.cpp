// Times composing a live frame for the display window: a 1280 x 1024 frame stretched into a
// 622 x 487 window with the clock, cross, scales and circles drawn over it, as the streaming
// thread does it (VideoDisplayWindow::DrawFrame), against a plain nearest-neighbour scale of
// the same frame into an image of the same size, measured in the same run. For context it
// also prints the overlays alone, Qt's own fast (nearest-neighbour) QImage::scaled, and the
// compose with the measuring overlays on as well (a scale bar and a measured line).
//   display_bench [frames]
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "bench_support.h"
#include "capture/display/nearest_scaler.h"
#include "capture/display/video_display_window.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFrameWidth = 1280;
constexpr int kFrameHeight = 1024;
constexpr int kDisplayWidth = 622;
constexpr int kDisplayHeight = 487;
constexpr int kRounds = 9;

// Milliseconds per call of `work`, over `frames` calls.
template <typename Work>
double PerFrameMilliseconds(int frames, Work work) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        work(i);
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count() / frames;
}

std::vector<std::uint8_t> TestFrame() {
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(kFrameWidth) * kFrameHeight * 3);
    std::uint32_t state = 12345;
    for (std::uint8_t& byte : frame) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return frame;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const int frames = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;

    const std::vector<std::uint8_t> frame = TestFrame();
    VideoDisplayWindow display;
    bench::ShowWithAllOverlays(display, kDisplayWidth, kDisplayHeight);
    QCoreApplication::processEvents();

    // The same with a calibration, the scale bar and a line measured across the picture.
    VideoDisplayWindow measured;
    bench::ShowWithAllOverlays(measured, kDisplayWidth, kDisplayHeight);
    measured.DrawFrame(frame.data(), frame.size(), kFrameWidth, kFrameHeight);
    measured.SetLiveScale(PictureScale{2.0, 2.0, QStringLiteral("x200"), {}});
    measured.SetScaleBarShown(true);
    measured.SetPointerTool(VideoDisplayWindow::PointerTool::kMeasure);
    for (const auto& [type, at] : {std::pair{QEvent::MouseButtonPress, QPoint(100, 100)},
                                   std::pair{QEvent::MouseMove, QPoint(500, 380)},
                                   std::pair{QEvent::MouseButtonRelease, QPoint(500, 380)}}) {
        QMouseEvent event(type, QPointF(at), QPointF(at),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(&measured, &event);
    }
    if (!measured.measuredLine()) {
        std::fprintf(stderr, "display_bench: no line was measured\n");
        return 1;
    }

    NearestScaler scaler;
    QImage scaled(kDisplayWidth, kDisplayHeight, QImage::Format_RGB32);
    const QImage wrapped(frame.data(), kFrameWidth, kFrameHeight, kFrameWidth * 3,
                         QImage::Format_BGR888);
    const QRect client(0, 0, kDisplayWidth, kDisplayHeight);
    QImage painted(kDisplayWidth, kDisplayHeight, QImage::Format_RGB32);
    painted.fill(Qt::gray);

    std::vector<double> compose;
    std::vector<double> plain;
    std::vector<double> overlaysOnly;
    std::vector<double> qtScaled;
    std::vector<double> withMeasure;
    for (int round = 0; round < kRounds; ++round) {
        compose.push_back(PerFrameMilliseconds(frames, [&](int) {
            display.DrawFrame(frame.data(), frame.size(), kFrameWidth, kFrameHeight);
        }));
        plain.push_back(PerFrameMilliseconds(frames, [&](int) {
            scaler.Scale(frame.data(), frame.size(), kFrameWidth, kFrameHeight, scaled);
        }));
        overlaysOnly.push_back(PerFrameMilliseconds(frames, [&](int) {
            QPainter painter(&painted);
            DrawOverlays(painter, client, display.overlays());
        }));
        qtScaled.push_back(PerFrameMilliseconds(frames, [&](int) {
            const QImage image = wrapped.scaled(kDisplayWidth, kDisplayHeight,
                                                Qt::IgnoreAspectRatio, Qt::FastTransformation);
            (void)image;
        }));
        withMeasure.push_back(PerFrameMilliseconds(frames, [&](int) {
            measured.DrawFrame(frame.data(), frame.size(), kFrameWidth, kFrameHeight);
        }));
        QCoreApplication::processEvents();
    }

    if (display.SurfaceSnapshot().size() != QSize(kDisplayWidth, kDisplayHeight)) {
        std::fprintf(stderr, "display_bench: the window did not take its size\n");
        return 1;
    }
    const double composeMs = bench::Median(compose);
    const double plainMs = bench::Median(plain);
    std::printf("display_bench: %d x %d frame into a %d x %d window, all four overlays on\n",
                kFrameWidth, kFrameHeight, kDisplayWidth, kDisplayHeight);
    std::printf("  %d rounds of %d frames, medians per frame\n", kRounds, frames);
    std::printf("  compose (scale + overlays, DrawFrame)   %8.3f ms\n", composeMs);
    std::printf("  plain nearest-neighbour scale (baseline)%8.3f ms\n", plainMs);
    std::printf("  overlays alone                          %8.3f ms\n",
                bench::Median(overlaysOnly));
    std::printf("  Qt QImage::scaled, fast transformation  %8.3f ms\n", bench::Median(qtScaled));
    std::printf("  ratio compose / plain scale             %8.2f\n", composeMs / plainMs);
    std::printf("  ratio compose / Qt fast scale           %8.2f\n",
                composeMs / bench::Median(qtScaled));
    std::printf("  share of a 30 fps frame period          %7.1f %%\n",
                composeMs / (1000.0 / 30) * 100);
    const double measureMs = bench::Median(withMeasure);
    std::printf("  compose with scale bar and line         %8.3f ms\n", measureMs);
    std::printf("  ratio with measuring / compose          %8.2f\n", measureMs / composeMs);
    return 0;
}
