#pragma once

#include <QMenu>
#include <functional>
#include <memory>

#include "skin/skin_drawing.h"

class QMainWindow;

// Menu command ids.
namespace menucommand {
inline constexpr int kPopupOpen = 32776;
inline constexpr int kPopupSave = 32777;
inline constexpr int kPopupDelete = 32778;
inline constexpr int kCompress = 32780;
inline constexpr int kVideoColor = 32781;
inline constexpr int kVideoFormat = 32783;
inline constexpr int kManual = 32784;
inline constexpr int kUpdate = 32785;
inline constexpr int kAbout = 32786;
inline constexpr int kEMail = 32787;
inline constexpr int kPopupCross = 32788;
inline constexpr int kGrid = 32789;
inline constexpr int kCircles = 32790;
inline constexpr int kClock = 32791;
inline constexpr int kPopupDeleteAll = 32792;
inline constexpr int kOpen = 32793;
inline constexpr int kSaveAs = 32794;
inline constexpr int kDelete = 32795;
inline constexpr int kDeleteAll = 32796;
inline constexpr int kDevice = 32797;
inline constexpr int kCross = 32798;
inline constexpr int kTakePicture = 32802;
inline constexpr int kTakeVideo = 32803;
inline constexpr int kTimeLapse = 32805;
// Measuring.
inline constexpr int kCalibrate = 32806;
inline constexpr int kMeasure = 32807;
inline constexpr int kScaleBar = 32808;
inline constexpr int kBurnOverlays = 32809;
inline constexpr int kCalibrationMenu = 32810;  // the sub-menu that chooses the calibration
}  // namespace menucommand

// The menu bar (File, Setting, Capture, Help) and the four pop-ups: the file pop-up of the
// file list, the display pop-up with the overlay switches and their images, the settings
// pop-up (built and translated, never opened) and the help pop-up. Every text comes from the
// text table. Choosing an item calls `onCommand` with its id. UI thread.
struct MainMenus {
    std::unique_ptr<QMenu> filePopup;
    std::unique_ptr<QMenu> displayPopup;
    std::unique_ptr<QMenu> settingsPopup;
    std::unique_ptr<QMenu> helpPopup;
};

// Builds the menu bar of `window` and returns the pop-ups.
MainMenus BuildMainMenus(QMainWindow& window, const SkinImageLoader& loader,
                         const std::function<void(int commandId)>& onCommand);

// The item with command id `id` in `menu` or its sub-menus; null when there is none.
QAction* FindCommand(const QWidget& menu, int id);
