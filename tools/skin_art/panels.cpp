#include "panels.h"

#include <QPainter>
#include <QPolygonF>

#include "glyphs.h"
#include "paint_kit.h"
#include "palette.h"
#include "skin_layout.h"

namespace skinart {
namespace {

namespace pal = palette;

constexpr int kDividerX = layout::kColumnWidth - 1;  // x 220, the column's right edge
constexpr int kListWidth = kFileListRect.width();
constexpr qreal kTabSymbolScale = 1.25;  // 30 px symbols on the tabs

void DrawColumnEdge(QPainter& painter, int top, int height) {
    painter.fillRect(QRect(kDividerX, top, 1, height), pal::kShadowLine);
    painter.fillRect(QRect(kDividerX + 1, top, 2, height), pal::kVideo);
}

void DrawToolbarRow(QPainter& painter) {
    const QRect row(0, 0, layout::kColumnWidth - 1, layout::kToolbarHeight);
    FillRoundedGradient(painter, row, 0, pal::kToolbar, Mix(pal::kToolbar, pal::kBase, 0.6));
    painter.fillRect(QRect(0, layout::kToolbarHeight - 1, row.width(), 1), pal::kShadowLine);
}

void DrawControlStrip(QPainter& painter) {
    const QRect strip(kDisplayRect.left(), kDisplayRect.bottom() + 1,
                      kClientRect.width() - kDisplayRect.left(),
                      kClientRect.height() - kDisplayRect.bottom() - 1);
    FillRoundedGradient(painter, strip, 0, pal::kBase, Mix(pal::kBase, pal::kShadowLine, 0.5));
    painter.fillRect(QRect(strip.left(), strip.top(), strip.width(), 1), pal::kShadowLine);
}

// The tab row, the gap under it and the list, in the coordinates of the tabs picture.
void DrawTab(QPainter& painter, const QRect& tabInWindow, Category category, bool active) {
    const QRectF card = tabInWindow.translated(-kTabsPosition);
    if (active) {
        FillRoundedGradient(painter, card, 7, pal::kFaceTop, pal::kFace);
        StrokeRoundedInside(painter, card, 7, pal::kFaceBorder);
        const QRectF bar(card.left() + 22, card.bottom() - 4, card.width() - 44, 3);
        FillRoundedGradient(painter, bar, 1.5, pal::kAccentTop, pal::kAccent);
    }
    const qreal symbolSize = 24 * kTabSymbolScale;
    const QPointF origin(card.center().x() - symbolSize / 2 + 0.5,
                         card.center().y() - symbolSize / 2 - 1.5);
    const QColor colour = active ? pal::kAccentTop : pal::kIconDim;
    if (category == Category::Pictures) {
        DrawPictureSymbol(painter, origin, colour, kTabSymbolScale);
    } else {
        DrawFilmSymbol(painter, origin, colour, kTabSymbolScale);
    }
}

int ListTopInTabs() {
    return kFileListRect.top() - kTabsPosition.y();
}

void DrawListWell(QPainter& painter, int top, int height) {
    painter.fillRect(QRect(0, top, kListWidth, height), pal::kList);
    painter.fillRect(QRect(0, top, kListWidth, 1), pal::kShadowLine);
}

void DrawThumbBody(QImage& image, QColor outline, QColor body, QColor highlight, QColor grip) {
    const int w = image.width();
    const int h = image.height();
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const bool corner = (x == 0 || x == w - 1) && (y == 0 || y == h - 1);
            const bool edge = x == 0 || y == 0 || x == w - 1 || y == h - 1;
            const bool gripLine =
                (x == w / 2 - 3 || x == w / 2 || x == w / 2 + 3) && y >= 2 && y <= h - 3;
            QColor colour = y == 1 ? highlight : body;
            if (gripLine) {
                colour = grip;
            }
            if (edge) {
                colour = outline;
            }
            if (!corner) {
                image.setPixelColor(x, y, colour);
            }
        }
    }
}

void DrawCrossPicture(QPainter& p) {
    p.drawLine(QPointF(6.5, 0.5), QPointF(6.5, 4.5));
    p.drawLine(QPointF(6.5, 8.5), QPointF(6.5, 12.5));
    p.drawLine(QPointF(0.5, 6.5), QPointF(4.5, 6.5));
    p.drawLine(QPointF(8.5, 6.5), QPointF(12.5, 6.5));
    p.drawEllipse(QPointF(6.5, 6.5), 3.5, 3.5);
}

void DrawScalePicture(QPainter& p) {
    p.drawLine(QPointF(0.5, 10.5), QPointF(12.5, 10.5));
    for (int i = 0; i <= 4; ++i) {
        const qreal x = 0.5 + i * 3;
        p.drawLine(QPointF(x, i % 2 == 0 ? 3.5 : 6.5), QPointF(x, 10.5));
    }
}

void DrawCirclesPicture(QPainter& p) {
    p.drawEllipse(QPointF(7, 6.5), 6, 6);
    p.drawEllipse(QPointF(7, 6.5), 2.5, 2.5);
}

void DrawClockPicture(QPainter& p) {
    p.drawEllipse(QPointF(6.5, 6.5), 6, 6);
    p.drawPolyline(QPolygonF({{6.5, 3}, {6.5, 6.5}, {9.5, 8.5}}));
}

}  // namespace

QImage DrawBackground() {
    QImage image = NewImage(kClientRect.size(), pal::kBase);
    QPainter painter;
    BeginPainting(painter, image);
    DrawToolbarRow(painter);
    painter.fillRect(kDisplayRect, pal::kVideo);
    DrawControlStrip(painter);
    DrawColumnEdge(painter, 0, kDisplayRect.bottom() + 1);
    return image;
}

QImage DrawTabs(Category active) {
    QImage image = NewImage(layout::kTabs, pal::kBase);
    QPainter painter;
    BeginPainting(painter, image);
    DrawTab(painter, layout::kPicturesTab, Category::Pictures, active == Category::Pictures);
    DrawTab(painter, layout::kVideosTab, Category::Videos, active == Category::Videos);
    const int listTop = ListTopInTabs();
    painter.fillRect(QRect(8, listTop - 8, kListWidth - 16, 1), pal::kHairline);
    DrawListWell(painter, listTop, layout::kPage.height());
    DrawColumnEdge(painter, 0, image.height());
    return image;
}

QImage DrawPage(Category category) {
    QImage image = NewImage(layout::kPage, pal::kList);
    QPainter painter;
    BeginPainting(painter, image);
    DrawListWell(painter, 0, image.height());
    painter.fillRect(QRect(kListWidth, 0, kDividerX - kListWidth, image.height()), pal::kBase);
    DrawColumnEdge(painter, 0, image.height());
    // A faint symbol of the page's category, seen while the page is empty.
    const QColor watermark = Mix(pal::kList, pal::kIconDim, 0.16);
    constexpr qreal kScale = 3.0;
    const QPointF origin(kListWidth / 2.0 - 12 * kScale, image.height() / 2.0 - 12 * kScale);
    if (category == Category::Pictures) {
        DrawPictureSymbol(painter, origin, watermark, kScale);
    } else {
        DrawFilmSymbol(painter, origin, watermark, kScale);
    }
    return image;
}

QImage DrawCounterPanel() {
    QImage image = NewImage(layout::kCounter, pal::kBase);
    QPainter painter;
    BeginPainting(painter, image);
    const QRectF panel(0, 0, image.width(), image.height());
    FillRoundedGradient(painter, panel, 8, pal::kShadowLine, pal::kList);
    StrokeRoundedInside(painter, panel, 8, pal::kHairline);
    const QPointF dot(19, image.height() / 2.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Mix(pal::kList, pal::kRecord, 0.22));
    painter.drawEllipse(dot, 8, 8);
    painter.setBrush(pal::kRecord);
    painter.drawEllipse(dot, 5, 5);
    painter.fillRect(QRectF(35, 12, 1, image.height() - 24), pal::kHairline);
    return image;
}

QImage DrawTrack(const QImage& background, TrackFill fill) {
    QImage image = CropOrFill(background, QRect(kSliderPosition, layout::kTrack), pal::kBase);
    QPainter painter;
    BeginPainting(painter, image);
    const int grooveLeft = kSliderMargins.left();
    const int grooveWidth = image.width() - kSliderMargins.left() - kSliderMargins.right();
    const QRectF groove(grooveLeft, kSliderMargins.top() + 1, grooveWidth, 4);
    if (fill == TrackFill::Active) {
        FillRoundedGradient(painter, groove, 2, pal::kAccentTop, pal::kAccent);
    } else {
        FillRoundedGradient(painter, groove, 2, pal::kShadowLine, pal::kList);
        StrokeRoundedInside(painter, groove, 2, pal::kHairline);
    }
    return image;
}

QImage DrawThumb(ThumbState state) {
    // Drawn pixel by pixel: the program makes the key colour transparent, so no edge may blend
    // into it.
    QImage image = NewImage(layout::kThumb, pal::kKey);
    if (state == ThumbState::Dragged) {
        DrawThumbBody(image, pal::kAccentDeep, pal::kAccentTop,
                      Mix(pal::kAccentTop, Qt::white, 0.3), pal::kAccentDeep);
    } else {
        DrawThumbBody(image, QColor(92, 101, 113), QColor(206, 213, 221), QColor(228, 233, 238),
                      QColor(140, 149, 160));
    }
    return image;
}

QImage DrawMenuPicture(MenuPicture picture) {
    const QSize size = picture == MenuPicture::Circles ? layout::kWideMenuItem : layout::kMenuItem;
    QImage image = NewTransparentImage(size);
    QPainter painter;
    BeginPainting(painter, image);
    painter.setPen(LinePen(pal::kAccent, 1.0));
    switch (picture) {
        case MenuPicture::Cross:
            DrawCrossPicture(painter);
            break;
        case MenuPicture::Scale:
            DrawScalePicture(painter);
            break;
        case MenuPicture::Circles:
            DrawCirclesPicture(painter);
            break;
        case MenuPicture::Clock:
            DrawClockPicture(painter);
            break;
    }
    return image;
}

}  // namespace skinart
