#include "paint_kit.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <cstdio>

namespace skinart {
namespace {

constexpr int kDotsPerMeter96Dpi = 3780;

void SetFixedResolution(QImage& image) {
    image.setDotsPerMeterX(kDotsPerMeter96Dpi);
    image.setDotsPerMeterY(kDotsPerMeter96Dpi);
}

}  // namespace

QImage NewImage(QSize size, QColor fill) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    SetFixedResolution(image);
    image.fill(fill);
    return image;
}

QImage NewTransparentImage(QSize size) {
    return NewImage(size, Qt::transparent);
}

bool SavePng(const QImage& image, const QString& path, PngDepth depth) {
    QImage stored = depth == PngDepth::Rgb24 ? image.convertToFormat(QImage::Format_RGB888)
                                             : image.convertToFormat(QImage::Format_ARGB32);
    SetFixedResolution(stored);
    if (!stored.save(path, "PNG")) {
        std::fprintf(stderr, "skin_art: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

void BeginPainting(QPainter& painter, QImage& image) {
    painter.begin(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
}

QPen LinePen(QColor colour, qreal widthPx) {
    QPen pen(colour, widthPx);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void FillRoundedGradient(QPainter& painter, const QRectF& rect, qreal radius, QColor top,
                         QColor bottom) {
    QLinearGradient gradient(rect.topLeft(), rect.bottomLeft());
    gradient.setColorAt(0.0, top);
    gradient.setColorAt(1.0, bottom);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(rect, radius, radius);
    painter.restore();
}

void StrokeRoundedInside(QPainter& painter, const QRectF& rect, qreal radius, QColor colour) {
    painter.save();
    painter.setPen(QPen(colour, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);
    painter.restore();
}

QImage CropOrFill(const QImage& source, const QRect& rect, QColor fill) {
    QImage out = NewImage(rect.size(), fill);
    QPainter painter(&out);
    painter.drawImage(QPoint(0, 0), source, rect);
    return out;
}

QColor Mix(QColor a, QColor b, qreal amount) {
    const qreal keep = 1.0 - amount;
    return QColor::fromRgbF(static_cast<float>(a.redF() * keep + b.redF() * amount),
                            static_cast<float>(a.greenF() * keep + b.greenF() * amount),
                            static_cast<float>(a.blueF() * keep + b.blueF() * amount));
}

}  // namespace skinart
