#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>
#include <cstdint>
#include <functional>

// Drawing facilities shared by the skinned controls: a flicker-free off-screen surface for one
// paint, masks that turn a key colour into transparency, and transparent drawing through
// such a mask. UI thread.

// A colour as the skin describes it: 0x00BBGGRR.
using ColorRef = std::uint32_t;
constexpr ColorRef RgbColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return ColorRef{red} | (ColorRef{green} << 8) | (ColorRef{blue} << 16);
}
// Passed as a key colour: take the key colour from a given pixel of the image.
inline constexpr ColorRef KEY_FROM_PIXEL = 0xFF000000u;

// Loads a skin image by its resource id (":/skin/<id>.png"); a null image when there is none.
QImage LoadSkinImage(int resourceId);
using SkinImageLoader = std::function<QImage(int resourceId)>;

// Makes `mask` a one-bit image of `image`'s size that is 1 (white) where `image` has the key
// colour and 0 (black) elsewhere, and paints the key-coloured pixels of `image` black, so
// that DrawTransparent leaves the surface showing through there. With KEY_FROM_PIXEL the key
// is the colour of pixel (keyX, keyY); a key pixel outside the image matches nothing. The
// image becomes Format_RGB32.
void BuildMask(QImage& image, QImage& mask, ColorRef keyColour, int keyX, int keyY);

// Draws the `width` x `height` part of `image` at (sourceX, sourceY) to (x, y) on `surface`,
// leaving the surface unchanged where `mask` is 1. `surface` must paint on a raster image
// (CMemoryDC's surface is one). The painter's state is restored.
void DrawTransparent(QPainter& surface, int x, int y, int width, int height, const QImage& image,
                     int sourceX, int sourceY, const QImage& mask);

// DrawTransparent when `transparent`, a plain copy otherwise.
enum class Transparency { kOpaque, kTransparent };
void DrawImagePart(QPainter& surface, int x, int y, int width, int height, const QImage& image,
                   int sourceX, int sourceY, const QImage& mask, Transparency transparency);

// Keeps the `area` of `surface` in `saved`, and puts it back at its place.
void SaveBackground(const QImage& surface, const QRect& area, QImage& saved);
void RestoreBackground(QPainter& surface, const QPoint& at, const QImage& saved);

// An off-screen surface over `rect` of a paint, copied to the target when it goes out of
// scope. It starts with `underlay` (what is on screen under the rectangle) when one is given,
// else filled with the target's background colour. Its painter uses the target's
// coordinates.
class CMemoryDC {
public:
    CMemoryDC(QPainter& target, const QRect& rect, const QImage* underlay);
    ~CMemoryDC();
    CMemoryDC(const CMemoryDC&) = delete;
    CMemoryDC& operator=(const CMemoryDC&) = delete;

    QPainter& painter() { return painter_; }
    // The surface itself, for saving backgrounds; its (0, 0) is the rectangle's top-left.
    const QImage& surface() const { return surface_; }

private:
    QPainter& target_;
    QRect rect_;
    QImage surface_;
    QPainter painter_;
};
