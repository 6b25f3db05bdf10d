#pragma once

#include <QFont>
#include <QImage>
#include <QLineF>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>

#include "capture/display/display_geometry.h"
#include "capture/display/nearest_scaler.h"
#include "capture/frame_buffer.h"
#include "capture/frame_drawer.h"
#include "output/calibration.h"
#include "output/overlays.h"

// The window the live picture is shown in, and the capture engine's display side.
//
// Live frames: the engine's frame callback calls DrawFrame on the streaming thread. It
// stretches the frame over a private image the size of the window (nearest neighbour, the
// aspect ratio not kept), draws the overlays over it and swaps it in as the window's
// off-screen surface under a short lock; then it asks the UI thread for a repaint, with at
// most one request pending, so a slow UI never queues frames. No widget call is made off the
// UI thread.
//
// Browsed pictures: ShowPicture fits a packed DIB into the window; ZoomBy and dragging with
// the left button zoom and pan it. The last painter wins: a live frame replaces the whole
// surface.
//
// Painting (UI thread) copies the surface to the screen, then draws the connect text, the
// full-screen hint and the overlays over it; overlays a live frame was composed with are
// not drawn a second time.
//
// Measuring: the scale bar and one measured line are drawn over what is shown: composed into
// a live frame on the streaming thread like the other overlays, or painted over a browsed
// picture where it lies at the current zoom and pan. The line is kept in the shown frame's own
// pixels, so zooming and panning never change its length. While the pointer tool is Measure
// or Calibrate, a drag with the left button draws the line instead of panning.
//
// Everything but DrawFrame, framesDrawn and overlays() runs on the UI thread. Whoever owns
// the graph stops it before this window is destroyed.
class VideoDisplayWindow : public QWidget, public FrameDrawer {
    Q_OBJECT
public:
    explicit VideoDisplayWindow(QWidget* parent = nullptr);
    ~VideoDisplayWindow() override;

    // Streaming thread. Frames are 24-bit blue-green-red, rows top-down and padded to 4
    // bytes. Returns 1, or 0 for no bits or bits short of width x height rows.
    int DrawFrame(const std::uint8_t* buffer, std::size_t lengthBytes, int width,
                  int height) override;
    // Drops the off-screen surface; the next paint starts from a black one.
    void ReleaseMemorySurface() override;

    // Shows the packed DIB at the start of `viewerImage` (its header, colour table and rows
    // must lie inside the span): fits it to the window and re-places it. A block that holds
    // no such picture shows black.
    void ShowPicture(std::span<const std::uint8_t> viewerImage);
    // Shows a frame of a played video (top-down Format_RGB32) in the browsed picture's place.
    // `videoSize` is the video's own frame size, which the zoom and view are of; the frame
    // may come scaled down to about the size it is shown at, and is stretched to it. A video
    // of the size shown keeps the zoom and view; another size is fitted as ShowPicture fits a
    // picture. The image is kept, not copied, until the next picture replaces it.
    void ShowVideoFrame(const QImage& frame, QSize videoSize);
    // The size the browsed picture or video covers on the window at the current zoom (parts
    // may lie outside the window); empty without a picture.
    QSize PictureTargetSize() const;
    // A browsed picture is there to zoom and pan.
    bool hasPicture() const { return !picture_.isNull(); }
    // The pixels per metre the browsed picture's header records (0 for none); a played video
    // records none.
    QSize picturePixelsPerMetre() const { return picturePixelsPerMetre_; }
    // The browsed picture or played frame, unscaled; null for none.
    const QImage& picture() const { return picture_; }
    // Zoom step of the browsed picture; the zoom buttons pass +0.2 and -0.2. Without a browsed
    // picture nothing changes.
    void ZoomBy(double step);
    // Re-places the browsed picture (the whole window in full-screen mode, else centred) and
    // redraws it.
    void ResetView();
    // Fills the surface with black and repaints.
    void ClearDisplay();
    // Around full-screen mode: keep the zoom and view, and restore them afterwards. Both make
    // a new surface for the window's current size.
    void SaveZoomState();
    void RestoreZoomState();

    // Drawn in green in the middle of the window while not empty.
    void SetConnectText(const QString& text);
    // While set, `hint` is drawn in red at the top right corner.
    void SetFullScreenMode(bool fullScreen);
    void SetFullScreenHint(const QString& hint);
    void SetTextFont(const QFont& font);
    bool fullScreenMode() const { return fullScreenMode_; }
    const QString& connectText() const { return connectText_; }

    // The overlay switches; any thread may read them, the UI thread flips them.
    OverlaySwitches& overlays() { return overlays_; }

    // What a drag with the left button does.
    enum class PointerTool { kPan, kMeasure, kCalibrate };
    // Another tool drops the line drawn with the one before.
    void SetPointerTool(PointerTool tool);
    PointerTool pointerTool() const { return tool_; }
    // The scale of the live frames and of the browsed picture (invalid: not calibrated); the
    // line's label follows them.
    void SetLiveScale(const PictureScale& scale);
    void SetPictureScale(const PictureScale& scale);
    const PictureScale& liveScale() const { return liveScale_; }
    const PictureScale& pictureScale() const { return pictureScale_; }
    // The scale bar, drawn while the shown frame's scale is valid.
    void SetScaleBarShown(bool shown);
    bool scaleBarShown() const { return scaleBarShown_; }
    // The measured line in the pixels of the frame it was drawn on, and that frame's size;
    // none while no line is drawn.
    const std::optional<QLineF>& measuredLine() const { return line_; }
    QSize measuredFrameSize() const { return lineFrameSize_; }
    // Its length as drawn beside it: in the scale's unit, or in pixels without a scale.
    const QString& measuredLabel() const { return lineLabel_; }
    void ClearMeasuredLine();
    // The size of the frame shown now: the last live frame's while one is shown, else the
    // browsed picture's; empty when there is neither.
    QSize ShownFrameSize() const;
    // Whether the surface holds a live frame (rather than a browsed picture or black).
    bool ShowsLiveFrame() const;

    // The placement of the browsed picture.
    const DisplayGeometry& view() const { return view_; }
    // A copy of the off-screen surface (null when there is none).
    QImage SurfaceSnapshot() const;
    // Frames drawn so far. Any thread.
    std::uint64_t framesDrawn() const { return framesDrawn_.load(); }

    // The status texts' font: fixed pitch, 32 pixels high, characters 32 pixels wide on
    // average, normal weight, upright.
    static QFont MakeStatusTextFont();

Q_SIGNALS:
    // ShowPicture took a new picture (or none); hasPicture() tells which.
    void pictureChanged();
    // PictureTargetSize() changed: a zoom step, a new picture, full screen and back.
    void pictureTargetSizeChanged(QSize size);
    // A drag with the Measure or Calibrate tool ended; `line` is in the pixels of a frame of
    // `frameSize`.
    void lineDrawn(QLineF line, QSize frameSize);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    DisplayRect ClientRect() const;
    void RecreateSurface();
    void EnsureSurfaceLocked();  // surfaceMutex_ held
    void RedrawPicture();
    void RequestRepaint();
    void DrawStatusText(QPainter& painter, const QString& text, const QColor& colour,
                        bool centred) const;
    // The point of the shown frame under the window point `point`, kept inside the frame.
    QPointF FramePointAt(QPoint point, bool live, QSize frameSize) const;
    // The label and the streaming thread's copy follow the line and the scales.
    void UpdateMeasure();
    // The scale bar and the line over a browsed picture.
    void PaintPictureMeasure(QPainter& painter) const;

    // What the streaming thread composes into live frames besides the overlays.
    struct LiveMeasure {
        PictureScale scale;
        bool scaleBar = false;
        std::optional<QLineF> line;  // in the pixels of a frame of lineFrameSize
        QSize lineFrameSize;
        QString label;
        std::uint64_t generation = 0;  // changes with every change of the above
    };

    // The overlays a live frame was composed with.
    struct ComposedOverlays {
        unsigned on = 0;    // OverlaysOn's bits
        QString clockText;  // when the clock is on
        std::uint64_t measureGeneration = 0;
    };

    // Shared with the streaming thread.
    mutable std::mutex surfaceMutex_;
    QImage surface_;  // guarded; Format_RGB32 of clientSize_, or null
    std::optional<ComposedOverlays> surfaceOverlays_;  // guarded; none unless a live frame
    QSize clientSize_;         // guarded; the window's size as the streaming thread sees it
    QSize liveFrameSize_;      // guarded; the last live frame's size
    LiveMeasure liveMeasure_;  // guarded
    OverlaySwitches overlays_;
    std::atomic<bool> repaintPending_{false};
    std::atomic<std::uint64_t> framesDrawn_{0};

    // Streaming thread only.
    QImage composing_;
    NearestScaler scaler_;
    OverlayStamp stamp_;

    // UI thread only.
    DisplayGeometry view_;
    QImage picture_;     // the browsed picture, top-down Format_RGB32; null for none
    QSize pictureSize_;  // its own size: a played video's frames may come scaled down
    QSize picturePixelsPerMetre_;
    QSize targetSize_;   // PictureTargetSize() as last drawn
    QString connectText_;
    QString fullScreenHint_;
    bool fullScreenMode_ = false;
    QFont textFont_;
    bool dragging_ = false;
    QPoint lastMouse_;
    PointerTool tool_ = PointerTool::kPan;
    bool drawingLine_ = false;  // a drag of the Measure or Calibrate tool is under way
    PictureScale liveScale_;
    PictureScale pictureScale_;
    bool scaleBarShown_ = false;
    std::optional<QLineF> line_;
    QSize lineFrameSize_;
    bool lineOnLive_ = false;  // the line was drawn on a live frame, not on the picture
    QString lineLabel_;
    std::uint64_t measureGeneration_ = 0;
    bool liveFrameShown_ = false;  // traced once, when the first live frame is painted
};
