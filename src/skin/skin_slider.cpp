#include "skin/skin_slider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <cmath>

CSkinSlider::CSkinSlider(int controlId, QWidget* parent, SkinImageLoader loader)
    : QWidget(parent), controlId_(controlId), loader_(std::move(loader)) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    width_ = width();
    height_ = height();
}

bool CSkinSlider::LoadSprite(int id, Transparency transparent, ColorRef keyColour, int keyX,
                             int keyY, Sprite& sprite) const {
    sprite = Sprite{};
    QImage image = loader_ ? loader_(id & 0xFFFF) : QImage();
    if (image.isNull()) {
        return false;
    }
    image = image.convertToFormat(QImage::Format_RGB32);
    if (transparent == Transparency::kTransparent) {
        BuildMask(image, sprite.mask, keyColour, keyX, keyY);
    }
    sprite.image = std::move(image);
    sprite.loaded = true;
    return true;
}

bool CSkinSlider::LoadSpritePair(int id, int activeId, Transparency transparent, ColorRef keyColour,
                                 int keyX, int keyY, Sprite& sprite, Sprite& active) const {
    active = Sprite{};
    if (!LoadSprite(id, transparent, keyColour, keyX, keyY, sprite)) {
        return false;
    }
    if (activeId != 0 && !LoadSprite(activeId, transparent, keyColour, keyX, keyY, active)) {
        sprite = Sprite{};
        return false;
    }
    return true;
}

bool CSkinSlider::SetChannelBitmaps(int channelId, int activeId, Transparency transparent,
                                    ColorRef keyColour, int keyX, int keyY) {
    if (channelId == 0) {
        channel_ = activeChannel_ = Sprite{};
        return true;
    }
    if (!LoadSpritePair(channelId, activeId, transparent, keyColour, keyX, keyY, channel_,
                        activeChannel_)) {
        return false;
    }
    width_ = channel_.image.width();
    height_ = channel_.image.height();
    resize(width_, height_);
    channelTransparent_ = transparent;
    return true;
}

bool CSkinSlider::SetThumbBitmaps(int thumbId, int activeId, Transparency transparent,
                                  ColorRef keyColour, int keyX, int keyY) {
    if (thumbId == 0) {
        thumb_ = activeThumb_ = Sprite{};
        return true;
    }
    if (!LoadSpritePair(thumbId, activeId, transparent, keyColour, keyX, keyY, thumb_,
                        activeThumb_)) {
        return false;
    }
    thumbWidth_ = thumb_.image.width();
    thumbHeight_ = thumb_.image.height();
    if (!channel_.loaded) {
        width_ = width();
        height_ = height();
    }
    thumbTransparent_ = transparent;
    return true;
}

void CSkinSlider::SetRangeMin(int min, bool redraw) {
    min_ = min;
    if (redraw) {
        update();
    }
}

void CSkinSlider::SetRangeMax(int max, bool redraw) {
    max_ = max;
    if (redraw) {
        update();
    }
}

void CSkinSlider::SetRange(int min, int max, bool redraw) {
    SetRangeMin(min, false);
    SetRangeMax(max, redraw);
}

void CSkinSlider::SetPos(int pos) {
    pos_ = pos;
    if (pos_ > max_) {
        pos_ = max_;
    }
    if (pos_ < min_) {
        pos_ = min_;
    }
    update();
}

void CSkinSlider::SetMargins(int left, int top, int right, int bottom) {
    marginLeft_ = left;
    marginTop_ = top;
    marginRight_ = right;
    marginBottom_ = bottom;
}

void CSkinSlider::SetFocusRect(bool wanted, bool redraw) {
    focusRectWanted_ = wanted;
    if (redraw) {
        update();
    }
}

int CSkinSlider::UsableWidth() const {
    return width_ - marginRight_ - thumbWidth_ - marginLeft_;
}

int CSkinSlider::PosToPixel(int pos) const {
    const int usable = UsableWidth();
    if (max_ == min_ || usable <= 0) {
        return marginLeft_ + thumbWidth_ / 2;
    }
    const double fraction = (static_cast<double>(pos) - min_) / (static_cast<double>(max_) - min_);
    return marginLeft_ + static_cast<int>(std::trunc(fraction * usable)) + thumbWidth_ / 2;
}

int CSkinSlider::PixelToPos(int x) const {
    const int usable = UsableWidth();
    if (max_ == min_ || usable <= 0) {
        return min_;
    }
    const double fraction =
        (static_cast<double>(x) - thumbWidth_ / 2 - marginLeft_) / static_cast<double>(usable);
    return static_cast<int>(std::trunc(fraction * (static_cast<double>(max_) - min_) + min_));
}

void CSkinSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    dragging_ = true;
    const int x = event->position().toPoint().x();
    const int centre = PosToPixel(pos_);
    grabOffset_ = std::abs(x - centre) > thumbWidth_ / 2 ? 0 : x - centre;
    TrackTo(x);
    update();
}

void CSkinSlider::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_) {
        TrackTo(event->position().toPoint().x());
    }
}

// Moves the thumb centre to x less the grab offset, kept within the track.
void CSkinSlider::TrackTo(int x) {
    int centre = x - grabOffset_;
    if (centre < marginLeft_ + thumbWidth_ / 2) {
        centre = marginLeft_ + thumbWidth_ / 2;
    }
    if (centre > width_ - thumbWidth_ / 2 - marginRight_) {
        centre = width_ - thumbWidth_ / 2 - marginRight_;
    }
    if (centre != PosToPixel(pos_)) {
        SetPos(PixelToPos(centre));
        Q_EMIT sliderMoving(controlId_, pos_);
    }
}

// Every release reaching the control ends a drag and reports the position, also one whose
// press happened elsewhere.
void CSkinSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dragging_ = false;
    update();
    Q_EMIT sliderMoved(controlId_, pos_);
}

void CSkinSlider::keyPressEvent(QKeyEvent* event) {
    int pos = pos_;
    switch (event->key()) {
        case Qt::Key_PageUp:
            pos = pos_ - page_;
            break;
        case Qt::Key_PageDown:
            pos = pos_ + page_;
            break;
        case Qt::Key_End:
            pos = max_;
            break;
        case Qt::Key_Home:
            pos = min_;
            break;
        case Qt::Key_Left:
        case Qt::Key_Up:
            pos = pos_ - 1;
            break;
        case Qt::Key_Right:
        case Qt::Key_Down:
            pos = pos_ + 1;
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    SetPos(pos);
    Q_EMIT sliderMoved(controlId_, pos_);
}

void CSkinSlider::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    focused_ = true;
    update();
}

void CSkinSlider::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    focused_ = false;
    update();
}

// What the parent shows under the control, for a transparent channel.
QImage CSkinSlider::ContentUnder() const {
    QImage under(size(), QImage::Format_RGB32);
    under.fill(Qt::black);
    if (QWidget* parent = parentWidget()) {
        parent->render(&under, QPoint(0, 0), QRegion(geometry()), QWidget::DrawWindowBackground);
    }
    return under;
}

void CSkinSlider::paintEvent(QPaintEvent*) {
    QPainter target(this);
    target.setBackground(palette().window());
    // The whole surface is drawn afresh from what lies under the control, so neither an old
    // thumb nor an old focus rectangle needs erasing.
    const bool seeThrough = channelTransparent_ == Transparency::kTransparent && channel_.loaded;
    const QImage under = seeThrough ? ContentUnder() : QImage();
    CMemoryDC memory(target, rect(), seeThrough ? &under : nullptr);
    QPainter& surface = memory.painter();
    const int centre = PosToPixel(pos_);
    if (channel_.loaded) {
        if (!activeChannel_.loaded) {
            DrawImagePart(surface, 0, 0, width_, height_, channel_.image, 0, 0, channel_.mask,
                          channelTransparent_);
        } else {
            DrawImagePart(surface, centre, 0, width_ - centre, height_, channel_.image, centre, 0,
                          channel_.mask, channelTransparent_);
            DrawImagePart(surface, 0, 0, centre, height_, activeChannel_.image, 0, 0,
                          activeChannel_.mask, channelTransparent_);
        }
    }
    if (thumb_.loaded) {
        const Sprite& sprite = dragging_ && activeThumb_.loaded ? activeThumb_ : thumb_;
        DrawImagePart(surface, centre - thumbWidth_ / 2, marginTop_, thumbWidth_, thumbHeight_,
                      sprite.image, 0, 0, sprite.mask, thumbTransparent_);
    }
    if (focusRectWanted_ && focused_) {
        surface.save();
        surface.setPen(QPen(palette().windowText().color(), 1, Qt::DotLine));
        surface.setBrush(Qt::NoBrush);
        surface.drawRect(rect().adjusted(0, 0, -1, -1));
        surface.restore();
    }
}
