#pragma once

#include <QDateTime>
#include <QRect>
#include <QSize>
#include <QString>
#include <atomic>
#include <cstdint>
#include <vector>

class QImage;

class QPainter;

// The four measuring aids drawn over the live picture. Each switch is 0 or 1; the UI thread
// flips them, and the painters read them on whichever thread draws (the streaming thread
// composing a frame, or the UI thread painting the window).
struct OverlaySwitches {
    std::atomic<int> showClock{0};
    std::atomic<int> showCrossLine{0};
    std::atomic<int> showGrid{0};
    std::atomic<int> showCircles{0};
};

// Every painter takes the client rectangle of the window it draws for; all geometry follows
// its size (W = width, H = height, centre cx = W / 2, cy = H / 2), never the picture's. The
// painters leave the painter's pen, brush, font and background as they found them. Lines end
// one pixel before their end point, and the circles' bounding boxes leave out their right and
// bottom edges, so a line or box of length n covers exactly n pixels. Any thread, one painter
// at a time per QPainter.

// "%d-%d-%d %d:%d:%d" of year, month, day, hour, minute and second, without leading zeros.
QString ClockOverlayText(const QDateTime& when);

// The date and time at (0, H - 14) in the painter's font, black on an opaque white
// background. `when` is the local time to show.
void DrawClockOverlay(QPainter& painter, const QRect& client, const OverlaySwitches& switches,
                      const QDateTime& when);
// A white horizontal line through cy and a white vertical line through cx, edge to edge.
void DrawCrossLineOverlay(QPainter& painter, const QRect& client, const OverlaySwitches& switches);
// Black tick marks every 4 pixels outwards from the centre along both centre lines; a middle
// tick every 20 pixels and a long tick every 40. No axis line.
void DrawGridOverlay(QPainter& painter, const QRect& client, const OverlaySwitches& switches);
// Five white concentric circles of radius i * cy / 5 (i = 1..5), hollow.
void DrawCirclesOverlay(QPainter& painter, const QRect& client, const OverlaySwitches& switches);

// All four in their drawing order: clock, cross line, grid, circles. The clock shows `when`,
// or the current local time.
void DrawOverlays(QPainter& painter, const QRect& client, const OverlaySwitches& switches,
                  const QDateTime& when);
void DrawOverlays(QPainter& painter, const QRect& client, const OverlaySwitches& switches);

// Which overlays are on, read once: a bit each, equal for equal settings; 0 for none.
unsigned OverlaysOn(const OverlaySwitches& switches);
constexpr unsigned kClockOverlayBit = 1u;

// The overlays for one image size, setting of the switches and clock text, drawn once and
// kept as the pixels they cover. Putting them over a frame then sets those pixels, which
// gives the same image as the painters at a small part of their cost. Drawn again when the
// size, the switches or the clock's text change. One thread at a time.
class OverlayStamp {
public:
    // Puts the overlays that are on in `on` (OverlaysOn's bits) over `image` (Format_RGB32),
    // as DrawOverlays draws them for a client rectangle of the image's size; the clock shows
    // `when`.
    void Apply(QImage& image, unsigned on, const QDateTime& when);

private:
    void Prepare(QSize size, unsigned on, const QDateTime& when);

    struct Pixel {
        std::uint32_t index;  // y * width + x
        std::uint32_t colour;
    };
    std::vector<Pixel> pixels_;
    QSize size_;
    unsigned on_ = 0;
    QString clockText_;
    bool prepared_ = false;
    bool exact_ = true;  // every pixel is covered wholly or not at all; else the painters draw
};
