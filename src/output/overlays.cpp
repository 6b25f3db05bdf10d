#include "output/overlays.h"

#include <QImage>
#include <QPainter>
#include <QPen>
#include <algorithm>

#include "output/painter_state_guard.h"

namespace {

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

void DrawCrossLineOverlay(QPainter& painter, const QRect& client, const OverlaySwitches& switches) {
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

void DrawOverlays(QPainter& painter, const QRect& client, const OverlaySwitches& switches,
                  const QDateTime& when) {
    DrawClockOverlay(painter, client, switches, when);
    DrawCrossLineOverlay(painter, client, switches);
    DrawGridOverlay(painter, client, switches);
    DrawCirclesOverlay(painter, client, switches);
}

void DrawOverlays(QPainter& painter, const QRect& client, const OverlaySwitches& switches) {
    const bool clock = switches.showClock.load(std::memory_order_relaxed) != 0;
    DrawOverlays(painter, client, switches, clock ? QDateTime::currentDateTime() : QDateTime());
}

namespace {

constexpr unsigned kCrossLineBit = 2u;
constexpr unsigned kGridBit = 4u;
constexpr unsigned kCirclesBit = 8u;

// The overlays of `on` over the whole of `image`, with the painters.
void DrawOverlaysOn(QImage& image, unsigned on, const QDateTime& when) {
    OverlaySwitches these;
    these.showClock = (on & kClockOverlayBit) != 0 ? 1 : 0;
    these.showCrossLine = (on & kCrossLineBit) != 0 ? 1 : 0;
    these.showGrid = (on & kGridBit) != 0 ? 1 : 0;
    these.showCircles = (on & kCirclesBit) != 0 ? 1 : 0;
    QPainter painter(&image);
    DrawOverlays(painter, QRect(QPoint(0, 0), image.size()), these, when);
}

}  // namespace

unsigned OverlaysOn(const OverlaySwitches& switches) {
    const auto bit = [](const std::atomic<int>& on, unsigned value) {
        return on.load(std::memory_order_relaxed) != 0 ? value : 0u;
    };
    return bit(switches.showClock, kClockOverlayBit) | bit(switches.showCrossLine, kCrossLineBit) |
           bit(switches.showGrid, kGridBit) | bit(switches.showCircles, kCirclesBit);
}

// The overlays are drawn over a black and over a white image of the same kind as the frames
// (so text is rendered as it would be on a frame): a pixel the same in both is covered, one
// that kept each background is not, and anything else is partly covered (a blended edge).
void OverlayStamp::Prepare(QSize size, unsigned on, const QDateTime& when) {
    size_ = size;
    on_ = on;
    clockText_ = (on & kClockOverlayBit) != 0 ? ClockOverlayText(when) : QString();
    prepared_ = true;
    exact_ = true;
    pixels_.clear();
    if (on == 0) {
        return;
    }
    QImage overBlack(size, QImage::Format_RGB32);
    QImage overWhite(size, QImage::Format_RGB32);
    if (overBlack.isNull() || overWhite.isNull()) {
        exact_ = false;
        return;
    }
    overBlack.fill(Qt::black);
    overWhite.fill(Qt::white);
    DrawOverlaysOn(overBlack, on, when);
    DrawOverlaysOn(overWhite, on, when);
    const int width = size.width();
    for (int y = 0; y < size.height(); ++y) {
        const auto* black = reinterpret_cast<const QRgb*>(overBlack.constScanLine(y));
        const auto* white = reinterpret_cast<const QRgb*>(overWhite.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            if (black[x] == white[x]) {
                pixels_.push_back({static_cast<std::uint32_t>(y * width + x), black[x]});
            } else if (qRgb(qRed(black[x]), qGreen(black[x]), qBlue(black[x])) != qRgb(0, 0, 0) ||
                       qRgb(qRed(white[x]), qGreen(white[x]), qBlue(white[x])) !=
                           qRgb(255, 255, 255)) {
                exact_ = false;
                pixels_.clear();
                return;
            }
        }
    }
}

void OverlayStamp::Apply(QImage& image, unsigned on, const QDateTime& when) {
    if (on == 0 || image.isNull() || image.format() != QImage::Format_RGB32) {
        return;
    }
    if (!prepared_ || on != on_ || image.size() != size_ ||
        ((on & kClockOverlayBit) != 0 && ClockOverlayText(when) != clockText_)) {
        Prepare(image.size(), on, when);
    }
    if (!exact_ || image.bytesPerLine() != 4 * static_cast<qsizetype>(image.width())) {
        DrawOverlaysOn(image, on, when);
        return;
    }
    auto* out = reinterpret_cast<QRgb*>(image.bits());
    for (const Pixel& pixel : pixels_) {
        out[pixel.index] = pixel.colour;
    }
}
