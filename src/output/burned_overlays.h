#pragma once

#include <QDateTime>
#include <QLineF>
#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "output/calibration.h"
#include "output/overlays.h"

// What a still carries when the overlays are burned into it: those shown over the live
// picture at the moment it was taken, drawn at the frame's own resolution.
struct StillOverlays {
    QDateTime when;  // the clock's time
    PictureScale scale;
    bool scaleBar = false;
    std::optional<QLineF> line;  // in the pixels of a frame of lineFrameSize
    QSize lineFrameSize;
    QString label;
};

// Draws the overlays that are on in `switches`, then the scale bar (when its scale is valid)
// and the measured line (when it was drawn on a frame of this size), into a still's rows:
// 24-bit blue-green-red, bottom-up, each padded to 4 bytes, `sizeBytes` in all. The overlays'
// geometry follows the frame as it follows the window on screen: a still of 1280 x 1024 has
// its circles and ticks where a window of that size would. False, and the rows untouched,
// when they do not hold the frame or nothing is to be drawn.
bool BurnOverlays(std::uint8_t* rows, std::size_t sizeBytes, int width, int height,
                  const OverlaySwitches& switches, const StillOverlays& overlays);
