#pragma once

#include <QAbstractButton>
#include <QImage>

#include "skin/skin_drawing.h"

// A push button drawn from skin images, unscaled at its top-left corner. It has four faces:
// normal, second (the pressed face of a plain button, the "on" face of a toggle button),
// focus and disabled; any but the normal one may be missing. A disabled button shows its
// disabled face (where it has one) and never its pressed one; it has no hover look. A click is
// reported through QAbstractButton::clicked; the owner maps controlId() to its command. UI
// thread.
class CBitmapButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CBitmapButton(QWidget* parent = nullptr, SkinImageLoader loader = LoadSkinImage);

    // Becomes the child control `controlId` of `parent`, loads each face whose id is not 0
    // (the low 16 bits name the image) and takes the size of the normal face. False only when
    // there is no parent to attach to; a face that cannot be loaded stays empty.
    bool LoadButtonBitmaps(int controlId, QWidget* parent, int normalId, int secondId, int focusId,
                           int disabledId = 0);
    int controlId() const { return controlId_; }

    QSize sizeHint() const override;

protected:
    enum class Face { kNormal, kSecond, kFocus, kDisabled };
    // The face to draw in the button's current state, or null for none.
    virtual const QImage* ChooseFace() const;
    const QImage* FaceIfLoaded(Face face) const;

    void paintEvent(QPaintEvent* event) override;

private:
    SkinImageLoader loader_;
    int controlId_ = 0;
    QImage faces_[4];
};

// A bitmap button that shows its second face while the program has set it on, whatever the
// mouse does; a click does not change the state.
class CToggleBitmapButton : public CBitmapButton {
    Q_OBJECT
public:
    using CBitmapButton::CBitmapButton;

    void SetOn();
    void SetOff();
    int IsOn() const { return on_; }

protected:
    const QImage* ChooseFace() const override;

private:
    int on_ = 0;
};
