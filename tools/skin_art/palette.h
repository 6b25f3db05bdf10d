#pragma once

#include <QColor>

// One palette for every bitmap of the skin: charcoal and slate greys, one teal accent, and a
// soft red kept for the recording dot.
namespace skinart::palette {

inline const QColor kVideo{14, 16, 19};       // the video area, under the live picture
inline const QColor kBase{27, 30, 35};        // left column and the control strip
inline const QColor kToolbar{33, 37, 43};     // the top row of the left column
inline const QColor kList{21, 24, 28};        // the thumbnail list
inline const QColor kHairline{44, 49, 57};    // 1 px separators
inline const QColor kShadowLine{16, 18, 21};  // the dark side of a separator
inline const QColor kFace{43, 48, 56};        // a button face at rest
inline const QColor kFaceTop{49, 55, 64};     // its lighter top
inline const QColor kFaceBorder{58, 65, 75};
inline const QColor kPressed{22, 25, 29};  // a pressed face, sunk into the panel
inline const QColor kPressedBorder{38, 43, 50};
inline const QColor kIcon{200, 207, 216};         // line icons
inline const QColor kIconDim{112, 121, 133};      // inactive tab symbols, watermarks
inline const QColor kIconDisabled{96, 104, 115};  // the icon of a button that cannot be used
inline const QColor kAccent{58, 160, 178};        // the one accent: on-states, the played stretch
inline const QColor kAccentTop{70, 176, 193};
inline const QColor kAccentDeep{36, 118, 133};
inline const QColor kOnIcon{240, 246, 248};  // an icon on an accent face
inline const QColor kRecord{222, 88, 84};
inline const QColor kKey{255, 0, 255};  // the slider thumb's transparent colour

}  // namespace skinart::palette
