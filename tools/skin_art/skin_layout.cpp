#include "skin_layout.h"

#include <array>
#include <stdexcept>

namespace skinart {
namespace {

using enum FaceShape;

constexpr QSize kToolbarButton{24, 24};
constexpr QSize kTransportButton{44, 44};
constexpr QSize kPlayButton{54, 54};
constexpr QSize kZoomButton{52, 22};
constexpr QSize kSmallButton{24, 24};

// How each button of the window is drawn.
struct ButtonFace {
    int id = 0;
    QSize size;
    FaceShape shape = RoundedSquare;
    Glyph glyph = Glyph::Close;
    qreal glyphScale = 1.0;
};

constexpr std::array kFaces{
    // The top row of the left column.
    ButtonFace{control::kPreview, kToolbarButton, RoundedSquare, Glyph::Eye},
    ButtonFace{control::kCamera, kToolbarButton, RoundedSquare, Glyph::Camera},
    ButtonFace{control::kAvi, kToolbarButton, RoundedSquare, Glyph::VideoCamera},
    ButtonFace{control::kClock, kToolbarButton, RoundedSquare, Glyph::Stopwatch},
    ButtonFace{control::kEMail, kToolbarButton, RoundedSquare, Glyph::Envelope},
    ButtonFace{control::kSave, kToolbarButton, RoundedSquare, Glyph::Download},
    // Playback, under the slider.
    ButtonFace{control::kFirst, kTransportButton, Circle, Glyph::SkipToStart},
    ButtonFace{control::kStop, kTransportButton, Circle, Glyph::Stop},
    ButtonFace{control::kPlay, kPlayButton, Circle, Glyph::Play, 1.25},
    // "Open" holds a playing video while it is on: it shows as a pause.
    ButtonFace{control::kOpen, kTransportButton, Circle, Glyph::OpenFolder},
    ButtonFace{control::kLast, kTransportButton, Circle, Glyph::SkipToEnd},
    // Zoom, in the slider's place while the slider is hidden.
    ButtonFace{control::kDecZoom, kZoomButton, Pill, Glyph::ZoomOut},
    ButtonFace{control::kIncZoom, kZoomButton, Pill, Glyph::ZoomIn},
    // Buttons the window keeps but never shows.
    ButtonFace{control::kSetting, kSmallButton, RoundedSquare, Glyph::Gear},
    ButtonFace{control::kHelp, kSmallButton, RoundedSquare, Glyph::Question},
    ButtonFace{control::kMini, kSmallButton, RoundedSquare, Glyph::Minimise},
    ButtonFace{control::kFullScreen, kSmallButton, RoundedSquare, Glyph::FullScreen},
    ButtonFace{control::kClose, kSmallButton, RoundedSquare, Glyph::Close},
    ButtonFace{control::kStepBack, kSmallButton, RoundedSquare, Glyph::StepBack},
    ButtonFace{control::kStepForward, kSmallButton, RoundedSquare, Glyph::StepForward},
    ButtonFace{control::kHand, kSmallButton, RoundedSquare, Glyph::Hand},
};

// A button of the window without a face here stops the build.
constexpr ButtonFace FaceOf(int id) {
    for (const ButtonFace& face : kFaces) {
        if (face.id == id) {
            return face;
        }
    }
    throw std::logic_error("a button of the window has no face");
}

constexpr std::array<ButtonArt, kSkinButtons.size()> JoinButtons() {
    std::array<ButtonArt, kSkinButtons.size()> buttons{};
    for (std::size_t i = 0; i < kSkinButtons.size(); ++i) {
        const ButtonFace face = FaceOf(kSkinButtons[i].id);
        buttons[i] = ButtonArt{kSkinButtons[i], face.size, face.shape, face.glyph, face.glyphScale};
    }
    return buttons;
}

constexpr std::array<ButtonArt, kSkinButtons.size()> kButtons = JoinButtons();

}  // namespace

std::span<const ButtonArt> Buttons() {
    return kButtons;
}

}  // namespace skinart
