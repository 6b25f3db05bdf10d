#include "glyphs.h"

#include <QPainterPath>
#include <QPolygonF>
#include <cmath>
#include <numbers>

#include "paint_kit.h"

namespace skinart {
namespace {

// Draw calls on the 16-unit grid: the painter is already translated and scaled, the pen set.
using GlyphPainter = void (*)(QPainter&);

void FillWithPen(QPainter& painter, const QPolygonF& shape) {
    painter.setBrush(painter.pen().color());
    painter.drawPolygon(shape);
    painter.setBrush(Qt::NoBrush);
}

void Dot(QPainter& painter, QPointF centre, qreal radius) {
    const QColor colour = painter.pen().color();
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(centre, radius, radius);
    painter.restore();
}

void DrawEye(QPainter& p) {
    QPainterPath outline(QPointF(1, 8));
    outline.cubicTo(4, 2.5, 12, 2.5, 15, 8);
    outline.cubicTo(12, 13.5, 4, 13.5, 1, 8);
    p.drawPath(outline);
    p.drawEllipse(QPointF(8, 8), 2.2, 2.2);
}

void DrawCamera(QPainter& p) {
    QPainterPath body(QPointF(1, 6));
    body.quadTo(1, 4, 3, 4);
    body.lineTo(5, 4);
    body.lineTo(6.5, 2);
    body.lineTo(9.5, 2);
    body.lineTo(11, 4);
    body.lineTo(13, 4);
    body.quadTo(15, 4, 15, 6);
    body.lineTo(15, 12);
    body.quadTo(15, 14, 13, 14);
    body.lineTo(3, 14);
    body.quadTo(1, 14, 1, 12);
    body.closeSubpath();
    p.drawPath(body);
    p.drawEllipse(QPointF(8, 9), 2.5, 2.5);
}

void DrawVideoCamera(QPainter& p) {
    p.drawRoundedRect(QRectF(1, 4, 9, 8), 2, 2);
    p.drawPolyline(QPolygonF({{10, 7}, {15, 4.5}, {15, 11.5}, {10, 9}}));
}

void DrawStopwatch(QPainter& p) {
    p.drawEllipse(QPointF(8, 9.5), 5.5, 5.5);
    p.drawLine(QPointF(6, 1), QPointF(10, 1));
    p.drawLine(QPointF(8, 1), QPointF(8, 3));
    p.drawLine(QPointF(13, 3.5), QPointF(14, 4.5));
    p.drawPolyline(QPolygonF({{8, 6.5}, {8, 9.5}, {10, 11}}));
}

void DrawEnvelope(QPainter& p) {
    p.drawRoundedRect(QRectF(1, 3, 14, 10), 2, 2);
    p.drawPolyline(QPolygonF({{3, 5.5}, {8, 9}, {13, 5.5}}));
}

void DrawDownload(QPainter& p) {
    p.drawLine(QPointF(8, 1), QPointF(8, 10));
    p.drawPolyline(QPolygonF({{4.5, 6.5}, {8, 10}, {11.5, 6.5}}));
    p.drawPolyline(QPolygonF({{1, 10}, {1, 14}, {15, 14}, {15, 10}}));
}

void DrawPlay(QPainter& p) {
    FillWithPen(p, QPolygonF({{4.5, 2.5}, {14, 8}, {4.5, 13.5}}));
}

void DrawStop(QPainter& p) {
    p.setBrush(p.pen().color());
    p.drawRoundedRect(QRectF(3, 3, 10, 10), 1.5, 1.5);
    p.setBrush(Qt::NoBrush);
}

void DrawPause(QPainter& p) {
    const QColor colour = p.pen().color();
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(3, 2, 4, 12), 1.2, 1.2);
    p.drawRoundedRect(QRectF(9, 2, 4, 12), 1.2, 1.2);
    p.restore();
}

void DrawOpenFolder(QPainter& p) {
    QPainterPath back(QPointF(1.5, 12.5));
    back.lineTo(1.5, 3.5);
    back.lineTo(6, 3.5);
    back.lineTo(7.5, 5);
    back.lineTo(12.5, 5);
    back.lineTo(12.5, 7);
    p.drawPath(back);
    p.drawPolygon(QPolygonF({{1.5, 12.5}, {4, 7}, {15, 7}, {12.5, 12.5}}));
}

void DrawSkipToStart(QPainter& p) {
    p.drawLine(QPointF(3, 3), QPointF(3, 13));
    FillWithPen(p, QPolygonF({{13, 3}, {6.5, 8}, {13, 13}}));
}

void DrawSkipToEnd(QPainter& p) {
    p.drawLine(QPointF(13, 3), QPointF(13, 13));
    FillWithPen(p, QPolygonF({{3, 3}, {9.5, 8}, {3, 13}}));
}

void DrawMagnifier(QPainter& p) {
    p.drawEllipse(QPointF(7, 7), 5, 5);
    p.drawLine(QPointF(10.8, 10.8), QPointF(14.5, 14.5));
    p.drawLine(QPointF(4.5, 7), QPointF(9.5, 7));
}

void DrawZoomIn(QPainter& p) {
    DrawMagnifier(p);
    p.drawLine(QPointF(7, 4.5), QPointF(7, 9.5));
}

void DrawGear(QPainter& p) {
    constexpr int kTeeth = 8;
    constexpr qreal kOuter = 7.0;
    constexpr qreal kInner = 5.2;
    QPolygonF outline;
    for (int i = 0; i < kTeeth * 4; ++i) {
        const qreal angle = (i - 0.5) * std::numbers::pi / (kTeeth * 2);
        const qreal radius = (i % 4 < 2) ? kOuter : kInner;
        outline << QPointF(8 + radius * std::cos(angle), 8 + radius * std::sin(angle));
    }
    p.drawPolygon(outline);
    p.drawEllipse(QPointF(8, 8), 2, 2);
}

void DrawQuestion(QPainter& p) {
    QPainterPath hook(QPointF(4.5, 5.5));
    hook.cubicTo(4.5, 1.5, 11.5, 1.5, 11.5, 5.5);
    hook.cubicTo(11.5, 8.5, 8, 8, 8, 10.5);
    p.drawPath(hook);
    Dot(p, QPointF(8, 14), 1.3);
}

void DrawMinimise(QPainter& p) {
    p.drawLine(QPointF(3, 12), QPointF(13, 12));
}

void DrawFullScreen(QPainter& p) {
    p.drawPolyline(QPolygonF({{2, 6}, {2, 2}, {6, 2}}));
    p.drawPolyline(QPolygonF({{10, 2}, {14, 2}, {14, 6}}));
    p.drawPolyline(QPolygonF({{14, 10}, {14, 14}, {10, 14}}));
    p.drawPolyline(QPolygonF({{6, 14}, {2, 14}, {2, 10}}));
}

void DrawClose(QPainter& p) {
    p.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
    p.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
}

void DrawStepBack(QPainter& p) {
    p.drawPolygon(QPolygonF({{10, 3}, {3.5, 8}, {10, 13}}));
    p.drawLine(QPointF(13, 3), QPointF(13, 13));
}

void DrawStepForward(QPainter& p) {
    p.drawLine(QPointF(3, 3), QPointF(3, 13));
    p.drawPolygon(QPolygonF({{6, 3}, {12.5, 8}, {6, 13}}));
}

void DrawHand(QPainter& p) {
    p.drawLine(QPointF(5, 8), QPointF(5, 4));
    p.drawLine(QPointF(8, 7), QPointF(8, 2));
    p.drawLine(QPointF(11, 7), QPointF(11, 3));
    p.drawLine(QPointF(14, 8), QPointF(14, 5));
    QPainterPath palm(QPointF(5, 8));
    palm.lineTo(5, 10);
    palm.lineTo(2.5, 8);
    palm.quadTo(1.5, 9, 2.5, 10.5);
    palm.lineTo(5.5, 14);
    palm.quadTo(6.5, 15, 8, 15);
    palm.lineTo(11, 15);
    palm.quadTo(14, 15, 14, 11.5);
    palm.lineTo(14, 8);
    p.drawPath(palm);
}

GlyphPainter PainterFor(Glyph glyph) {
    switch (glyph) {
        case Glyph::Eye:
            return DrawEye;
        case Glyph::Camera:
            return DrawCamera;
        case Glyph::VideoCamera:
            return DrawVideoCamera;
        case Glyph::Stopwatch:
            return DrawStopwatch;
        case Glyph::Envelope:
            return DrawEnvelope;
        case Glyph::Download:
            return DrawDownload;
        case Glyph::Play:
            return DrawPlay;
        case Glyph::Stop:
            return DrawStop;
        case Glyph::Pause:
            return DrawPause;
        case Glyph::OpenFolder:
            return DrawOpenFolder;
        case Glyph::SkipToStart:
            return DrawSkipToStart;
        case Glyph::SkipToEnd:
            return DrawSkipToEnd;
        case Glyph::ZoomOut:
            return DrawMagnifier;
        case Glyph::ZoomIn:
            return DrawZoomIn;
        case Glyph::Gear:
            return DrawGear;
        case Glyph::Question:
            return DrawQuestion;
        case Glyph::Minimise:
            return DrawMinimise;
        case Glyph::FullScreen:
            return DrawFullScreen;
        case Glyph::Close:
            return DrawClose;
        case Glyph::StepBack:
            return DrawStepBack;
        case Glyph::StepForward:
            return DrawStepForward;
        case Glyph::Hand:
            return DrawHand;
    }
    return DrawClose;
}

// Runs `draw` on a grid at `origin` scaled by `scale`, with a 2 px line pen.
template <typename Draw>
void OnGrid(QPainter& painter, QPointF origin, QColor colour, qreal scale, Draw draw) {
    painter.save();
    painter.translate(origin);
    painter.scale(scale, scale);
    painter.setPen(LinePen(colour, 2.0 / scale));
    painter.setBrush(Qt::NoBrush);
    draw(painter);
    painter.restore();
}

}  // namespace

void DrawGlyph(QPainter& painter, Glyph glyph, QPointF origin, QColor colour, qreal scale) {
    OnGrid(painter, origin, colour, scale, PainterFor(glyph));
}

void DrawPictureSymbol(QPainter& painter, QPointF origin, QColor colour, qreal scale) {
    OnGrid(painter, origin, colour, scale, [](QPainter& p) {
        p.drawRoundedRect(QRectF(2, 4, 20, 16), 3, 3);
        p.drawPolyline(QPolygonF({{3, 17}, {9, 11}, {13, 15}, {16, 12}, {21, 17}}));
        p.drawEllipse(QPointF(16, 8.5), 1.5, 1.5);
    });
}

void DrawFilmSymbol(QPainter& painter, QPointF origin, QColor colour, qreal scale) {
    OnGrid(painter, origin, colour, scale, [](QPainter& p) {
        p.drawRoundedRect(QRectF(3, 2, 18, 20), 3, 3);
        p.drawLine(QPointF(8, 2), QPointF(8, 22));
        p.drawLine(QPointF(16, 2), QPointF(16, 22));
        for (const qreal y : {7.0, 12.0, 17.0}) {
            p.drawLine(QPointF(3, y), QPointF(8, y));
            p.drawLine(QPointF(16, y), QPointF(21, y));
        }
    });
}

}  // namespace skinart
