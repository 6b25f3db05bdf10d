#include "microscope.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "paint_kit.h"
#include "palette.h"
#include "skin_layout.h"

namespace skinart {
namespace {

// Everything below is drawn in a 100 x 100 design space.
constexpr qreal kDesignSize = 100.0;

const QColor kMetal{222, 228, 235};
const QColor kMetalShade{150, 160, 172};
const QColor kTileTop{50, 58, 68};
const QColor kTileBottom{25, 29, 34};

// Small icons get thicker parts and fewer details, so they still read at 16 px.
enum class Weight { Regular, Bold };

// The tube's axis runs from the eyepiece down to the objective.
const QPointF kEyepiece{59, 15};
const QPointF kObjective{41, 57};

QPointF AlongTube(qreal t) {
    return kEyepiece + (kObjective - kEyepiece) * t;
}

qreal Thicker(Weight weight, qreal regular) {
    return weight == Weight::Bold ? regular * 1.3 : regular;
}

void StrokeSegment(QPainter& painter, QPointF from, QPointF to, qreal width, QColor colour,
                   Qt::PenCapStyle cap) {
    QPen pen(colour, width);
    pen.setCapStyle(cap);
    painter.setPen(pen);
    painter.drawLine(from, to);
}

void DrawTile(QPainter& painter, Weight weight) {
    const qreal margin = weight == Weight::Bold ? 2 : 6;
    const QRectF tile(margin, margin, kDesignSize - 2 * margin, kDesignSize - 2 * margin);
    QLinearGradient gradient(tile.topLeft(), tile.bottomLeft());
    gradient.setColorAt(0.0, kTileTop);
    gradient.setColorAt(1.0, kTileBottom);
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawRoundedRect(tile, 20, 20);
}

void DrawStandAndStage(QPainter& painter, Weight weight) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(kMetal);
    const qreal footHeight = Thicker(weight, 9);
    painter.drawRoundedRect(QRectF(22, 87 - footHeight, 56, footHeight), footHeight / 2,
                            footHeight / 2);
    const QPointF holder = AlongTube(0.45);
    QPainterPath arm(QPointF(67, 82));
    arm.lineTo(67, 54);
    arm.quadTo(67, holder.y() + 2, holder.x() + 4, holder.y());
    QPen pen(kMetal, Thicker(weight, 11));
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(arm);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kMetal);
    const qreal stageHeight = Thicker(weight, 6);
    painter.drawRoundedRect(QRectF(22, 63, 48, stageHeight), stageHeight / 2, stageHeight / 2);
}

void DrawTube(QPainter& painter, Weight weight) {
    StrokeSegment(painter, AlongTube(0.1), AlongTube(0.86), Thicker(weight, 12), kMetal,
                  Qt::FlatCap);
    StrokeSegment(painter, AlongTube(-0.02), AlongTube(0.16), Thicker(weight, 16), kMetal,
                  Qt::RoundCap);
    StrokeSegment(painter, AlongTube(0.85), AlongTube(1.0), Thicker(weight, 8), palette::kAccentTop,
                  Qt::RoundCap);
    if (weight == Weight::Regular) {
        // A shaded ring where the eyepiece meets the tube.
        StrokeSegment(painter, AlongTube(0.2), AlongTube(0.23), 12, kMetalShade, Qt::FlatCap);
    }
}

void DrawSpecimen(QPainter& painter, Weight weight) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette::kAccent);
    const QPointF below = AlongTube(1.0);
    const qreal width = Thicker(weight, 18);
    painter.drawRoundedRect(QRectF(below.x() - width / 2, 60, width, 3), 1.5, 1.5);
}

void DrawFocusKnob(QPainter& painter) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(kMetalShade);
    painter.drawEllipse(QPointF(67, 50), 5.5, 5.5);
    painter.setBrush(palette::kAccent);
    painter.drawEllipse(QPointF(67, 50), 2.5, 2.5);
}

void DrawMicroscope(QPainter& painter, Weight weight) {
    DrawStandAndStage(painter, weight);
    DrawTube(painter, weight);
    if (weight == Weight::Regular) {
        DrawSpecimen(painter, weight);
        DrawFocusKnob(painter);
    }
}

}  // namespace

QImage DrawWindowIcon(int sizePx) {
    QImage image = NewTransparentImage(QSize(sizePx, sizePx));
    QPainter painter;
    BeginPainting(painter, image);
    painter.scale(sizePx / kDesignSize, sizePx / kDesignSize);
    const Weight weight = sizePx <= 32 ? Weight::Bold : Weight::Regular;
    DrawTile(painter, weight);
    DrawMicroscope(painter, weight);
    return image;
}

QImage DrawAboutPicture() {
    QImage image = NewImage(layout::kAbout, palette::kBase);
    QPainter painter;
    BeginPainting(painter, image);
    painter.scale(image.width() / kDesignSize, image.height() / kDesignSize);
    QLinearGradient gradient(QPointF(0, 0), QPointF(0, kDesignSize));
    gradient.setColorAt(0.0, kTileTop);
    gradient.setColorAt(1.0, kTileBottom);
    painter.fillRect(QRectF(0, 0, kDesignSize, kDesignSize), gradient);
    DrawMicroscope(painter, Weight::Regular);
    return image;
}

}  // namespace skinart
