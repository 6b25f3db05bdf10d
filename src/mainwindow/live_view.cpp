#include "mainwindow/live_view.h"

#include <QMetaObject>
#include <QPainter>
#include <cstring>

LiveView::LiveView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setObjectName(QStringLiteral("liveView"));
}

void LiveView::DrawFrame(const std::uint8_t* buffer, std::size_t lengthBytes, int width,
                         int height) {
    const std::size_t rowBytes = BgrRowBytes(width);
    if (buffer == nullptr || width <= 0 || height <= 0 ||
        lengthBytes < rowBytes * static_cast<std::size_t>(height)) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (backBuffer_.width() != width || backBuffer_.height() != height) {
            backBuffer_ = QImage(width, height, QImage::Format_BGR888);
            if (backBuffer_.isNull()) {
                return;
            }
        }
        const std::size_t copyBytes = static_cast<std::size_t>(width) * 3;
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* source =
                buffer + rowBytes * static_cast<std::size_t>(height - 1 - y);
            std::memcpy(backBuffer_.scanLine(y), source, copyBytes);
        }
    }
    framesDrawn_.fetch_add(1);
    if (!repaintPending_.exchange(true)) {
        // Queued to the UI thread; dropped if the view is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this] {
                repaintPending_.store(false);
                update();
            },
            Qt::QueuedConnection);
    }
}

QImage LiveView::CurrentFrame() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return backBuffer_.copy();
}

void LiveView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    // A shared handle: the streaming thread is not held up while the frame is painted (its
    // next write detaches into a fresh buffer if this one is still in use).
    QImage frame;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        frame = backBuffer_;
    }
    if (frame.isNull()) {
        return;
    }
    const QSize scaled = frame.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - scaled.width()) / 2, (height() - scaled.height()) / 2),
                       scaled);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.drawImage(target, frame);
}
