#include "skin_layout.h"

#include <array>

namespace skinart {
namespace {

using enum ButtonKind;
using enum FaceShape;
using enum Backdrop;

constexpr QSize kToolbarButton{24, 24};
constexpr QSize kTransportButton{44, 44};
constexpr QSize kPlayButton{54, 54};
constexpr QSize kZoomButton{52, 22};
constexpr QSize kSmallButton{24, 24};

const std::array kButtons{
    // The top row of the left column.
    ButtonArt{155, 355, Toggle, {13, 2}, kToolbarButton, RoundedSquare, Glyph::Eye},
    ButtonArt{150, 350, Push, {50, 3}, kToolbarButton, RoundedSquare, Glyph::Camera},
    ButtonArt{151, 351, Toggle, {88, 2}, kToolbarButton, RoundedSquare, Glyph::VideoCamera},
    ButtonArt{152, 352, Push, {125, 2}, kToolbarButton, RoundedSquare, Glyph::Stopwatch},
    ButtonArt{154, 354, Push, {160, 2}, kToolbarButton, RoundedSquare, Glyph::Envelope},
    ButtonArt{153, 353, Push, {195, 2}, kToolbarButton, RoundedSquare, Glyph::Download},
    // Playback, under the slider.
    ButtonArt{161, 361, Push, {412, 505}, kTransportButton, Circle, Glyph::SkipToStart},
    ButtonArt{166, 366, Push, {465, 505}, kTransportButton, Circle, Glyph::Stop},
    ButtonArt{165, 365, Toggle, {518, 500}, kPlayButton, Circle, Glyph::Play, 1.25},
    // "Open" holds a playing video while it is on: it shows as a pause.
    ButtonArt{167, 367, Toggle, {576, 505}, kTransportButton, Circle, Glyph::OpenFolder},
    ButtonArt{164, 364, Push, {624, 505}, kTransportButton, Circle, Glyph::SkipToEnd},
    // Zoom, in the slider's place while the slider is hidden.
    ButtonArt{169, 369, Push, {486, 487}, kZoomButton, Pill, Glyph::ZoomOut},
    ButtonArt{170, 370, Push, {554, 487}, kZoomButton, Pill, Glyph::ZoomIn},
    // Buttons the window keeps but never shows.
    ButtonArt{156, 356, Push, {425, 0}, kSmallButton, RoundedSquare, Glyph::Gear, 1.0, Plain},
    ButtonArt{157, 357, Push, {746, 0}, kSmallButton, RoundedSquare, Glyph::Question, 1.0, Plain},
    ButtonArt{158, 358, Push, {814, 2}, kSmallButton, RoundedSquare, Glyph::Minimise, 1.0, Plain},
    ButtonArt{159, 359, Push, {840, 2}, kSmallButton, RoundedSquare, Glyph::FullScreen, 1.0, Plain},
    ButtonArt{160, 360, Push, {866, 2}, kSmallButton, RoundedSquare, Glyph::Close, 1.0, Plain},
    ButtonArt{162, 362, Push, {616, 422}, kSmallButton, RoundedSquare, Glyph::StepBack, 1.0, Plain},
    ButtonArt{
        163, 363, Push, {696, 422}, kSmallButton, RoundedSquare, Glyph::StepForward, 1.0, Plain},
    ButtonArt{168, 368, Push, {474, 398}, kSmallButton, RoundedSquare, Glyph::Hand, 1.0, Plain},
};

}  // namespace

std::span<const ButtonArt> Buttons() {
    return kButtons;
}

}  // namespace skinart
