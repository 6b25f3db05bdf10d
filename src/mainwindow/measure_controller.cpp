#include "mainwindow/measure_controller.h"

#include <QAction>
#include <QActionGroup>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <algorithm>
#include <cmath>

#include "app/debug_trace.h"
#include "app/text_table.h"
#include "capture/display/video_display_window.h"
#include "mainwindow/calibrate_dialog.h"
#include "mainwindow/main_menus.h"

namespace {

using PointerTool = VideoDisplayWindow::PointerTool;

constexpr int kTickMilliseconds = 1000;
const QString kSeparator = QStringLiteral("  \u00B7  ");

// Below this a picture's recorded resolution is a print or screen density (72 to 1200 dots
// an inch), not a scale a microscope's picture was taken at.
constexpr int kMinRecordedPixelsPerMetre = 50000;

QString SizeText(QSize size) {
    return QStringLiteral("%1 x %2").arg(size.width()).arg(size.height());
}

// The scale a picture records in its header, when it is one a microscope gives.
PictureScale RecordedScale(QSize pixelsPerMetre) {
    if (pixelsPerMetre.width() < kMinRecordedPixelsPerMetre ||
        pixelsPerMetre.height() < kMinRecordedPixelsPerMetre) {
        return {};
    }
    PictureScale scale;
    scale.xMicrometresPerPixel = 1e6 / pixelsPerMetre.width();
    scale.yMicrometresPerPixel = 1e6 / pixelsPerMetre.height();
    return scale;
}

}  // namespace

MeasureController::MeasureController(VideoDisplayWindow& display, QLabel& statusLine,
                                     QWidget& dialogParent, CalibrationStore store, Hooks hooks)
    : display_(display),
      statusLine_(statusLine),
      dialogParent_(dialogParent),
      store_(std::move(store)),
      hooks_(std::move(hooks)) {
    connect(&display_, &VideoDisplayWindow::lineDrawn, this, &MeasureController::OnLineDrawn);
    connect(&display_, &VideoDisplayWindow::pictureChanged, this, &MeasureController::Refresh);
    tick_.setInterval(kTickMilliseconds);
    connect(&tick_, &QTimer::timeout, this, &MeasureController::Refresh);
    tick_.start();
    tickClock_.start();
}

MeasureController::~MeasureController() = default;

void MeasureController::LoadCalibrations() {
    if (!store_.Load() && !store_.error().isEmpty()) {
        const QString text =
            LocalizedText(TextId::CalibrateReadFail, store_.filePath(), store_.error());
        DebugTrace(0, "%s\n", text.toLocal8Bit().constData());
        if (hooks_.warn) {
            hooks_.warn(text);
        }
    }
    currentName_ = deviceKey_.empty() ? QString() : store_.Current(deviceKey_);
    Refresh();
}

void MeasureController::SetDevice(const std::string& deviceKey, const QString& deviceName) {
    deviceName_ = deviceName;
    if (deviceKey == deviceKey_) {
        return;
    }
    deviceKey_ = deviceKey;
    currentName_ = store_.Current(deviceKey_);
    Refresh();
}

void MeasureController::BindMenus(std::initializer_list<QWidget*> menus) {
    for (QWidget* menu : menus) {
        if (menu == nullptr) {
            continue;
        }
        for (const int id :
             {menucommand::kMeasure, menucommand::kScaleBar, menucommand::kBurnOverlays}) {
            if (QAction* action = FindCommand(*menu, id)) {
                action->setCheckable(true);
                actions_.emplace_back(action);
            }
        }
        if (QAction* action = FindCommand(*menu, menucommand::kCalibrationMenu)) {
            if (QMenu* sub = action->menu()) {
                calibrationMenus_.emplace_back(sub);
                connect(sub, &QMenu::aboutToShow, this, [this, sub] { FillCalibrationMenu(*sub); });
                FillCalibrationMenu(*sub);
            }
        }
    }
    SyncMenus();
}

void MeasureController::SyncMenus() {
    for (const QPointer<QAction>& action : actions_) {
        if (action == nullptr) {
            continue;
        }
        switch (action->data().toInt()) {
            case menucommand::kMeasure:
                action->setChecked(display_.pointerTool() == PointerTool::kMeasure);
                break;
            case menucommand::kScaleBar:
                action->setChecked(display_.scaleBarShown());
                break;
            case menucommand::kBurnOverlays:
                action->setChecked(burnOverlays_);
                break;
            default:
                break;
        }
    }
}

// "None (pixels)", then the device's calibration names, each once, the current one checked.
void MeasureController::FillCalibrationMenu(QMenu& menu) {
    menu.clear();
    auto* group = new QActionGroup(&menu);
    const auto add = [&](const QString& text, const QString& name) {
        QAction* action = menu.addAction(text);
        action->setCheckable(true);
        action->setChecked(name == currentName_);
        action->setData(name);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, name] { ChooseCalibration(name); });
    };
    add(LocalizedText(TextId::PopupDisplayNoCalibration), QString());
    QStringList names;
    for (const Calibration& calibration : store_.ForDevice(deviceKey_)) {
        if (!names.contains(calibration.name)) {
            names.append(calibration.name);
        }
    }
    if (!names.isEmpty()) {
        menu.addSeparator();
    }
    for (const QString& name : names) {
        add(name, name);
    }
}

void MeasureController::OnCommand(int id) {
    switch (id) {
        case menucommand::kMeasure:
            SetTool(static_cast<int>(display_.pointerTool() == PointerTool::kMeasure
                                         ? PointerTool::kPan
                                         : PointerTool::kMeasure));
            break;
        case menucommand::kCalibrate:
            SetTool(static_cast<int>(PointerTool::kCalibrate));
            break;
        case menucommand::kScaleBar:
            display_.SetScaleBarShown(!display_.scaleBarShown());
            break;
        case menucommand::kBurnOverlays:
            burnOverlays_ = !burnOverlays_;
            break;
        default:
            return;
    }
    SyncMenus();
    ShowStatus();
}

void MeasureController::SetTool(int tool) {
    display_.SetPointerTool(static_cast<PointerTool>(tool));
    SyncMenus();
    ShowStatus();
}

bool MeasureController::EndTool() {
    if (display_.pointerTool() == PointerTool::kPan) {
        return false;
    }
    SetTool(static_cast<int>(PointerTool::kPan));
    return true;
}

void MeasureController::ChooseCalibration(const QString& name) {
    currentName_ = name;
    if (!deviceKey_.empty() && !store_.SetCurrent(deviceKey_, name)) {
        DebugTrace(0, "Current calibration not kept: %s\n",
                   store_.error().toLocal8Bit().constData());
    }
    Refresh();
}

PictureScale MeasureController::ScaleFor(QSize frameSize) const {
    if (currentName_.isEmpty() || deviceKey_.empty() || frameSize.isEmpty()) {
        return {};
    }
    return store_.ScaleOf(deviceKey_, currentName_, frameSize);
}

void MeasureController::OnLineDrawn(QLineF line, QSize frameSize) {
    if (display_.pointerTool() != PointerTool::kCalibrate) {
        ShowStatus();  // the measured length
        return;
    }
    Calibrate(line, frameSize);
}

void MeasureController::Calibrate(QLineF line, QSize frameSize) {
    const double pixels = line.length();
    if (!(pixels >= 1.0)) {
        if (hooks_.warn) {
            hooks_.warn(LocalizedText(TextId::CalibrateNoLine));
        }
        display_.ClearMeasuredLine();
        return;
    }
    QStringList names;
    if (!currentName_.isEmpty()) {
        names.append(currentName_);
    }
    for (const Calibration& calibration : store_.ForDevice(deviceKey_)) {
        if (!names.contains(calibration.name)) {
            names.append(calibration.name);
        }
    }
    CalibrateDialog dialog(
        pixels, names,
        [this, frameSize](const QString& name) {
            return store_.Contains(deviceKey_, name, frameSize);
        },
        hooks_.messageTitle, &dialogParent_);
    const int answer = dialogRunner_ ? dialogRunner_(dialog) : dialog.exec();
    if (answer != QDialog::Accepted) {
        display_.ClearMeasuredLine();  // drawn again for another try
        return;
    }
    Calibration calibration;
    calibration.device = deviceKey_;
    calibration.name = dialog.name();
    calibration.resolution = frameSize;
    calibration.micrometresPerPixel = dialog.micrometresPerPixel();
    if (!store_.Save(calibration)) {
        const QString text =
            LocalizedText(TextId::CalibrateSaveFail, store_.filePath(), store_.error());
        DebugTrace(0, "%s\n", text.toLocal8Bit().constData());
        if (hooks_.warn) {
            hooks_.warn(text);
        }
        return;
    }
    DebugTrace(0, "Calibrated %s at %dx%d: %.6g um/px\n", calibration.name.toUtf8().constData(),
               frameSize.width(), frameSize.height(), calibration.micrometresPerPixel);
    // The new calibration is the current one, and the tool is done.
    SetTool(static_cast<int>(PointerTool::kPan));
    ChooseCalibration(calibration.name);
}

void MeasureController::RestartCounts() {
    startCounts_ = hooks_.frameCounts ? hooks_.frameCounts() : FrameCounts{};
    lastCounts_ = startCounts_;
    tickClock_.restart();
    framesPerSecond_ = 0;
}

void MeasureController::Refresh() {
    const bool live = hooks_.live && hooks_.live();
    // The rate is taken over about a second: a refresh between the ticks (a change of mode or
    // picture) leaves it as it was.
    if (live && tickClock_.elapsed() >= kTickMilliseconds / 2) {
        const FrameCounts counts = hooks_.frameCounts ? hooks_.frameCounts() : FrameCounts{};
        const qint64 elapsed = tickClock_.restart();
        if (counts.delivered >= lastCounts_.delivered) {
            framesPerSecond_ = 1000.0 *
                               static_cast<double>(counts.delivered - lastCounts_.delivered) /
                               static_cast<double>(elapsed);
        }
        // A grabber made anew counts its drops from 0.
        if (counts.dropped < lastCounts_.dropped) {
            startCounts_.dropped = 0;
        }
        lastCounts_ = counts;
    }
    if (live) {
        liveSize_ = display_.ShownFrameSize();
    }
    const QSize liveSize = live ? display_.ShownFrameSize() : liveSize_;
    display_.SetLiveScale(ScaleFor(liveSize));
    if (!live && display_.hasPicture()) {
        // A still records the scale it was taken at; any other picture is measured with the
        // current calibration.
        const PictureScale recorded = RecordedScale(display_.picturePixelsPerMetre());
        display_.SetPictureScale(recorded.valid() ? recorded : ScaleFor(display_.ShownFrameSize()));
    }
    ShowStatus();
}

QString MeasureController::CalibrationStatus(const PictureScale& scale) const {
    if (!scale.valid()) {
        return LocalizedText(TextId::StatusNotCalibrated);
    }
    // A scale a picture records has no name.
    const QString perPixel = LengthText(scale.xMicrometresPerPixel) + QStringLiteral("/px");
    QString text =
        scale.name.isEmpty() ? perPixel : QStringLiteral("%1: %2").arg(scale.name, perPixel);
    if (!scale.scaledFrom.isEmpty()) {
        text += QStringLiteral(" (%1)").arg(
            LocalizedText(TextId::StatusScaledFrom).arg(SizeText(scale.scaledFrom)));
    }
    return text;
}

void MeasureController::ShowStatus() {
    QStringList parts;
    const PointerTool tool = display_.pointerTool();
    const bool live = hooks_.live && hooks_.live();
    if (tool == PointerTool::kCalibrate) {
        parts.append(LocalizedText(TextId::CalibrateHint));
    } else if (live) {
        const QSize size = display_.ShownFrameSize();
        if (!size.isEmpty()) {
            parts.append(SizeText(size));
        }
        parts.append(LocalizedText(TextId::StatusFramesPerSecond)
                         .arg(QLocale().toString(framesPerSecond_, 'f', 1)));
        const std::uint64_t dropped = lastCounts_.dropped >= startCounts_.dropped
                                          ? lastCounts_.dropped - startCounts_.dropped
                                          : 0;
        parts.append(LocalizedText(TextId::StatusDropped).arg(dropped));
        parts.append(CalibrationStatus(display_.liveScale()));
    } else if (display_.hasPicture()) {
        const QSize size = display_.ShownFrameSize();
        parts.append(SizeText(size));
        const PictureScale& scale = display_.pictureScale();
        if (scale.valid()) {
            parts.append(QStringLiteral("%1 x %2").arg(
                LengthText(size.width() * scale.xMicrometresPerPixel),
                LengthText(size.height() * scale.yMicrometresPerPixel)));
        }
        parts.append(CalibrationStatus(scale));
    }
    if (tool == PointerTool::kMeasure) {
        parts.append(display_.measuredLine() ? display_.measuredLabel()
                                             : LocalizedText(TextId::MeasureHint));
    }
    statusText_ = parts.join(kSeparator);
    statusLine_.setText(statusText_);
}
