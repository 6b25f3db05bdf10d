#pragma once

#include <QRect>
#include <QSize>

// Dialog units to pixels, for windows laid out in dialog units: a horizontal unit is a
// quarter and a vertical unit an eighth of the dialog font's base size, rounded to the
// nearest pixel. The base size is that of the 8-point dialog font at 96 dots per inch:
// 6 x 13 pixels.
inline constexpr int kDialogBaseUnitX = 6;
inline constexpr int kDialogBaseUnitY = 13;

constexpr int DialogUnitsToPixelsX(int units) {
    return (units * kDialogBaseUnitX + 2) / 4;
}

constexpr int DialogUnitsToPixelsY(int units) {
    return (units * kDialogBaseUnitY + 4) / 8;
}

constexpr QSize DialogUnitsToPixels(int width, int height) {
    return QSize(DialogUnitsToPixelsX(width), DialogUnitsToPixelsY(height));
}

// A control's place given in dialog units, in pixels.
constexpr QRect DialogRect(int x, int y, int width, int height) {
    return {DialogUnitsToPixelsX(x), DialogUnitsToPixelsY(y), DialogUnitsToPixelsX(width),
            DialogUnitsToPixelsY(height)};
}

static_assert(DialogUnitsToPixelsX(222) == 333 && DialogUnitsToPixelsY(19) == 31);
