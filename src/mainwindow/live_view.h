#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <mutex>

#include "capture/frame_grabbing.h"

// Shows the live picture: the streaming thread hands each frame to DrawFrame, which turns it
// into a top-down back buffer under a lock and asks the UI thread for one repaint (at most
// one request is pending at a time); the UI thread paints the newest frame scaled into the
// widget, keeping its aspect ratio.
class LiveView : public QWidget, public FrameDrawer {
public:
    explicit LiveView(QWidget* parent = nullptr);

    // Streaming thread. Frames are 24-bit blue-green-red, bottom-up rows padded to 4 bytes.
    void DrawFrame(const std::uint8_t* buffer, std::size_t lengthBytes, int width,
                   int height) override;

    // Frames taken so far (any thread).
    std::uint64_t framesDrawn() const { return framesDrawn_.load(); }
    // A copy of the newest frame, top-down; null before the first frame. UI thread.
    QImage CurrentFrame() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    mutable std::mutex mutex_;
    QImage backBuffer_;  // guarded by mutex_
    std::atomic<bool> repaintPending_{false};
    std::atomic<std::uint64_t> framesDrawn_{0};
};
