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
// The recording counter's panel, shown while a recording runs outside full screen.
inline constexpr QRect kCounterPanelRect(658, 485, 183, 49);
inline constexpr QRect kFileListRect(0, 105, 216, 380);
// The status line under the picture: one row at its bottom, below the zoom and playback
// buttons, and room for a second row above it.
inline constexpr QRect kStatusLineRect(229, 536, 606, 40);
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
    // The dimmed face of a button the window disables at times (the capture buttons without
    // a device, the transport buttons while no video plays, zoom with no picture); 0 for a
    // button that is never disabled.
    int disabledFace = 0;
};

// clang-format off
inline constexpr std::array<SkinButton, 21> kSkinButtons = [] {
    using enum ButtonKind;
    using enum ButtonShown;
    //   id                     kind     faces     position     shown               disabled
    return std::array<SkinButton, 21>{{
        {control::kPreview,     kToggle, 155, 355, {13, 2},     kOutsideFullScreen, 555},
        {control::kCamera,      kPush,   150, 350, {50, 3},     kOutsideFullScreen, 550},
        {control::kAvi,         kToggle, 151, 351, {88, 2},     kOutsideFullScreen, 551},
        {control::kClock,       kPush,   152, 352, {125, 2},    kOutsideFullScreen, 552},
        {control::kEMail,       kPush,   154, 354, {160, 2},    kOutsideFullScreen, 554},
        {control::kSave,        kPush,   153, 353, {195, 2},    kOutsideFullScreen, 553},
        {control::kPlay,        kToggle, 165, 365, {518, 500},  kBrowseVideos,      0},
        {control::kStop,        kPush,   166, 366, {465, 505},  kBrowseVideos,      566},
        {control::kOpen,        kToggle, 167, 367, {576, 505},  kBrowseVideos,      0},
        {control::kFirst,       kPush,   161, 361, {412, 505},  kBrowseVideos,      561},
        {control::kLast,        kPush,   164, 364, {624, 505},  kBrowseVideos,      564},
        {control::kDecZoom,     kPush,   169, 369, {486, 487},  kBrowsePictures,    569},
        {control::kIncZoom,     kPush,   170, 370, {554, 487},  kBrowsePictures,    570},
        {control::kSetting,     kPush,   156, 356, {425, 0},    kNever,             556},
        {control::kHelp,        kPush,   157, 357, {746, 0},    kNever,             0},
        {control::kMini,        kPush,   158, 358, {814, 2},    kNever,             0},
        {control::kFullScreen,  kPush,   159, 359, {840, 2},    kNever,             0},
        {control::kClose,       kPush,   160, 360, {866, 2},    kNever,             0},
        {control::kStepBack,    kPush,   162, 362, {616, 422},  kNever,             562},
        {control::kStepForward, kPush,   163, 363, {696, 422},  kNever,             563},
        {control::kHand,        kPush,   168, 368, {474, 398},  kNever,             0},
    }};
}();
// clang-format on
