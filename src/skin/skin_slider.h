#pragma once

#include <QImage>
#include <QWidget>

#include "skin/skin_drawing.h"

// A horizontal slider drawn from skin images: a channel (track), an optional active channel
// for the part left of the thumb, a thumb and an optional active thumb shown while dragging.
// It keeps an integer position within [min, max]; the user drags the thumb or moves it with
// Page Up/Down, Home, End and the arrow keys. UI thread.
//
// An empty range (max equal to min) puts the thumb at the left end and maps every pixel to
// min; so does a control too narrow for the thumb and its margins.
class CSkinSlider : public QWidget {
    Q_OBJECT
public:
    explicit CSkinSlider(int controlId, QWidget* parent = nullptr,
                         SkinImageLoader loader = LoadSkinImage);

    int controlId() const { return controlId_; }

    // Channel id 0 drops the channel. Otherwise loads the channel (and the active channel when
    // `activeId` is not 0), builds masks when `transparent`, and sizes the control to the
    // channel. False when an image cannot be loaded; the channel is then gone.
    bool SetChannelBitmaps(int channelId, int activeId, Transparency transparent,
                           ColorRef keyColour, int keyX, int keyY);
    // The same for the thumb. Without a channel the control keeps its size.
    bool SetThumbBitmaps(int thumbId, int activeId, Transparency transparent, ColorRef keyColour,
                         int keyX, int keyY);

    void SetRangeMin(int min, bool redraw);
    void SetRangeMax(int max, bool redraw);
    void SetRange(int min, int max, bool redraw);
    // Stores `pos` clamped to [min, max] (max first, then min).
    void SetPos(int pos);
    int GetPos() const { return pos_; }
    int GetRangeMin() const { return min_; }
    int GetRangeMax() const { return max_; }
    void SetPageSize(int page) { page_ = page; }
    void SetMargins(int left, int top, int right, int bottom);
    void SetFocusRect(bool wanted, bool redraw);

    // The thumb centre's x for a position, and the position for a thumb centre's x.
    int PosToPixel(int pos) const;
    int PixelToPos(int x) const;

    bool dragging() const { return dragging_; }

Q_SIGNALS:
    // The control id and the new position.
    void sliderMoving(int controlId, int position);  // the thumb moved during a drag
    void sliderMoved(int controlId, int position);   // a drag ended or a key moved it

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    struct Sprite {
        QImage image;
        QImage mask;
        bool loaded = false;
    };
    bool LoadSprite(int id, Transparency transparent, ColorRef keyColour, int keyX, int keyY,
                    Sprite& sprite) const;
    // A sprite and its active form; when either cannot be loaded both are left empty.
    bool LoadSpritePair(int id, int activeId, Transparency transparent, ColorRef keyColour,
                        int keyX, int keyY, Sprite& sprite, Sprite& active) const;
    int UsableWidth() const;
    void TrackTo(int x);
    QImage ContentUnder() const;

    int controlId_;
    SkinImageLoader loader_;
    int max_ = 100;
    int min_ = 0;
    int pos_ = 0;
    int page_ = 20;
    int width_ = 0;
    int height_ = 0;
    int thumbWidth_ = 0;
    int thumbHeight_ = 0;
    int marginLeft_ = 0;
    int marginRight_ = 0;
    int marginTop_ = 0;
    int marginBottom_ = 0;
    int grabOffset_ = 0;
    Sprite channel_;
    Sprite activeChannel_;
    Sprite thumb_;
    Sprite activeThumb_;
    Transparency channelTransparent_ = Transparency::kOpaque;
    Transparency thumbTransparent_ = Transparency::kOpaque;
    bool dragging_ = false;
    bool focused_ = false;
    bool focusRectWanted_ = true;
};
