#include "output/overlays.h"

#include <QPainter>
#include <algorithm>
#include <QPen>

namespace {

// Restores everything a painter changes, whichever way it returns.
class PainterStateGuard {
public:
    explicit PainterStateGuard(QPainter& painter) : painter_(painter) { painter_.save(); }
    ~PainterStateGuard() { painter_.restore(); }
    PainterStateGuard(const PainterStateGuard&) = delete;
    PainterStateGuard& operator=(const PainterStateGuard&) = delete;

private:
    QPainter& painter_;
};

void SelectSolidPen(QPainter& painter, const QColor& colour) {
    QPen pen(colour);
    pen.setWidth(1);
    pen.setCosmetic(true);
    painter.setPen(pen);
    painter.setRenderHint(QPainter::Antialiasing, false);
}

int Sign(int value) {
    return (value > 0) - (value < 0);
}

// A horizontal or vertical line from `from` up to but not including `to`. QPainter paints
// both end points of an aliased one-pixel line with square caps, so the line stops one pixel
// short.
void DrawLineExcludingEnd(QPainter& painter, QPoint from, QPoint to) {
    if (from == to) {
        return;
    }
    const QPoint last(to.x() - Sign(to.x() - from.x()), to.y() - Sign(to.y() - from.y()));
    painter.drawLine(from, last);
}

// Half the length of the tick at step k from the centre.
int TickHalfLength(int step) {
    if (step > 0 && step % 10 == 0) {
        return 6;
    }
    return step % 10 == 5 ? 3 : 1;
}

struct ClientCentre {
    int width = 0;
    int height = 0;
    int cx = 0;  // from the client's left edge
    int cy = 0;  // from the client's top edge
};

ClientCentre CentreOf(const QRect& client) {
    const int width = client.width();
    const int height = client.height();
    return {width, height, width / 2, height / 2};
}

}  // namespace

QString ClockOverlayText(const QDateTime& when) {
    const QDate date = when.date();
    const QTime time = when.time();
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(date.year())
        .arg(date.month())
        .arg(date.day())
        .arg(time.hour())
        .arg(time.minute())
        .arg(time.second());
}

void DrawClockOverlay(QPainter& painter, const QRect& client, const OverlaySwitches& switches,
                      const QDateTime& when) {
    if (switches.showClock.load(std::memory_order_relaxed) == 0) {
        return;
    }
    const PainterStateGuard guard(painter);
    painter.setPen(Qt::black);
    painter.setBackground(Qt::white);
    painter.setBackgroundMode(Qt::OpaqueMode);
    const int bottom = client.top() + client.height();
    const QRect textArea(client.left(), bottom - 14, std::max(client.width(), 1), 256);
    painter.drawText(textArea, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     ClockOverlayText(when));
}

void DrawCrossLineOverlay(QPainter& painter, const QRect& client,
                          const OverlaySwitches& switches) {
    if (switches.showCrossLine.load(std::memory_order_relaxed) == 0) {
        return;
    }
    const PainterStateGuard guard(painter);
    SelectSolidPen(painter, Qt::white);
    const ClientCentre centre = CentreOf(client);
    const int left = client.left();
    const int top = client.top();
    DrawLineExcludingEnd(painter, QPoint(left, top + centre.cy),
                         QPoint(left + centre.width, top + centre.cy));
    DrawLineExcludingEnd(painter, QPoint(left + centre.cx, top),
                         QPoint(left + centre.cx, top + centre.height));
}

void DrawGridOverlay(QPainter& painter, const QRect& client, const OverlaySwitches& switches) {
    if (switches.showGrid.load(std::memory_order_relaxed) == 0) {
        return;
    }
    const PainterStateGuard guard(painter);
    SelectSolidPen(painter, Qt::black);
    const ClientCentre centre = CentreOf(client);
    const int x0 = client.left() + centre.cx;
    const int y0 = client.top() + centre.cy;
    if (centre.cy > 0) {
        const int steps = (centre.cy + 3) / 4;
        for (int k = 0; k < steps; ++k) {
            const int half = TickHalfLength(k);
            for (const int y : {y0 - 4 * k, y0 + 4 * k}) {
                DrawLineExcludingEnd(painter, QPoint(x0 - half, y), QPoint(x0 + half, y));
            }
        }
    }
    if (centre.cx > 0) {
        const int steps = (centre.cx + 3) / 4;
        for (int k = 0; k < steps; ++k) {
            const int half = TickHalfLength(k);
            for (const int x : {x0 - 4 * k, x0 + 4 * k}) {
                DrawLineExcludingEnd(painter, QPoint(x, y0 - half), QPoint(x, y0 + half));
            }
        }
    }
}

void DrawCirclesOverlay(QPainter& painter, const QRect& client, const OverlaySwitches& switches) {
    if (switches.showCircles.load(std::memory_order_relaxed) == 0) {
        return;
    }
    const PainterStateGuard guard(painter);
    SelectSolidPen(painter, Qt::white);
    painter.setBrush(Qt::NoBrush);
    const ClientCentre centre = CentreOf(client);
    const int x0 = client.left() + centre.cx;
    const int y0 = client.top() + centre.cy;
    for (int i = 1; i <= 5; ++i) {
        const int radius = i * centre.cy / 5;
        if (radius <= 0) {
            continue;
        }
        // An aliased QRect ellipse covers width + 1 pixels; the box (x0 - r, y0 - r) to
        // (x0 + r, y0 + r) without its right and bottom edges covers 2r.
        painter.drawEllipse(QRect(x0 - radius, y0 - radius, 2 * radius - 1, 2 * radius - 1));
    }
}

void DrawOverlays(QPainter& painter, const QRect& client, const OverlaySwitches& switches) {
    if (switches.showClock.load(std::memory_order_relaxed) != 0) {
        DrawClockOverlay(painter, client, switches, QDateTime::currentDateTime());
    }
    DrawCrossLineOverlay(painter, client, switches);
    DrawGridOverlay(painter, client, switches);
    DrawCirclesOverlay(painter, client, switches);
}
