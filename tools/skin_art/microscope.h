#pragma once

#include <QImage>

// The program's own symbol: a stylised microscope on a slate tile.
namespace skinart {

// The window icon at `sizePx` x `sizePx`, transparent around the tile.
QImage DrawWindowIcon(int sizePx);

// The About-box picture (139), 82 x 82, opaque.
QImage DrawAboutPicture();

}  // namespace skinart
