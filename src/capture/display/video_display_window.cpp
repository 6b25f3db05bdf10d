#include "capture/display/video_display_window.h"

#include <QCursor>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "app/debug_trace.h"
#include "output/jpeg_codec.h"
#include "output/packed_dib.h"
#include "output/scale_overlays.h"

namespace {

constexpr int kStatusTextCellPixels = 32;
const QColor kConnectTextColour(0, 255, 0);
const QColor kFullScreenHintColour(255, 0, 0);
constexpr int kHintRightMargin = 4;
constexpr int kHintTop = 2;

// The browsed picture as a top-down 32-bit image; null when `block` holds no packed DIB.
QImage PictureFromPackedDib(std::span<const std::uint8_t> block) {
    const IoResultOf<DibLayout> layout = DescribePackedDib(block);
    if (!layout) {
        return {};
    }
    QImage rgb(layout->header.biWidth, layout->header.biHeight, QImage::Format_RGB888);
    if (rgb.isNull()) {
        return {};
    }
    std::vector<std::uint8_t*> rows(static_cast<std::size_t>(rgb.height()));
    for (int y = 0; y < rgb.height(); ++y) {
        rows[static_cast<std::size_t>(y)] = rgb.scanLine(y);
    }
    if (!DibRowsToRgb(block, static_cast<int>(rgb.bytesPerLine()), rows.data())) {
        return {};
    }
    return rgb.convertToFormat(QImage::Format_RGB32);
}

bool SameScale(const PictureScale& a, const PictureScale& b) {
    return a.xMicrometresPerPixel == b.xMicrometresPerPixel &&
           a.yMicrometresPerPixel == b.yMicrometresPerPixel && a.name == b.name &&
           a.scaledFrom == b.scaledFrom;
}

}  // namespace

VideoDisplayWindow::VideoDisplayWindow(QWidget* parent)
    : QWidget(parent), textFont_(MakeStatusTextFont()) {
    setObjectName(QStringLiteral("videoDisplayWindow"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    clientSize_ = size();
}

VideoDisplayWindow::~VideoDisplayWindow() = default;

QFont VideoDisplayWindow::MakeStatusTextFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    // 32 pixels from the top of the tallest letter to the bottom of the lowest.
    font.setPixelSize(kStatusTextCellPixels);
    const int cellHeight = QFontMetrics(font).height();
    if (cellHeight > 0) {
        font.setPixelSize(std::max(1, kStatusTextCellPixels * kStatusTextCellPixels / cellHeight));
    }
    const int averageWidth = QFontMetrics(font).averageCharWidth();
    if (averageWidth > 0) {
        font.setStretch(std::clamp(100 * kStatusTextCellPixels / averageWidth, 1, 4000));
    }
    return font;
}

DisplayRect VideoDisplayWindow::ClientRect() const {
    return {0, 0, width(), height()};
}

int VideoDisplayWindow::DrawFrame(const std::uint8_t* buffer, std::size_t lengthBytes, int width,
                                  int height) {
    if (buffer == nullptr || width <= 0 || height <= 0 ||
        lengthBytes / BgrRowBytes(width) < static_cast<std::size_t>(height)) {
        return 0;
    }
    QSize size;
    LiveMeasure measure;
    {
        std::lock_guard<std::mutex> lock(surfaceMutex_);
        size = clientSize_;
        liveFrameSize_ = QSize(width, height);
        measure = liveMeasure_;
    }
    if (size.isEmpty()) {
        return 1;
    }
    if (composing_.size() != size || composing_.format() != QImage::Format_RGB32) {
        composing_ = QImage(size, QImage::Format_RGB32);
        if (composing_.isNull()) {
            return 1;
        }
    }
    scaler_.Scale(buffer, lengthBytes, width, height, composing_);
    ComposedOverlays overlays{OverlaysOn(overlays_), {}};
    QDateTime now;
    if ((overlays.on & kClockOverlayBit) != 0) {
        now = QDateTime::currentDateTime();
        overlays.clockText = ClockOverlayText(now);
    }
    stamp_.Apply(composing_, overlays.on, now);
    overlays.measureGeneration = measure.generation;
    const QSize frameSize(width, height);
    const bool scaleBar = measure.scaleBar && measure.scale.valid();
    const bool line = measure.line && measure.lineFrameSize == frameSize;
    if (scaleBar || line) {
        QPainter painter(&composing_);
        const QRect client(QPoint(0, 0), size);
        const QRectF target(client);
        if (scaleBar) {
            DrawScaleBar(painter, client, target, frameSize, measure.scale);
        }
        if (line) {
            DrawMeasurement(painter, client, target, frameSize, measure.line->p1(),
                            measure.line->p2(), measure.label);
        }
    }
    {
        std::lock_guard<std::mutex> lock(surfaceMutex_);
        // A frame composed for a size the window no longer has is dropped.
        if (clientSize_ == size) {
            surface_.swap(composing_);
            surfaceOverlays_ = std::move(overlays);
        }
    }
    framesDrawn_.fetch_add(1);
    RequestRepaint();
    return 1;
}

void VideoDisplayWindow::RequestRepaint() {
    if (repaintPending_.exchange(true)) {
        return;
    }
    // Queued to the UI thread; dropped by Qt if the window is gone by then.
    QMetaObject::invokeMethod(
        this,
        [this] {
            repaintPending_.store(false);
            update();
        },
        Qt::QueuedConnection);
}

void VideoDisplayWindow::ReleaseMemorySurface() {
    std::lock_guard<std::mutex> lock(surfaceMutex_);
    surface_ = QImage();
    surfaceOverlays_.reset();
}

void VideoDisplayWindow::EnsureSurfaceLocked() {
    if (surface_.isNull() || surface_.size() != clientSize_) {
        surface_ = QImage();
        surfaceOverlays_.reset();
        if (!clientSize_.isEmpty()) {
            surface_ = QImage(clientSize_, QImage::Format_RGB32);
            surface_.fill(Qt::black);
        }
    }
}

void VideoDisplayWindow::RecreateSurface() {
    std::lock_guard<std::mutex> lock(surfaceMutex_);
    clientSize_ = size();
    surface_ = QImage();
    surfaceOverlays_.reset();
    EnsureSurfaceLocked();
}

QImage VideoDisplayWindow::SurfaceSnapshot() const {
    std::lock_guard<std::mutex> lock(surfaceMutex_);
    return surface_.copy();
}

void VideoDisplayWindow::ShowPicture(std::span<const std::uint8_t> viewerImage) {
    if (line_ && !lineOnLive_) {
        ClearMeasuredLine();  // it was drawn on the picture before
    }
    picture_ = PictureFromPackedDib(viewerImage);
    pictureSize_ = picture_.size();
    picturePixelsPerMetre_ = QSize();
    if (const IoResultOf<DibLayout> layout = DescribePackedDib(viewerImage);
        layout && !picture_.isNull()) {
        picturePixelsPerMetre_ =
            QSize(layout->header.biXPelsPerMeter, layout->header.biYPelsPerMeter);
    }
    view_.SetPicture(picture_.width(), picture_.height());
    view_.Fit(ClientRect());
    ResetView();
    Q_EMIT pictureChanged();
}

void VideoDisplayWindow::ShowVideoFrame(const QImage& frame, QSize videoSize) {
    if (frame.isNull() || frame.format() != QImage::Format_RGB32 || videoSize.isEmpty()) {
        return;
    }
    const bool sameSize = videoSize == pictureSize_ && !picture_.isNull();
    picture_ = frame;
    if (sameSize) {
        RedrawPicture();
        return;
    }
    pictureSize_ = videoSize;
    picturePixelsPerMetre_ = QSize();
    view_.SetPicture(videoSize.width(), videoSize.height());
    view_.Fit(ClientRect());
    ResetView();
    Q_EMIT pictureChanged();
}

void VideoDisplayWindow::ZoomBy(double step) {
    if (picture_.isNull()) {
        return;  // nothing browsed: the live picture or the last frame stays as it is
    }
    view_.ZoomBy(step, ClientRect());
    RedrawPicture();
}

void VideoDisplayWindow::ResetView() {
    view_.ResetView(ClientRect(), fullScreenMode_ ? DisplayGeometry::WindowMode::kFullScreen
                                                  : DisplayGeometry::WindowMode::kNormal);
    RedrawPicture();
}

QSize VideoDisplayWindow::PictureTargetSize() const {
    if (picture_.isNull()) {
        return {};
    }
    const DisplayRect target = view_.PictureTarget();
    return {std::max(0, target.Width()), std::max(0, target.Height())};
}

void VideoDisplayWindow::RedrawPicture() {
    if (const QSize target = PictureTargetSize(); target != targetSize_) {
        targetSize_ = target;
        Q_EMIT pictureTargetSizeChanged(target);
    }
    {
        std::lock_guard<std::mutex> lock(surfaceMutex_);
        EnsureSurfaceLocked();
        surfaceOverlays_.reset();
        if (!surface_.isNull()) {
            const DisplayRect target = view_.PictureTarget();
            const QRect pictureRect(target.left, target.top, target.Width(), target.Height());
            if (picture_.isNull() || pictureRect.isEmpty()) {
                surface_.fill(Qt::black);
            } else {
                // Black only where the picture leaves room: a played video redraws this
                // many times a second.
                QPainter painter(&surface_);
                for (const QRect& margin : QRegion(surface_.rect()).subtracted(pictureRect)) {
                    painter.fillRect(margin, Qt::black);
                }
                painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
                painter.drawImage(pictureRect, picture_);
            }
        }
    }
    update();
}

void VideoDisplayWindow::ClearDisplay() {
    {
        std::lock_guard<std::mutex> lock(surfaceMutex_);
        EnsureSurfaceLocked();
        surfaceOverlays_.reset();
        surface_.fill(Qt::black);
    }
    update();
}

void VideoDisplayWindow::SaveZoomState() {
    view_.SaveZoomState();
    RecreateSurface();
}

void VideoDisplayWindow::RestoreZoomState() {
    RecreateSurface();
    view_.RestoreZoomState();
    RedrawPicture();
}

void VideoDisplayWindow::SetPointerTool(PointerTool tool) {
    if (tool == tool_) {
        return;
    }
    tool_ = tool;
    drawingLine_ = false;
    setCursor(tool == PointerTool::kPan ? Qt::ArrowCursor : Qt::CrossCursor);
    ClearMeasuredLine();
}

void VideoDisplayWindow::SetLiveScale(const PictureScale& scale) {
    if (!SameScale(scale, liveScale_)) {
        liveScale_ = scale;
        UpdateMeasure();
    }
}

void VideoDisplayWindow::SetPictureScale(const PictureScale& scale) {
    if (!SameScale(scale, pictureScale_)) {
        pictureScale_ = scale;
        UpdateMeasure();
    }
}

void VideoDisplayWindow::SetScaleBarShown(bool shown) {
    scaleBarShown_ = shown;
    UpdateMeasure();
}

void VideoDisplayWindow::ClearMeasuredLine() {
    drawingLine_ = false;
    if (!line_) {
        return;
    }
    line_.reset();
    lineFrameSize_ = QSize();
    UpdateMeasure();
}

QSize VideoDisplayWindow::ShownFrameSize() const {
    {
        std::lock_guard<std::mutex> lock(surfaceMutex_);
        if (surfaceOverlays_) {
            return liveFrameSize_;
        }
    }
    return picture_.isNull() ? QSize() : pictureSize_;
}

bool VideoDisplayWindow::ShowsLiveFrame() const {
    std::lock_guard<std::mutex> lock(surfaceMutex_);
    return surfaceOverlays_.has_value();
}

QPointF VideoDisplayWindow::FramePointAt(QPoint point, bool live, QSize frameSize) const {
    QRectF target(rect());
    if (!live) {
        const DisplayRect picture = view_.PictureTarget();
        target = QRectF(picture.left, picture.top, picture.Width(), picture.Height());
    }
    if (target.isEmpty() || frameSize.isEmpty()) {
        return {};
    }
    const double x = (point.x() + 0.5 - target.left()) * frameSize.width() / target.width();
    const double y = (point.y() + 0.5 - target.top()) * frameSize.height() / target.height();
    return {std::clamp(x, 0.0, static_cast<double>(frameSize.width())),
            std::clamp(y, 0.0, static_cast<double>(frameSize.height()))};
}

void VideoDisplayWindow::UpdateMeasure() {
    const PictureScale& scale = lineOnLive_ ? liveScale_ : pictureScale_;
    lineLabel_.clear();
    if (line_) {
        lineLabel_ = scale.valid() ? LengthText(LineMicrometres(line_->p1(), line_->p2(), scale))
                                   : PixelLengthText(line_->length());
    }
    {
        std::lock_guard<std::mutex> lock(surfaceMutex_);
        liveMeasure_.scale = liveScale_;
        liveMeasure_.scaleBar = scaleBarShown_;
        liveMeasure_.line = lineOnLive_ ? line_ : std::nullopt;
        liveMeasure_.lineFrameSize = lineFrameSize_;
        liveMeasure_.label = lineLabel_;
        liveMeasure_.generation = ++measureGeneration_;
    }
    update();
}

void VideoDisplayWindow::PaintPictureMeasure(QPainter& painter) const {
    if (picture_.isNull()) {
        return;
    }
    const DisplayRect picture = view_.PictureTarget();
    const QRectF target(picture.left, picture.top, picture.Width(), picture.Height());
    if (scaleBarShown_ && pictureScale_.valid()) {
        DrawScaleBar(painter, rect(), target, pictureSize_, pictureScale_);
    }
    if (line_ && !lineOnLive_ && lineFrameSize_ == pictureSize_) {
        DrawMeasurement(painter, rect(), target, pictureSize_, line_->p1(), line_->p2(),
                        lineLabel_);
    }
}

void VideoDisplayWindow::SetConnectText(const QString& text) {
    connectText_ = text;
    update();
}

void VideoDisplayWindow::SetFullScreenMode(bool fullScreen) {
    fullScreenMode_ = fullScreen;
    update();
}

void VideoDisplayWindow::SetFullScreenHint(const QString& hint) {
    fullScreenHint_ = hint;
    update();
}

void VideoDisplayWindow::SetTextFont(const QFont& font) {
    textFont_ = font;
    update();
}

void VideoDisplayWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    RecreateSurface();
}

// The overlays go over the status texts. A surface that holds a live frame composed with
// the overlays that are on now (and the clock's text of now) already shows them as they
// would be drawn: they are drawn again only over a status text.
void VideoDisplayWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const unsigned on = OverlaysOn(overlays_);
    const QDateTime now = QDateTime::currentDateTime();
    bool overlaysShown = false;
    bool liveFrame = false;
    {
        std::lock_guard<std::mutex> lock(surfaceMutex_);
        EnsureSurfaceLocked();
        if (surface_.isNull()) {
            painter.fillRect(rect(), Qt::black);
        } else {
            painter.drawImage(QPoint(0, 0), surface_);
            liveFrame = surfaceOverlays_.has_value();
            overlaysShown = surfaceOverlays_ && surfaceOverlays_->on == on &&
                            surface_.size() == size() &&
                            ((on & kClockOverlayBit) == 0 ||
                             surfaceOverlays_->clockText == ClockOverlayText(now));
        }
    }
    if (!connectText_.isEmpty()) {
        DrawStatusText(painter, connectText_, kConnectTextColour, true);
        overlaysShown = false;
    }
    if (fullScreenMode_ && !fullScreenHint_.isEmpty()) {
        DrawStatusText(painter, fullScreenHint_, kFullScreenHintColour, false);
        overlaysShown = false;
    }
    if (!overlaysShown) {
        DrawOverlays(painter, rect(), overlays_, now);
    }
    // A live frame carries the scale bar and the line it was composed with; the next frame
    // brings the newest.
    if (!liveFrame) {
        PaintPictureMeasure(painter);
    }
    if (liveFrame && !liveFrameShown_) {
        liveFrameShown_ = true;
        DebugTrace(0, "First live frame shown\n");
    }
}

// The connect text is centred (at the left edge when wider than the window); the hint sits
// 4 pixels from the right edge and 2 from the top (at the left edge when it does not fit).
// A text wider than the window is narrowed to the window's width so it can be read whole.
void VideoDisplayWindow::DrawStatusText(QPainter& painter, const QString& text,
                                        const QColor& colour, bool centred) const {
    const QFontMetrics metrics(textFont_);
    const int textWidth = metrics.horizontalAdvance(text);
    const int textHeight = metrics.height();
    const int right = width();
    int x = 0;
    int y = kHintTop;
    if (centred) {
        x = textWidth < right ? (right - textWidth) / 2 : 0;
        y = (height() - textHeight) / 2;
    } else if (textWidth + kHintRightMargin < right) {
        x = right - textWidth - kHintRightMargin;
    }
    painter.save();
    painter.setFont(textFont_);
    painter.setPen(colour);
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.translate(x, y);
    if (textWidth > right && right > 0) {
        painter.scale(static_cast<double>(right) / textWidth, 1.0);
    }
    painter.drawText(QPoint(0, metrics.ascent()), text);
    painter.restore();
}

void VideoDisplayWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    lastMouse_ = event->position().toPoint();
    dragging_ = true;
    if (tool_ != PointerTool::kPan) {
        const bool live = ShowsLiveFrame();
        const QSize frameSize = ShownFrameSize();
        if (frameSize.isEmpty()) {
            return;  // nothing shown to measure on
        }
        drawingLine_ = true;
        lineOnLive_ = live;
        lineFrameSize_ = frameSize;
        const QPointF start = FramePointAt(lastMouse_, live, frameSize);
        line_ = QLineF(start, start);
        UpdateMeasure();
    }
}

void VideoDisplayWindow::mouseMoveEvent(QMouseEvent* event) {
    QPoint point = event->position().toPoint();
    if (dragging_) {
        // The pointer stays inside the window while the button is held.
        const QPoint confined(std::clamp(point.x(), 0, std::max(width() - 1, 0)),
                              std::clamp(point.y(), 0, std::max(height() - 1, 0)));
        if (confined != point) {
            QCursor::setPos(mapToGlobal(confined));
            point = confined;
        }
    }
    if (tool_ != PointerTool::kPan) {
        if (dragging_ && drawingLine_ && line_) {
            line_->setP2(FramePointAt(point, lineOnLive_, lineFrameSize_));
            UpdateMeasure();
        }
        return;
    }
    const Qt::CursorShape shape =
        view_.CanPanAt(point.x(), point.y(), ClientRect()) ? Qt::OpenHandCursor : Qt::ArrowCursor;
    if (cursor().shape() != shape) {
        setCursor(shape);
    }
    if (dragging_) {
        const DisplayRect before = view_.viewRect();
        view_.Pan(point.x() - lastMouse_.x(), point.y() - lastMouse_.y(), ClientRect());
        lastMouse_ = point;
        // Only a picture that moved is redrawn, so a click on the live picture does not blank
        // it until the next frame.
        if (!picture_.isNull() && view_.viewRect() != before) {
            RedrawPicture();
        }
    }
}

void VideoDisplayWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dragging_ = false;
    if (std::exchange(drawingLine_, false) && line_) {
        Q_EMIT lineDrawn(*line_, lineFrameSize_);
    }
}
