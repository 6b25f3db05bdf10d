#pragma once

#include <QImage>

// The large pictures of the skin: the window background, the left column with its tabs,
// the thumbnail pages, the counter panel, the slider track and thumb and the pop-up menu pictures.
namespace skinart {

enum class Category { Pictures, Videos };

QImage DrawBackground();             // 140
QImage DrawTabs(Category active);    // 147 (Pictures), 146 (Videos)
QImage DrawPage(Category category);  // 144 (Pictures), 148 (Videos)
QImage DrawCounterPanel();           // 149

enum class TrackFill { Channel, Active };  // the groove as it is, or lit up left of the thumb
enum class ThumbState { Resting, Dragged };
// The track is cut from `background` at the slider's place so it joins it without a seam.
QImage DrawTrack(const QImage& background, TrackFill fill);  // 172, 173
QImage DrawThumb(ThumbState state);                          // 174, 171

enum class MenuPicture { Cross, Scale, Circles, Clock };
QImage DrawMenuPicture(MenuPicture picture);  // 176, 177, 178, 179

}  // namespace skinart
