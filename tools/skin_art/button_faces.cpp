#include "button_faces.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "paint_kit.h"
#include "palette.h"

namespace skinart {
namespace {

namespace pal = palette;

enum class Look { Rest, Pressed, On, Disabled };

struct FaceColours {
    QColor top;
    QColor bottom;
    QColor border;
    QColor icon;
};

FaceColours ColoursFor(Look look) {
    switch (look) {
        case Look::Rest:
            return {pal::kFaceTop, pal::kFace, pal::kFaceBorder, pal::kIcon};
        case Look::Pressed:
            return {pal::kPressed, Mix(pal::kPressed, pal::kFace, 0.35), pal::kPressedBorder,
                    Mix(pal::kIcon, pal::kPressed, 0.15)};
        case Look::On:
            return {pal::kAccentTop, pal::kAccent, pal::kAccentDeep, pal::kOnIcon};
        case Look::Disabled:
            // Flat, nearly the panel's colour, with the icon greyed but still readable.
            return {Mix(pal::kFaceTop, pal::kBase, 0.6), Mix(pal::kFace, pal::kBase, 0.6),
                    Mix(pal::kFaceBorder, pal::kBase, 0.55), pal::kIconDisabled};
    }
    return {};
}

Look LookOf(const ButtonArt& art, Face face) {
    switch (face) {
        case Face::First:
            return Look::Rest;
        case Face::Disabled:
            return Look::Disabled;
        case Face::Second:
            break;
    }
    return art.place.kind == ButtonKind::kToggle ? Look::On : Look::Pressed;
}

QPainterPath Outline(const ButtonArt& art) {
    const QRectF box(0, 0, art.size.width(), art.size.height());
    QPainterPath path;
    switch (art.shape) {
        case FaceShape::RoundedSquare:
            path.addRoundedRect(box, 6, 6);
            break;
        case FaceShape::Circle:
            path.addEllipse(box.adjusted(1, 1, -1, -1));
            break;
        case FaceShape::Pill:
            path.addRoundedRect(box, box.height() / 2, box.height() / 2);
            break;
    }
    return path;
}

void FillFace(QPainter& painter, const QPainterPath& outline, const FaceColours& colours) {
    QLinearGradient gradient(outline.boundingRect().topLeft(), outline.boundingRect().bottomLeft());
    gradient.setColorAt(0.0, colours.top);
    gradient.setColorAt(1.0, colours.bottom);
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawPath(outline);
    // The border is drawn inside the outline so the face keeps its size.
    painter.setClipPath(outline);
    painter.setPen(QPen(colours.border, 2.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);
    painter.setClipping(false);
}

// A sunk face has its shadow along the top edge.
void ShadeInset(QPainter& painter, const QPainterPath& outline) {
    painter.save();
    painter.setClipPath(outline);
    painter.setPen(QPen(QColor(0, 0, 0, 90), 2.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline.translated(0, 1.5));
    painter.restore();
}

QPointF GlyphOrigin(const ButtonArt& art, Look look) {
    const qreal glyphSize = 16 * art.glyphScale;
    const qreal x = std::floor((art.size.width() - glyphSize) / 2);
    const qreal y = std::floor((art.size.height() - glyphSize) / 2);
    return QPointF(x, look == Look::Pressed ? y + 1 : y);
}

// What lies under a button: the window background at its place, or a plain panel for the
// buttons the window never shows.
QImage BackdropFor(const ButtonArt& art, const QImage& background) {
    if (art.place.shown != ButtonShown::kNever) {
        return CropOrFill(background, QRect(art.place.position, art.size), pal::kBase);
    }
    return NewImage(art.size, pal::kBase);
}

}  // namespace

QImage DrawButtonFace(const ButtonArt& art, Face face, const QImage& background) {
    QImage image = BackdropFor(art, background);
    const Look look = LookOf(art, face);
    const FaceColours colours = ColoursFor(look);
    const QPainterPath outline = Outline(art);
    QPainter painter;
    BeginPainting(painter, image);
    FillFace(painter, outline, colours);
    if (look == Look::Pressed) {
        ShadeInset(painter, outline);
    }
    DrawGlyph(painter, art.glyph, GlyphOrigin(art, look), colours.icon, art.glyphScale);
    return image;
}

}  // namespace skinart
