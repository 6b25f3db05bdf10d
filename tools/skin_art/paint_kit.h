#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPen>
#include <QRectF>
#include <QString>

// Small drawing helpers shared by every picture of the skin.
namespace skinart {

// How a picture is stored: 24-bit RGB, or RGB with an alpha channel.
enum class PngDepth { Rgb24, Rgba32 };

// A new image of `size` filled with `fill`, at a fixed 96 dpi so the files do not depend on
// the screen of the machine that makes them.
QImage NewImage(QSize size, QColor fill);
QImage NewTransparentImage(QSize size);

// Writes `image` as PNG; returns false and prints why when it cannot.
bool SavePng(const QImage& image, const QString& path, PngDepth depth);

// A QPainter with anti-aliasing on, for `image`.
void BeginPainting(QPainter& painter, QImage& image);

// The pen of every line icon: `widthPx` wide, round ends and joins.
QPen LinePen(QColor colour, qreal widthPx = 2.0);

// A rectangle with rounded corners and a vertical gradient from `top` to `bottom`.
void FillRoundedGradient(QPainter& painter, const QRectF& rect, qreal radius, QColor top,
                         QColor bottom);

// A 1 px outline drawn inside `rect`, so it stays crisp on whole pixels.
void StrokeRoundedInside(QPainter& painter, const QRectF& rect, qreal radius, QColor colour);

// A copy of `source` at `rect`, or an image of `rect`'s size filled with `fill` where the
// rectangle leaves `source`.
QImage CropOrFill(const QImage& source, const QRect& rect, QColor fill);

// `a` moved towards `b` by `amount` (0..1).
QColor Mix(QColor a, QColor b, qreal amount);

}  // namespace skinart
