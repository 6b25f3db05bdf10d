#pragma once

#include <QColor>
#include <QPainter>
#include <QPointF>

// The line icons of the skin. Each is designed on a 16 x 16 grid with 2 px strokes centred on
// whole pixels, so at scale 1 the lines land crisply on the pixel grid.
namespace skinart {

enum class Glyph {
    Eye,
    Camera,
    VideoCamera,
    Stopwatch,
    Envelope,
    Download,
    Play,
    Stop,
    Pause,
    OpenFolder,
    SkipToStart,
    SkipToEnd,
    ZoomOut,
    ZoomIn,
    Gear,
    Question,
    Minimise,
    FullScreen,
    Close,
    StepBack,
    StepForward,
    Hand,
};

// Draws `glyph` with the grid's top-left corner at `origin`, scaled by `scale`; strokes stay
// 2 px wide whatever the scale.
void DrawGlyph(QPainter& painter, Glyph glyph, QPointF origin, QColor colour, qreal scale = 1.0);

// The category symbols of the tabs, on a 24 x 24 grid.
void DrawPictureSymbol(QPainter& painter, QPointF origin, QColor colour, qreal scale = 1.0);
void DrawFilmSymbol(QPainter& painter, QPointF origin, QColor colour, qreal scale = 1.0);

}  // namespace skinart
