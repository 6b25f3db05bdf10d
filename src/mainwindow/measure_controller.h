#pragma once

#include <QElapsedTimer>
#include <QLineF>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "output/calibration.h"

class CalibrateDialog;
class QAction;
class QLabel;
class QMenu;
class QWidget;
class VideoDisplayWindow;

// Frames the capture delivered so far and frames the device lost on the way, as counted from
// the start of the program; the status line shows the differences.
struct FrameCounts {
    std::uint64_t delivered = 0;
    std::uint64_t dropped = 0;
};

// Measuring in the main window: the calibrations of the device in use, the current one, the
// Measure and Calibrate tools of the display, the scale bar switch, the switch that burns the
// overlays into stills, and the status line under the picture. UI thread.
//
// Live: the status line tells the frame size, the frames a second delivered over the last
// second, the frames dropped since the capture last started, and the current calibration (with
// the size it was made at when that differs from the frames'). Browse: the picture's size, and
// its size in micrometres when it has a scale. While a tool is on, its hint takes the line.
class MeasureController : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<bool()> live;                // the live picture is shown
        std::function<FrameCounts()> frameCounts;  // may be empty: no counts
        std::function<void(const QString&)> warn;  // a message box for the user
        QString messageTitle;
    };
    MeasureController(VideoDisplayWindow& display, QLabel& statusLine, QWidget& dialogParent,
                      CalibrationStore store, Hooks hooks);
    ~MeasureController() override;

    // Reads the calibrations. A file that could not be read whole is told once through `warn`.
    void LoadCalibrations();
    const CalibrationStore& store() const { return store_; }

    // The device in use, by its calibration key and name; calibrations are kept per device.
    void SetDevice(const std::string& deviceKey, const QString& deviceName);
    const std::string& deviceKey() const { return deviceKey_; }
    const QString& deviceName() const { return deviceName_; }

    // The menu items this controller keeps checked: found by command id in every menu given.
    void BindMenus(std::initializer_list<QWidget*> menus);

    // Commands.
    void OnCommand(int id);
    // Escape: ends the Measure or Calibrate tool; false when neither was on.
    bool EndTool();
    // The current calibration's name; "" measures in pixels.
    void ChooseCalibration(const QString& name);
    const QString& currentName() const { return currentName_; }
    bool burnOverlays() const { return burnOverlays_; }

    // The window's mode or picture changed: the scales and the status line follow.
    void Refresh();
    // The capture (re)started: the dropped frames count from now.
    void RestartCounts();
    // The current calibration's scale for frames of `frameSize` (invalid: none).
    PictureScale ScaleFor(QSize frameSize) const;

    // Runs the calibrate dialog in place of its exec(); tests answer it.
    void SetDialogRunner(std::function<int(CalibrateDialog&)> runner) {
        dialogRunner_ = std::move(runner);
    }
    const QString& statusText() const { return statusText_; }

private:
    void OnLineDrawn(QLineF line, QSize frameSize);
    void Calibrate(QLineF line, QSize frameSize);
    void SetTool(int tool);  // VideoDisplayWindow::PointerTool
    void SyncMenus();
    void FillCalibrationMenu(QMenu& menu);
    void ShowStatus();
    QString CalibrationStatus(const PictureScale& scale) const;

    VideoDisplayWindow& display_;
    QLabel& statusLine_;
    QWidget& dialogParent_;
    CalibrationStore store_;
    Hooks hooks_;
    std::string deviceKey_;
    QString deviceName_;
    QString currentName_;
    bool burnOverlays_ = false;
    std::vector<QPointer<QAction>> actions_;
    std::vector<QPointer<QMenu>> calibrationMenus_;
    QTimer tick_;
    QElapsedTimer tickClock_;
    FrameCounts lastCounts_;
    FrameCounts startCounts_;
    double framesPerSecond_ = 0;
    QSize liveSize_;
    QString statusText_;
    std::function<int(CalibrateDialog&)> dialogRunner_;
};
