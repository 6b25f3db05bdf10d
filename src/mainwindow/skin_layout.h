#pragma once

#include <array>

#include "app/text_table.h"
#include "browser/media_item.h"
#include "mainwindow/window_geometry.h"

// Skin image ids.
namespace skinimage {
inline constexpr int kBackground = 140;
inline constexpr int kPictureListBackground = 144;
inline constexpr int kVideosTabActive = 146;
inline constexpr int kPicturesTabActive = 147;
inline constexpr int kVideoListBackground = 148;
inline constexpr int kCounterPanel = 149;
inline constexpr int kChannel = 172;
inline constexpr int kActiveChannel = 173;
inline constexpr int kThumb = 174;
inline constexpr int kActiveThumb = 171;
inline constexpr int kMenuCross = 176;
inline constexpr int kMenuGrid = 177;
inline constexpr int kMenuCircles = 178;
inline constexpr int kMenuClock = 179;
}  // namespace skinimage

// The tooltip table, in its order.
struct SkinTooltip {
    int id;
    TextId text;
};
inline constexpr std::array<SkinTooltip, 17> kSkinTooltips = {{
    {control::kPreview, TextId::TipPreview},
    {control::kCamera, TextId::TipCamera},
    {control::kAvi, TextId::TipVideo},
    {control::kClock, TextId::TipTimer},
    {control::kSetting, TextId::TipSetting},
    {control::kSave, TextId::TipSave},
    {control::kEMail, TextId::TipEMail},
    {control::kHelp, TextId::TipHelp},
    {control::kDecZoom, TextId::TipDecZoom},
    {control::kIncZoom, TextId::TipIncZoom},
    {control::kPlay, TextId::TipPlay},
    {control::kStop, TextId::TipStop},
    {control::kOpen, TextId::TipPause},
    {control::kFirst, TextId::TipFirst},
    {control::kStepBack, TextId::TipReward},
    {control::kStepForward, TextId::TipForward},
    {control::kLast, TextId::TipLast},
}};
