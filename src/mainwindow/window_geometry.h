#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>
#include <array>

// The main window's geometry: the client area, where its parts sit, and every button with its
// control id, kind, pictures and place. The window places its parts by this table and
// tools/skin_art draws the skin's pictures to fit it, so it stays on QtCore alone.

// Control ids of the main window.
namespace control {
inline constexpr int kDisplay = 1000;
inline constexpr int kFileList = 1002;
inline constexpr int kCamera = 1005;
inline constexpr int kAvi = 1006;
inline constexpr int kClock = 1007;
inline constexpr int kSave = 1008;
inline constexpr int kEMail = 1009;
inline constexpr int kFirst = 1010;
inline constexpr int kStepBack = 1011;
inline constexpr int kStepForward = 1012;
inline constexpr int kLast = 1013;
inline constexpr int kPreview = 1014;
inline constexpr int kMini = 1015;
inline constexpr int kSetting = 1016;
inline constexpr int kHelp = 1017;
inline constexpr int kFullScreen = 1018;
inline constexpr int kClose = 1019;
inline constexpr int kStop = 1020;
inline constexpr int kHand = 1021;
inline constexpr int kDecZoom = 1022;
inline constexpr int kIncZoom = 1023;
inline constexpr int kPlay = 1024;
inline constexpr int kOpen = 1025;
inline constexpr int kSlider = 1110;
}  // namespace control

// The client area and where its parts sit in it.
inline constexpr QRect kClientRect(0, 0, 842, 579);
inline constexpr QRect kDisplayRect(221, 0, 622, 487);
inline constexpr QRect kFileListRect(0, 105, 216, 380);
inline constexpr QPoint kTabsPosition(0, 29);
inline constexpr QPoint kSliderPosition(341, 487);
// Where the slider's thumb may go in the slider: it stops short of the left and right
// margins and sits below the top one.
inline constexpr QMargins kSliderMargins(2, 3, 4, 2);
// The category areas, right and bottom edges outside.
inline constexpr QRect kPicturesArea(QPoint(3, 30), QPoint(99, 89));
inline constexpr QRect kVideosArea(QPoint(115, 30), QPoint(213, 89));

enum class ButtonKind { kPush, kToggle };
// When a button is shown: outside full screen always; in Browse with one kind; never.
enum class ButtonShown { kOutsideFullScreen, kBrowseVideos, kBrowsePictures, kNever };

struct SkinButton {
    int id;
    ButtonKind kind;
    int normalFace;
    int secondFace;  // pressed face of a push button, on face of a toggle button
    QPoint position;
    ButtonShown shown;
};

inline constexpr std::array<SkinButton, 21> kSkinButtons = {{
    {control::kPreview, ButtonKind::kToggle, 155, 355, {13, 2}, ButtonShown::kOutsideFullScreen},
    {control::kCamera, ButtonKind::kPush, 150, 350, {50, 3}, ButtonShown::kOutsideFullScreen},
    {control::kAvi, ButtonKind::kToggle, 151, 351, {88, 2}, ButtonShown::kOutsideFullScreen},
    {control::kClock, ButtonKind::kPush, 152, 352, {125, 2}, ButtonShown::kOutsideFullScreen},
    {control::kEMail, ButtonKind::kPush, 154, 354, {160, 2}, ButtonShown::kOutsideFullScreen},
    {control::kSave, ButtonKind::kPush, 153, 353, {195, 2}, ButtonShown::kOutsideFullScreen},
    {control::kPlay, ButtonKind::kToggle, 165, 365, {518, 500}, ButtonShown::kBrowseVideos},
    {control::kStop, ButtonKind::kPush, 166, 366, {465, 505}, ButtonShown::kBrowseVideos},
    {control::kOpen, ButtonKind::kToggle, 167, 367, {576, 505}, ButtonShown::kBrowseVideos},
    {control::kFirst, ButtonKind::kPush, 161, 361, {412, 505}, ButtonShown::kBrowseVideos},
    {control::kLast, ButtonKind::kPush, 164, 364, {624, 505}, ButtonShown::kBrowseVideos},
    {control::kDecZoom, ButtonKind::kPush, 169, 369, {486, 487}, ButtonShown::kBrowsePictures},
    {control::kIncZoom, ButtonKind::kPush, 170, 370, {554, 487}, ButtonShown::kBrowsePictures},
    {control::kSetting, ButtonKind::kPush, 156, 356, {425, 0}, ButtonShown::kNever},
    {control::kHelp, ButtonKind::kPush, 157, 357, {746, 0}, ButtonShown::kNever},
    {control::kMini, ButtonKind::kPush, 158, 358, {814, 2}, ButtonShown::kNever},
    {control::kFullScreen, ButtonKind::kPush, 159, 359, {840, 2}, ButtonShown::kNever},
    {control::kClose, ButtonKind::kPush, 160, 360, {866, 2}, ButtonShown::kNever},
    {control::kStepBack, ButtonKind::kPush, 162, 362, {616, 422}, ButtonShown::kNever},
    {control::kStepForward, ButtonKind::kPush, 163, 363, {696, 422}, ButtonShown::kNever},
    {control::kHand, ButtonKind::kPush, 168, 368, {474, 398}, ButtonShown::kNever},
}};
