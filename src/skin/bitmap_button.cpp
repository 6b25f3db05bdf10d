#include "skin/bitmap_button.h"

#include <QPainter>

CBitmapButton::CBitmapButton(QWidget* parent, SkinImageLoader loader)
    : QAbstractButton(parent), loader_(std::move(loader)) {
    setFocusPolicy(Qt::TabFocus);
}

bool CBitmapButton::LoadButtonBitmaps(int controlId, QWidget* parent, int normalId, int secondId,
                                      int focusId, int disabledId) {
    if (parent == nullptr) {
        return false;
    }
    if (parentWidget() != parent) {
        setParent(parent);
    }
    controlId_ = controlId;
    setObjectName(QStringLiteral("button%1").arg(controlId));
    const int ids[4] = {normalId, secondId, focusId, disabledId};
    for (int i = 0; i < 4; ++i) {
        faces_[i] = ids[i] != 0 && loader_ ? loader_(ids[i] & 0xFFFF) : QImage();
    }
    if (!faces_[0].isNull()) {
        resize(faces_[0].size());
    }
    updateGeometry();
    update();
    return true;
}

QSize CBitmapButton::sizeHint() const {
    return faces_[0].isNull() ? QSize(16, 16) : faces_[0].size();
}

const QImage* CBitmapButton::FaceIfLoaded(Face face) const {
    const QImage& image = faces_[static_cast<int>(face)];
    return image.isNull() ? nullptr : &image;
}

// The plain button: a disabled button shows its disabled face whatever the mouse does;
// otherwise the first of pressed and focused that has a face of its own, else the normal face.
const QImage* CBitmapButton::ChooseFace() const {
    if (!isEnabled()) {
        if (const QImage* face = FaceIfLoaded(Face::kDisabled)) {
            return face;
        }
    }
    const QImage* pressed = isEnabled() && isDown() ? FaceIfLoaded(Face::kSecond) : nullptr;
    const QImage* focused = hasFocus() ? FaceIfLoaded(Face::kFocus) : nullptr;
    for (const QImage* face : {pressed, focused}) {
        if (face != nullptr) {
            return face;
        }
    }
    return FaceIfLoaded(Face::kNormal);
}

void CBitmapButton::paintEvent(QPaintEvent*) {
    const QImage* face = ChooseFace();
    if (face == nullptr) {
        return;
    }
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), *face, QRect(QPoint(0, 0), size()));
}

void CToggleBitmapButton::SetOn() {
    on_ = 1;
    update();
}

void CToggleBitmapButton::SetOff() {
    on_ = 0;
    update();
}

// Disabled, then focus, then the state the program set; pressing changes nothing.
const QImage* CToggleBitmapButton::ChooseFace() const {
    if (!isEnabled()) {
        if (const QImage* face = FaceIfLoaded(Face::kDisabled)) {
            return face;
        }
    }
    if (hasFocus()) {
        if (const QImage* face = FaceIfLoaded(Face::kFocus)) {
            return face;
        }
    }
    if (on_ != 0) {
        if (const QImage* face = FaceIfLoaded(Face::kSecond)) {
            return face;
        }
    }
    return FaceIfLoaded(Face::kNormal);
}
