#pragma once

#include <QImage>

#include "skin_layout.h"

namespace skinart {

// The first face is a button at rest (or a toggle that is off); the second is a push button
// held down, or a toggle that is on; the disabled face is the first one dimmed, for a button
// that cannot be used now.
enum class Face { First, Second, Disabled };

// One face of `art`, opaque, drawn over what lies under the button in `background`.
QImage DrawButtonFace(const ButtonArt& art, Face face, const QImage& background);

}  // namespace skinart
