#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <span>

#include "glyphs.h"

// Where the skin's pictures sit in the 842 x 579 window, and what each button shows.
namespace skinart {

namespace layout {
inline constexpr QSize kWindow{842, 579};
inline constexpr QRect kVideo{221, 0, 622, 487};
inline constexpr int kColumnWidth = 221;  // x 0..220; the video area starts at 221
inline constexpr int kToolbarHeight = 29;
inline constexpr QPoint kTabsAt{0, 29};
inline constexpr QSize kTabs{223, 459};
inline constexpr QRect kPicturesTab{3, 30, 98, 61};  // window coordinates, inclusive corners
inline constexpr QRect kVideosTab{115, 30, 100, 61};
inline constexpr QPoint kPageAt{0, 105};
inline constexpr QSize kPage{223, 380};
inline constexpr QSize kCounter{183, 49};
inline constexpr QSize kAbout{82, 82};
inline constexpr QPoint kSliderAt{341, 487};
inline constexpr QSize kTrack{426, 14};
inline constexpr QSize kThumb{24, 6};
inline constexpr int kThumbTop = 3;  // below the track's top
inline constexpr int kTrackMarginLeft = 2;
inline constexpr int kTrackMarginRight = 4;
inline constexpr QSize kMenuItem{13, 13};
inline constexpr QSize kWideMenuItem{14, 13};
}  // namespace layout

enum class ButtonKind { Push, Toggle };
enum class FaceShape { RoundedSquare, Circle, Pill };
// What lies under a button: the window background at its place, or (for the buttons the
// window never shows) a plain panel.
enum class Backdrop { Window, Plain };

struct ButtonArt {
    int firstId = 0;   // up, or off for a toggle
    int secondId = 0;  // pressed, or on for a toggle
    ButtonKind kind = ButtonKind::Push;
    QPoint position;
    QSize size;
    FaceShape shape = FaceShape::RoundedSquare;
    Glyph glyph = Glyph::Close;
    qreal glyphScale = 1.0;
    Backdrop backdrop = Backdrop::Window;
};

std::span<const ButtonArt> Buttons();

}  // namespace skinart
