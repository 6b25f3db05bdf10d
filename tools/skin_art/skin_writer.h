#pragma once

#include <QString>

namespace skinart {

// Writes every picture and sound of the skin, the window icons and skin.qrc into
// `folder` (skin/<id>.png, sounds/<id>.wav, icons/128-<size>.png). Returns false, having
// said why on stderr, when a file cannot be written.
bool WriteSkin(const QString& folder);

}  // namespace skinart
