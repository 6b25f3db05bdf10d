#include "skin/skin_drawing.h"

namespace {

QRgb ToQRgb(ColorRef colour) {
    return qRgb(static_cast<int>(colour & 0xFFu), static_cast<int>((colour >> 8) & 0xFFu),
                static_cast<int>((colour >> 16) & 0xFFu));
}

// The mask as black and white pixels a raster operation can combine with a surface.
QImage MaskAsRgb(const QImage& mask) {
    return mask.convertToFormat(QImage::Format_RGB32);
}

}  // namespace

QImage LoadSkinImage(int resourceId) {
    return QImage(QStringLiteral(":/skin/%1.png").arg(resourceId));
}

void BuildMask(QImage& image, QImage& mask, ColorRef keyColour, int keyX, int keyY) {
    if (image.format() != QImage::Format_RGB32) {
        image = image.convertToFormat(QImage::Format_RGB32);
    }
    mask = QImage(image.size(), QImage::Format_Mono);
    if (mask.isNull()) {
        return;
    }
    mask.setColor(0, qRgb(0, 0, 0));
    mask.setColor(1, qRgb(255, 255, 255));
    mask.fill(0);
    bool haveKey = true;
    QRgb key = 0;
    if (keyColour == KEY_FROM_PIXEL) {
        haveKey = image.valid(keyX, keyY);
        key = haveKey ? (image.pixel(keyX, keyY) & 0xFFFFFFu) : 0;
    } else {
        key = ToQRgb(keyColour) & 0xFFFFFFu;
    }
    if (!haveKey) {
        return;
    }
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((row[x] & 0xFFFFFFu) == key) {
                mask.setPixel(x, y, 1);
                row[x] = qRgb(0, 0, 0);
            }
        }
    }
}

void DrawTransparent(QPainter& surface, int x, int y, int width, int height, const QImage& image,
                     int sourceX, int sourceY, const QImage& mask) {
    if (width <= 0 || height <= 0) {
        return;
    }
    const QRect target(x, y, width, height);
    const QRect source(sourceX, sourceY, width, height);
    surface.save();
    // Opaque sprite pixels (mask 0) clear the surface to black, transparent ones keep it...
    surface.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    surface.drawImage(target, MaskAsRgb(mask), source);
    // ...and the image, black where it is transparent, is merged in.
    surface.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
    surface.drawImage(target, image, source);
    surface.restore();
}

void DrawImagePart(QPainter& surface, int x, int y, int width, int height, const QImage& image,
                   int sourceX, int sourceY, const QImage& mask, Transparency transparency) {
    if (transparency == Transparency::kTransparent) {
        DrawTransparent(surface, x, y, width, height, image, sourceX, sourceY, mask);
    } else if (width > 0 && height > 0) {
        surface.drawImage(QPoint(x, y), image, QRect(sourceX, sourceY, width, height));
    }
}

void SaveBackground(const QImage& surface, const QRect& area, QImage& saved) {
    saved = surface.copy(area);
}

void RestoreBackground(QPainter& surface, const QPoint& at, const QImage& saved) {
    if (!saved.isNull()) {
        surface.drawImage(at, saved);
    }
}

CMemoryDC::CMemoryDC(QPainter& target, const QRect& rect, const QImage* underlay)
    : target_(target), rect_(rect), surface_(rect.size(), QImage::Format_RGB32) {
    if (surface_.isNull()) {
        return;
    }
    if (underlay != nullptr) {
        surface_.fill(Qt::black);
        QPainter copy(&surface_);
        copy.drawImage(QPoint(0, 0), *underlay);
    } else {
        surface_.fill(target.background().color());
    }
    painter_.begin(&surface_);
    painter_.translate(-rect.topLeft());
}

CMemoryDC::~CMemoryDC() {
    if (painter_.isActive()) {
        painter_.end();
    }
    if (!surface_.isNull()) {
        target_.drawImage(rect_.topLeft(), surface_);
    }
}
