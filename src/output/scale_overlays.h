#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QString>

#include "output/calibration.h"

class QPainter;

// Painters for measuring over a picture: the scale bar and a measured line. Any thread, one
// painter at a time per QPainter; they leave the painter's state (pen, brush, font, clip,
// render hints) as they found it, and draw nothing outside `client`.
//
// `frameTarget` is where the whole frame of `frameSize` pixels lies on the painter's device:
// the live window stretches the frame over the client, a zoomed browsed picture lies partly
// outside the client, a still drawn at its own resolution has
// frameTarget == QRectF(QPointF(), frameSize). Frame pixel coordinates are continuous: (0, 0)
// is the frame's top left corner and (w, h) its bottom right one, so pixel (x, y) covers
// (x, y) to (x + 1, y + 1).
//
// Sizes (text, bar thickness, margins, outlines) follow the client's size, so that a
// 1280x1024 still and a 640x480 window look alike.

// Where the frame point `framePoint` lies on the device, and back.
QPointF FrameToDevice(QPointF framePoint, const QRectF& frameTarget, QSize frameSize);
QPointF DeviceToFrame(QPointF devicePoint, const QRectF& frameTarget, QSize frameSize);

// The bar's length in micrometres and in frame pixels, as DrawScaleBar draws it: the
// RoundScaleBarMicrometres of a fifth of the client's width. With client = frameTarget = 640
// pixels wide and 2 µm/px: 200 µm, 100 px. Both 0 when nothing would be drawn (invalid scale,
// empty client, frame or frame target).
struct ScaleBarChoice {
    double micrometres = 0;
    double framePixels = 0;
};
ScaleBarChoice ChooseScaleBar(const QRect& client, const QRectF& frameTarget, QSize frameSize,
                              const PictureScale& scale);

// The scale bar in the lower right corner of `client`, a margin of 3% of the client's
// smaller side away from its edges: a white bar with a black outline, ChooseScaleBar long,
// and its LengthText centred above it, white with a black outline, so that it reads on light
// and dark pictures. Its length along x is exact to the device pixel: the bar's white covers
// qRound(framePixels * device pixels per frame pixel) pixels of a row. Nothing when the scale
// is invalid.
void DrawScaleBar(QPainter& painter, const QRect& client, const QRectF& frameTarget,
                  QSize frameSize, const PictureScale& scale);

// A measured line from `from` to `to` (frame pixel coordinates): a yellow line with a black
// edge and a tick across each end, and `label` next to the middle of the part of the line
// inside the client, in white on a dark rounded box, set off to one side so that it does not
// cover the line (above it when there is room) and kept inside the client. No label when
// none of the line is inside the client or the label is empty.
void DrawMeasurement(QPainter& painter, const QRect& client, const QRectF& frameTarget,
                     QSize frameSize, QPointF from, QPointF to, const QString& label);
