#include "output/scale_overlays.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <utility>

#include "output/painter_state_guard.h"

namespace {

const QColor kBarColour(255, 255, 255);
const QColor kOutlineColour(0, 0, 0);
const QColor kLineColour(255, 214, 0);
const QColor kLabelBoxColour(16, 16, 16, 200);
const QColor kLabelBoxEdgeColour(255, 255, 255, 110);
const QColor kLabelTextColour(255, 255, 255);

// Every size in device pixels for a client of some size: 1 at 640x480, 2 at about 1280x960.
struct Metrics {
    double unit = 1;
    int marginPixels = 2;
    int outlinePixels = 1;
};

Metrics MetricsFor(const QRect& client) {
    Metrics metrics;
    const double area = static_cast<double>(client.width()) * client.height();
    metrics.unit = std::clamp(std::sqrt(area / (640.0 * 480.0)), 0.5, 8.0);
    metrics.marginPixels = std::max(
        2, static_cast<int>(std::lround(0.03 * std::min(client.width(), client.height()))));
    metrics.outlinePixels = std::max(1, static_cast<int>(std::lround(metrics.unit)));
    return metrics;
}

QFont FontFor(const QPainter& painter, const Metrics& metrics, int basePixels) {
    QFont font = painter.font();
    font.setPixelSize(std::max(8, static_cast<int>(std::lround(basePixels * metrics.unit))));
    font.setWeight(QFont::DemiBold);
    return font;
}

bool IsDrawable(const QRect& client, const QRectF& frameTarget, QSize frameSize) {
    return client.width() > 0 && client.height() > 0 && frameSize.width() > 0 &&
           frameSize.height() > 0 && frameTarget.width() > 0 && frameTarget.height() > 0 &&
           std::isfinite(frameTarget.left()) && std::isfinite(frameTarget.top()) &&
           std::isfinite(frameTarget.width()) && std::isfinite(frameTarget.height());
}

// Only `client` is painted on; a clip set before is kept as well.
void ClipTo(QPainter& painter, const QRect& client) {
    painter.setClipRect(client, painter.hasClipping() ? Qt::IntersectClip : Qt::ReplaceClip);
}

// Text as a white shape with a black edge.
void DrawOutlinedText(QPainter& painter, const QPainterPath& text, double edgePixels) {
    QPen edge(kOutlineColour, 2 * edgePixels);
    edge.setJoinStyle(Qt::RoundJoin);
    painter.strokePath(text, edge);
    painter.fillPath(text, kBarColour);
}

// The part of the segment a-b inside `rect`; nothing when none is (Liang-Barsky).
std::optional<std::pair<QPointF, QPointF>> ClipSegment(QPointF a, QPointF b, const QRectF& rect) {
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    const std::array<double, 4> p = {-dx, dx, -dy, dy};
    const std::array<double, 4> q = {a.x() - rect.left(), rect.right() - a.x(), a.y() - rect.top(),
                                     rect.bottom() - a.y()};
    double enter = 0;
    double leave = 1;
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (p[i] == 0) {
            if (q[i] < 0) {
                return std::nullopt;
            }
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0) {
            enter = std::max(enter, t);
        } else {
            leave = std::min(leave, t);
        }
    }
    if (enter > leave) {
        return std::nullopt;
    }
    return std::make_pair(a + enter * (b - a), a + leave * (b - a));
}

// `box` moved the least so that it lies inside `area` (its left and top edges when it is
// larger).
QRectF MovedInside(QRectF box, const QRectF& area) {
    box.moveLeft(std::max(area.left(), std::min(box.left(), area.right() - box.width())));
    box.moveTop(std::max(area.top(), std::min(box.top(), area.bottom() - box.height())));
    return box;
}

// Where the label box goes: beside the middle of the visible line, on the side of `normal`
// (above it, or right of an upright line) when it fits in the client there, else on the other
// side, else moved into the client. `clearancePixels` is how far its near edge stays from the
// line's centre line.
QRectF LabelBox(QPointF middle, QPointF normal, QSizeF boxSize, double clearancePixels,
                const QRectF& area) {
    // How far the box reaches towards the line from its centre.
    const double reach =
        std::abs(normal.x()) * boxSize.width() / 2 + std::abs(normal.y()) * boxSize.height() / 2;
    const double offset = reach + clearancePixels;
    QRectF box;
    for (const double side : {1.0, -1.0}) {
        box = QRectF(QPointF(), boxSize);
        box.moveCenter(middle + side * offset * normal);
        if (area.contains(box)) {
            return box;
        }
    }
    box.moveCenter(middle + offset * normal);
    return MovedInside(box, area);
}

void DrawLabel(QPainter& painter, const QRectF& box, const QString& label, const QFont& font,
               const Metrics& metrics) {
    const double radius = 4 * metrics.unit;
    painter.setPen(QPen(kLabelBoxEdgeColour, 1));
    painter.setBrush(kLabelBoxColour);
    painter.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.setFont(font);
    painter.setPen(kLabelTextColour);
    painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, label);
}

}  // namespace

QPointF FrameToDevice(QPointF framePoint, const QRectF& frameTarget, QSize frameSize) {
    if (frameSize.width() <= 0 || frameSize.height() <= 0) {
        return frameTarget.topLeft();
    }
    return {frameTarget.left() + framePoint.x() * frameTarget.width() / frameSize.width(),
            frameTarget.top() + framePoint.y() * frameTarget.height() / frameSize.height()};
}

QPointF DeviceToFrame(QPointF devicePoint, const QRectF& frameTarget, QSize frameSize) {
    if (frameTarget.width() <= 0 || frameTarget.height() <= 0) {
        return {};
    }
    return {(devicePoint.x() - frameTarget.left()) * frameSize.width() / frameTarget.width(),
            (devicePoint.y() - frameTarget.top()) * frameSize.height() / frameTarget.height()};
}

ScaleBarChoice ChooseScaleBar(const QRect& client, const QRectF& frameTarget, QSize frameSize,
                              const PictureScale& scale) {
    if (!scale.valid() || !IsDrawable(client, frameTarget, frameSize)) {
        return {};
    }
    const double devicePerFramePixel = frameTarget.width() / frameSize.width();
    const double maxMicrometres =
        client.width() / 5.0 / devicePerFramePixel * scale.xMicrometresPerPixel;
    const double micrometres = RoundScaleBarMicrometres(maxMicrometres);
    return {micrometres, micrometres / scale.xMicrometresPerPixel};
}

void DrawScaleBar(QPainter& painter, const QRect& client, const QRectF& frameTarget,
                  QSize frameSize, const PictureScale& scale) {
    const ScaleBarChoice choice = ChooseScaleBar(client, frameTarget, frameSize, scale);
    if (choice.micrometres <= 0) {
        return;
    }
    const Metrics metrics = MetricsFor(client);
    const int outline = metrics.outlinePixels;
    const double devicePixels = choice.framePixels * frameTarget.width() / frameSize.width();
    const int length =
        static_cast<int>(std::lround(std::clamp(devicePixels, 1.0, 4.0 * client.width())));
    const int thickness = std::max(2, static_cast<int>(std::lround(5 * metrics.unit)));
    const int right = client.left() + client.width() - metrics.marginPixels - outline;
    const int bottom = client.top() + client.height() - metrics.marginPixels - outline;
    const QRect bar(right - length, bottom - thickness, length, thickness);

    const PainterStateGuard guard(painter);
    ClipTo(painter, client);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(bar.adjusted(-outline, -outline, outline, outline), kOutlineColour);
    painter.fillRect(bar, kBarColour);

    QPainterPath text;
    text.addText(0, 0, FontFor(painter, metrics, 15), LengthText(choice.micrometres));
    const QRectF textBounds = text.boundingRect();
    const double gap = 3 * metrics.unit + outline;
    double left = bar.left() + bar.width() / 2.0 - textBounds.width() / 2;
    // A label wider than a short bar stays in the client.
    left = std::max(std::min(left, right + outline - textBounds.width()),
                    client.left() + static_cast<double>(metrics.marginPixels));
    text.translate(left - textBounds.left(), bar.top() - gap - textBounds.bottom());
    painter.setRenderHint(QPainter::Antialiasing, true);
    DrawOutlinedText(painter, text, 1.5 * metrics.unit);
}

void DrawMeasurement(QPainter& painter, const QRect& client, const QRectF& frameTarget,
                     QSize frameSize, QPointF from, QPointF to, const QString& label) {
    if (!IsDrawable(client, frameTarget, frameSize)) {
        return;
    }
    const QPointF a = FrameToDevice(from, frameTarget, frameSize);
    const QPointF b = FrameToDevice(to, frameTarget, frameSize);
    if (!std::isfinite(a.x()) || !std::isfinite(a.y()) || !std::isfinite(b.x()) ||
        !std::isfinite(b.y())) {
        return;
    }
    const Metrics metrics = MetricsFor(client);
    const double lineWidth = std::max(2.0, 2.5 * metrics.unit);
    const double edgeWidth = lineWidth + 2 * metrics.outlinePixels;
    const double tickHalf = std::max(5.0, 8 * metrics.unit);
    const double length = std::hypot(b.x() - a.x(), b.y() - a.y());
    // Perpendicular to the line, pointing up (or right for an upright line); straight up for
    // a line too short to have a direction.
    QPointF normal(0, -1);
    if (length > 1e-9) {
        normal = QPointF(b.y() - a.y(), a.x() - b.x()) / length;
        if (normal.y() > 0 || (normal.y() == 0 && normal.x() < 0)) {
            normal = -normal;
        }
    }

    QPainterPath path;
    path.moveTo(a);
    path.lineTo(b);
    for (const QPointF end : {a, b}) {
        path.moveTo(end - tickHalf * normal);
        path.lineTo(end + tickHalf * normal);
    }

    const PainterStateGuard guard(painter);
    ClipTo(painter, client);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(Qt::NoBrush);
    // The black edge reaches past the ends, so the yellow ends exactly at the points.
    painter.strokePath(
        path, QPen(kOutlineColour, edgeWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.strokePath(path,
                       QPen(kLineColour, lineWidth, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));

    const QRectF area(client);
    const auto visible = ClipSegment(a, b, area);
    if (label.isEmpty() || !visible) {
        return;
    }
    const QFont font = FontFor(painter, metrics, 14);
    const double padding = 4 * metrics.unit;
    const QSizeF textSize = QFontMetricsF(font).size(Qt::TextSingleLine, label);
    const QSizeF boxSize(std::ceil(textSize.width() + 2 * padding),
                         std::ceil(textSize.height() + padding));
    const QPointF middle = (visible->first + visible->second) / 2;
    const double clearance = edgeWidth / 2 + 3 * metrics.unit;
    const QRectF margins = area.adjusted(2, 2, -2, -2);
    DrawLabel(painter, LabelBox(middle, normal, boxSize, clearance, margins), label, font, metrics);
}
