#include "preview.h"

#include <QPainter>

#include "button_faces.h"
#include "microscope.h"
#include "paint_kit.h"
#include "palette.h"
#include "panels.h"
#include "skin_layout.h"

namespace skinart {
namespace {

constexpr QPoint kCounterAt{19, 515};  // somewhere in the free corner under the list
constexpr int kThumbX = 150;           // the thumb's place along the track, for the preview

// A stand-in for the live picture: a soft blob, so the video area is not just black.
void DrawFakeVideo(QPainter& painter) {
    QRadialGradient glow(kDisplayRect.center(), 260);
    glow.setColorAt(0.0, QColor(120, 132, 110));
    glow.setColorAt(1.0, QColor(40, 44, 38));
    painter.fillRect(kDisplayRect, glow);
}

void DrawSlider(QPainter& painter, const QImage& background) {
    const QImage channel = DrawTrack(background, TrackFill::Channel);
    const QImage active = DrawTrack(background, TrackFill::Active);
    painter.drawImage(kSliderPosition, channel);
    const int activeWidth = kThumbX + layout::kThumb.width() / 2;
    painter.drawImage(kSliderPosition, active, QRect(0, 0, activeWidth, active.height()));
    QImage thumb = DrawThumb(ThumbState::Resting).convertToFormat(QImage::Format_ARGB32);
    const QRgb key = thumb.pixel(0, 0);
    for (int y = 0; y < thumb.height(); ++y) {
        for (int x = 0; x < thumb.width(); ++x) {
            if (thumb.pixel(x, y) == key) {
                thumb.setPixel(x, y, qRgba(0, 0, 0, 0));
            }
        }
    }
    painter.drawImage(kSliderPosition + QPoint(kThumbX, kSliderMargins.top()), thumb);
}

bool IsShownWhilePlaying(const ButtonArt& art) {
    return art.place.shown == ButtonShown::kOutsideFullScreen ||
           art.place.shown == ButtonShown::kBrowseVideos;
}

}  // namespace

bool WriteWindowPreview(const QString& path) {
    const QImage background = DrawBackground();
    QImage window = background.copy();
    QPainter painter(&window);
    DrawFakeVideo(painter);
    painter.drawImage(kTabsPosition, DrawTabs(Category::Videos));
    painter.drawImage(kFileListRect.topLeft(), DrawPage(Category::Videos),
                      QRect(QPoint(0, 0), kFileListRect.size()));
    painter.drawImage(kCounterAt, DrawCounterPanel());
    DrawSlider(painter, background);
    for (const ButtonArt& art : Buttons()) {
        if (IsShownWhilePlaying(art)) {
            const bool on = art.place.id == control::kPlay;
            painter.drawImage(art.place.position,
                              DrawButtonFace(art, on ? Face::Second : Face::First, background));
        }
    }
    painter.end();
    return SavePng(window, path, PngDepth::Rgb24);
}

bool WriteFaceSheet(const QString& path) {
    constexpr int kZoom = 3;
    constexpr QSize kCell{3 * 54 * kZoom + 48, 54 * kZoom + 12};
    constexpr int kSideX = 2 * kCell.width();
    const QImage background = DrawBackground();
    QImage sheet = NewImage(QSize(kSideX + 300, kCell.height() * 11), palette::kBase);
    QPainter painter(&sheet);
    int index = 0;
    for (const ButtonArt& art : Buttons()) {
        const QPoint cell((index % 2) * kCell.width(), (index / 2) * kCell.height());
        const QImage first = DrawButtonFace(art, Face::First, background);
        const QImage second = DrawButtonFace(art, Face::Second, background);
        painter.drawImage(QRect(cell, art.size * kZoom), first);
        const int step = art.size.width() * kZoom + 8;
        painter.drawImage(QRect(cell + QPoint(step, 0), art.size * kZoom), second);
        if (art.place.disabledFace != 0) {
            painter.drawImage(QRect(cell + QPoint(2 * step, 0), art.size * kZoom),
                              DrawButtonFace(art, Face::Disabled, background));
        }
        ++index;
    }
    painter.drawImage(QPoint(kSideX + 20, 20), DrawWindowIcon(256));
    int iconX = kSideX + 20;
    for (const int size : {16, 32, 48, 64}) {
        painter.drawImage(QPoint(iconX, 300), DrawWindowIcon(size));
        iconX += size + 6;
    }
    painter.drawImage(QRect(kSideX + 20, 400, 128, 128), DrawWindowIcon(16));
    painter.drawImage(QRect(kSideX + 160, 400, 128, 128), DrawWindowIcon(32));
    painter.drawImage(QRect(kSideX + 20, 560, 164, 164), DrawAboutPicture());
    painter.drawImage(QPoint(kSideX + 200, 560), DrawAboutPicture());
    int menuX = kSideX + 20;
    for (const MenuPicture picture :
         {MenuPicture::Cross, MenuPicture::Scale, MenuPicture::Circles, MenuPicture::Clock}) {
        const QImage image = DrawMenuPicture(picture);
        painter.drawImage(QRect(QPoint(menuX, 760), image.size() * 4), image);
        painter.fillRect(QRect(menuX, 820, 20, 20), QColor(240, 240, 240));
        painter.drawImage(QPoint(menuX + 3, 823), image);
        painter.drawImage(QPoint(menuX + 33, 823), image);
        menuX += 64;
    }
    painter.drawImage(QRect(kSideX + 20, 880, 24 * 8, 6 * 8), DrawThumb(ThumbState::Resting));
    painter.drawImage(QRect(kSideX + 20, 940, 24 * 8, 6 * 8), DrawThumb(ThumbState::Dragged));
    painter.end();
    return SavePng(sheet, path, PngDepth::Rgb24);
}

}  // namespace skinart
