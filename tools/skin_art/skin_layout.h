#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <span>

#include "glyphs.h"
#include "mainwindow/window_geometry.h"

// What the skin's pictures need beyond the window's geometry (mainwindow/window_geometry.h,
// which says where everything sits in the 842 x 579 window): the sizes of the pictures and how
// each button is drawn.
namespace skinart {

namespace layout {
inline constexpr int kColumnWidth = kDisplayRect.left();  // x 0..220, left of the video area
inline constexpr int kToolbarHeight = kTabsPosition.y();  // the tabs start under the toolbar
inline constexpr QSize kTabs{223, 459};
// The tab cards: the category areas with the column and row on their far edges.
inline constexpr QRect kPicturesTab = kPicturesArea.adjusted(0, 0, 1, 1);
inline constexpr QRect kVideosTab = kVideosArea.adjusted(0, 0, 1, 1);
// A thumbnail page: as wide as the tabs picture, as high as the file list.
inline constexpr QSize kPage{kTabs.width(), kFileListRect.height()};
inline constexpr QSize kCounter{183, 49};
inline constexpr QSize kAbout{82, 82};
inline constexpr QSize kTrack{426, 14};
inline constexpr QSize kThumb{24, 6};
inline constexpr QSize kMenuItem{13, 13};
inline constexpr QSize kWideMenuItem{14, 13};
}  // namespace layout

enum class FaceShape { RoundedSquare, Circle, Pill };

// A button's pictures: its id, kind, picture ids and place come from the window's table
// (kSkinButtons), its size and face from the tool's own.
struct ButtonArt {
    SkinButton place;
    QSize size;
    FaceShape shape = FaceShape::RoundedSquare;
    Glyph glyph = Glyph::Close;
    qreal glyphScale = 1.0;
};

// Every button of the window's table, in its order.
std::span<const ButtonArt> Buttons();

}  // namespace skinart
