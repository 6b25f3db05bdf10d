#include "output/burned_overlays.h"

#include <QImage>
#include <QPainter>

#include "output/scale_overlays.h"

namespace {

std::size_t PaddedRowBytes(int width) {
    return (static_cast<std::size_t>(width) * 3u + 3u) & ~std::size_t{3};
}

}  // namespace

bool BurnOverlays(std::uint8_t* rows, std::size_t sizeBytes, int width, int height,
                  const OverlaySwitches& switches, const StillOverlays& overlays) {
    if (rows == nullptr || width <= 0 || height <= 0) {
        return false;
    }
    const std::size_t rowBytes = PaddedRowBytes(width);
    if (sizeBytes / rowBytes < static_cast<std::size_t>(height)) {
        return false;
    }
    const QSize frameSize(width, height);
    const bool scaleBar = overlays.scaleBar && overlays.scale.valid();
    const bool line = overlays.line && overlays.lineFrameSize == frameSize;
    if (OverlaysOn(switches) == 0 && !scaleBar && !line) {
        return false;
    }
    // The painters work best on 32-bit pixels, top-down.
    QImage image(frameSize, QImage::Format_RGB32);
    if (image.isNull()) {
        return false;
    }
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = rows + static_cast<std::size_t>(height - 1 - y) * rowBytes;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            out[x] = qRgb(in[3 * x + 2], in[3 * x + 1], in[3 * x]);
        }
    }
    {
        QPainter painter(&image);
        const QRect client(QPoint(0, 0), frameSize);
        const QRectF target(client);
        DrawOverlays(painter, client, switches, overlays.when);
        if (scaleBar) {
            DrawScaleBar(painter, client, target, frameSize, overlays.scale);
        }
        if (line) {
            DrawMeasurement(painter, client, target, frameSize, overlays.line->p1(),
                            overlays.line->p2(), overlays.label);
        }
    }
    for (int y = 0; y < height; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        std::uint8_t* out = rows + static_cast<std::size_t>(height - 1 - y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            out[3 * x] = static_cast<std::uint8_t>(qBlue(in[x]));
            out[3 * x + 1] = static_cast<std::uint8_t>(qGreen(in[x]));
            out[3 * x + 2] = static_cast<std::uint8_t>(qRed(in[x]));
        }
    }
    return true;
}
