#pragma once

#include <QString>

namespace skinart {

// Pictures for looking at the skin, never installed: the whole window put together as the
// program shows it while playing a video, and a sheet of every button face at three times
// their size. Both return false, having said why, when the file cannot be written.
bool WriteWindowPreview(const QString& path);
bool WriteFaceSheet(const QString& path);

}  // namespace skinart
