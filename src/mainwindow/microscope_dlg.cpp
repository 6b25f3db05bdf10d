#include "mainwindow/microscope_dlg.h"

#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <cerrno>
#include <cstring>

#include "app/debug_trace.h"
#include "capture/capture_settings.h"
#include "capture/display/video_display_window.h"
#include "capture/gst/capture_stack.h"
#include "mainwindow/device_presence.h"
#include "mainwindow/main_window_skin.h"
#include "mainwindow/record_counter_panel.h"
#include "mainwindow/recorder_settings_dialog.h"
#include "output/still_file.h"
#include "platform/device_change_monitor.h"
#include "platform/resume_watcher.h"
#include "platform/sound_player.h"
#include "skin_resources.h"

namespace {

// The system's words for an errno value, in the user's language where the C library has it.
QString SystemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// What the user is told about a storage folder that cannot be used.
QString FolderFailureText(const FolderFailure& failure) {
    return LocalizedText(
        failure.step == FolderFailure::kMake ? TextId::MakeFolderFail : TextId::WriteFolderFail,
        QString::fromStdString(failure.path), QString::fromLocal8Bit(failure.Reason().c_str()));
}

void TraceRecording(const char* line) {
    DebugTrace(0, "%s", line);
}

}  // namespace

CMicroscopeDlg::CMicroscopeDlg(StartupEnvironment environment, QWidget* parent)
    : QMainWindow(parent), environment_(std::move(environment)), recorder_(TraceRecording) {
    InitSkinResources();
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/128-%1.png").arg(size), QSize(size, size));
    }
    setWindowIcon(icon);
    clientArea_ = new SkinBackground(this);
    clientArea_->setFixedSize(kClientRect.size());
    clientArea_->installEventFilter(this);
    setCentralWidget(clientArea_);
    displayWindow_ = new VideoDisplayWindow(clientArea_);
    displayWindow_->setGeometry(kDisplayRect);
    displayWindow_->installEventFilter(this);
    counterPanel_ = new RecordCounterPanel(clientArea_);
    skin_ = new MainWindowSkin(*this, *clientArea_, *displayWindow_, [this] { return mode_; });
    connect(skin_, &MainWindowSkin::command, this, &CMicroscopeDlg::OnCommand);
    sounds_ = new SoundPlayer(this, QString::fromStdString(environment_.audioSink));
    for (WindowTimer* timer : {&recordCounterTimer_, &positionTimer_}) {
        connect(timer, &QTimer::timeout, this, [this, timer] { OnTimer(timer->id()); });
    }
}

CMicroscopeDlg::~CMicroscopeDlg() {
    // The graph stops before the views its callbacks draw into go away; the presence goes
    // before the engine it drives.
    resumeWatcher_.reset();
    deviceMonitor_.reset();
    presence_.reset();
    capture_.reset();
    // No frame reaches the recorder now; a recording still open is finished.
    (void)recorder_.CloseRecording();
}

bool CMicroscopeDlg::OnInitDialog() {
    // Program folder, language file and manual, storage tree: in this order.
    FolderFailure storageFailure;
    paths_ = FixProgramPaths(environment_, &storageFailure);

    messageTitle_ = LocalizedText(TextId::MsgTitle);
    setWindowTitle(messageTitle_);
    if (storageFailure) {
        // The live picture needs no folder, so the start goes on; the warning comes once the
        // window is up.
        const QString text = FolderFailureText(storageFailure);
        DebugTrace(0, "Storage folder unusable: %s\n", text.toLocal8Bit().constData());
        QMetaObject::invokeMethod(
            this, [this, text] { ShowWarningWithoutWaiting(text); }, Qt::QueuedConnection);
    }

    skin_->CreateSkin();
    skin_->BuildMenus();
    // Until there is playback, moving the position slider moves nothing: say so, and put the
    // thumb back.
    connect(skin_->slider(), &CSkinSlider::sliderMoved, this, [this] {
        skin_->slider()->SetPos(0);
        CommandNotAvailableYet(control::kSlider);
    });

    stillWriter_ = std::make_unique<StillWriter>(paths_.pictureFolder);
    capture_ =
        std::make_unique<CaptureStack>(environment_.simulatedKind, environment_.simulatedFrameCode);
    connect(&capture_->session(), &CaptureSession::stillArrived, this,
            &CMicroscopeDlg::OnStillArrived);
    CaptureEngine& engine = capture_->engine();
    engine.SetCapConfigPath(CapConfigPath(paths_.programFolder));
    engine.SetDisplayWindow(displayWindow_);

    PresenceHooks hooks;
    hooks.showConnected = [this](bool connected) { ShowConnected(connected); };
    hooks.repaintDisplay = [this] { displayWindow_->update(); };
    hooks.deviceLost = [this] { OnDeviceLost(); };
    presence_ = std::make_unique<DevicePresence>(
        capture_->session(), [this] { return capture_->CreateButtonLibrary(); }, std::move(hooks));
    if (presence_->FirstConnection() == 0) {
        DebugTrace(0, "No capture device is streaming\n");
    }

    deviceMonitor_ = capture_->CreateDeviceChangeMonitor();
    connect(deviceMonitor_.get(), &platform::DeviceChangeMonitor::deviceChanged, this,
            [this](platform::DeviceEvent event) { presence_->OnDeviceEvent(event); });
    resumeWatcher_ = std::make_unique<platform::ResumeWatcher>();
    connect(resumeWatcher_.get(), &platform::ResumeWatcher::resumed, this,
            [this] { presence_->OnResumed(); });

    skin_->LayOutPlaybackControls();
    return true;
}

void CMicroscopeDlg::SetMode(WindowMode mode) {
    mode_ = mode;
    skin_->ShowMode();
}

void CMicroscopeDlg::ShowConnected(bool connected) {
    // Without a device nothing is captured: a picture asked for now would be browsing.
    SetMode(connected ? WindowMode::Live : WindowMode::NoDevice);
}

void CMicroscopeDlg::OnDeviceLost() {
    // A recording ends with the device that feeds it; its file is finished and stays
    // playable. The time-lapse run is stopped here once the program has one.
    if (capture_->session().recording()) {
        EndRecording();
        if (mode_ == WindowMode::Recording) {
            SetMode(WindowMode::Live);
        }
        ShowWarningWithoutWaiting(LocalizedText(TextId::RecordingDeviceGone)
                                      .arg(QString::fromStdString(recordingFileName_)));
    }
}

void CMicroscopeDlg::OnCommand(int id) {
    OverlaySwitches& overlays = displayWindow_->overlays();
    switch (id) {
        case control::kPreview:
            OnPreviewToggle();
            break;
        case control::kCamera:
        case menucommand::kTakePicture:
            OnTakePicture();
            break;
        case control::kClock:
        case menucommand::kTimeLapse:
            OnTimeLapse();
            break;
        case control::kDecZoom:
            displayWindow_->ZoomBy(static_cast<double>(-0.2f));
            break;
        case control::kIncZoom:
            displayWindow_->ZoomBy(static_cast<double>(0.2f));
            break;
        case menucommand::kCross:
        case menucommand::kPopupCross:
            ToggleOverlay(overlays.showCrossLine);
            break;
        case menucommand::kGrid:
            ToggleOverlay(overlays.showGrid);
            break;
        case menucommand::kCircles:
            ToggleOverlay(overlays.showCircles);
            break;
        case menucommand::kClock:
            ToggleOverlay(overlays.showClock);
            break;
        case control::kHelp:
            OnHelpButton();
            break;
        case control::kMini:
            QMetaObject::invokeMethod(this, &QWidget::showMinimized, Qt::QueuedConnection);
            break;
        case control::kClose:
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
            break;
        // Buttons that are never shown, and settings pop-up items, without an action.
        case control::kFullScreen:
        case control::kHand:
        case menucommand::kVideoColor:
        case menucommand::kVideoFormat:
            break;

        // Recording, the file list and its file operations, playback, e-mail, the settings
        // dialogs, the manual and the About box.
        case control::kAvi:
        case menucommand::kTakeVideo:
            OnRecording();
            break;
        case menucommand::kCompress:
            (void)ChooseRecorderCompressor(this, recorderChoice_, capture_->session().frameWidth(),
                                           capture_->session().frameHeight());
            break;

        case control::kSave:
        case menucommand::kPopupSave:
        case menucommand::kSaveAs:
        case control::kEMail:
        case menucommand::kEMail:
        case control::kPlay:
        case control::kStop:
        case control::kOpen:
        case control::kFirst:
        case control::kLast:
        case control::kStepBack:
        case control::kStepForward:
        case menucommand::kPopupOpen:
        case menucommand::kOpen:
        case menucommand::kPopupDelete:
        case menucommand::kDelete:
        case menucommand::kPopupDeleteAll:
        case menucommand::kDeleteAll:
        case control::kSetting:
        case menucommand::kDevice:
        case menucommand::kManual:
        case menucommand::kUpdate:
        case menucommand::kAbout:
            CommandNotAvailableYet(id);
            break;
        default:
            break;
    }
}

void CMicroscopeDlg::CommandNotAvailableYet(int id) {
    DebugTrace(0, "Command %d is not available yet\n", id);
    ShowWarningWithoutWaiting(LocalizedText(TextId::NotAvailable));
}

void CMicroscopeDlg::ToggleOverlay(std::atomic<int>& overlaySwitch) {
    if (presence_ && presence_->deviceConnected() != 0) {
        overlaySwitch.store(overlaySwitch.load() != 0 ? 0 : 1);
    }
}

void CMicroscopeDlg::OnPreviewToggle() {
    CaptureEngine& engine = capture_->engine();
    switch (mode_) {
        case WindowMode::Live:
            engine.StopGraph();
            SetMode(WindowMode::Browse);
            break;
        case WindowMode::Recording:
            // Preview during a recording ends it and goes on in Live, at the device's own rate.
            EndRecording();
            capture_->session().RunAtFrameRate(0);
            SetMode(WindowMode::Live);
            break;
        case WindowMode::Browse:
            engine.RunGraph();
            SetMode(WindowMode::Live);
            break;
        case WindowMode::NoDevice:
            // The button is disabled: there is nothing to preview.
            break;
    }
    skin_->LayOutPlaybackControls();
}

void CMicroscopeDlg::OnRecording() {
    sounds_->Play(sound::kRecording);
    recordCounterTimer_.Kill();
    recordLimitSeconds_ = 0;
    recordSeconds_ = 0;
    CaptureSession& session = capture_->session();
    if (session.recording() || mode_ == WindowMode::Recording) {
        // Stop: the graph stops first, so the last frame is in the file before it is closed.
        capture_->engine().StopGraph();
        EndRecording();
        session.RunAtFrameRate(0);
        SetMode(WindowMode::Live);
        update();
        skin_->LayOutPlaybackControls();
        return;
    }
    if (presence_->deviceConnected() == 0) {
        return;  // the button is disabled without a device
    }
    RecorderSettingsDialog dialog(recorderChoice_, session.frameWidth(), session.frameHeight(),
                                  this);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    recordLimitSeconds_ = dialog.recordLimitSeconds();
    if (!StartRecording(dialog.frameRate())) {
        // The capture runs on at the device's own rate; the counter never started.
        if (capture_->engine().running()) {
            SetMode(WindowMode::Live);
        }
        return;
    }
    recordCounterTimer_.Set(1000);
    SetMode(WindowMode::Recording);
    skin_->LayOutPlaybackControls();
}

bool CMicroscopeDlg::StartRecording(int framesPerSecond) {
    CaptureSession& session = capture_->session();
    session.RunAtFrameRate(framesPerSecond);
    // The video folder is made again if it went away while the program ran.
    (void)CreateStorageFolders(environment_.documentsFolder);
    const std::string path = NextRecordingPath(paths_.videoFolder, videoCounter_);
    const IoResult opened =
        recorder_.OpenRecording(path, session.frameWidth(), session.frameHeight(), framesPerSecond,
                                recorderChoice_.options);
    if (!opened.ok()) {
        const std::string text =
            RecordingOpenMessage(recorder_.openFailedAt(), opened, videoCounter_);
        DebugTrace(0, "Recording not opened: %s\n", text.c_str());
        session.RunAtFrameRate(0);
        QMessageBox box(QMessageBox::Critical, QStringLiteral("AVI Capture"),
                        QString::fromLocal8Bit(text.c_str()), QMessageBox::Ok, this);
        box.exec();
        return false;
    }
    recordingFileName_ = path;
    recordingRate_ = framesPerSecond;
    session.SetRecordingSink(&recorder_);
    session.SetRecording(true);
    DebugTrace(0, "Recording %s at %d frames a second\n", path.c_str(), framesPerSecond);
    return true;
}

RecordingOutcome CMicroscopeDlg::EndRecording() {
    recordCounterTimer_.Kill();
    counterPanel_->hide();  // shown again by the time limit's last count
    CaptureSession& session = capture_->session();
    if (!session.recording()) {
        return recorder_.CloseRecording();
    }
    session.SetRecording(false);
    const RecordingOutcome outcome = recorder_.CloseRecording();
    DebugTrace(0, "Recording %s closed: %lld frames written, %lld dropped\n",
               recordingFileName_.c_str(), static_cast<long long>(outcome.framesWritten),
               static_cast<long long>(outcome.framesDropped));
    // The file list takes the new video here once the program has one.
    return outcome;
}

void CMicroscopeDlg::OnRecordCounter() {
    if (!recorder_.status().ok()) {
        OnRecordingFailed();
        return;
    }
    ++recordSeconds_;
    const bool limitReached = recordSeconds_ >= recordLimitSeconds_;
    if (limitReached) {
        // The recording ends and Live goes on; half a second later the time-limit sound
        // plays and the counter goes away.
        EndRecording();
        capture_->session().RunAtFrameRate(0);
        SetMode(WindowMode::Live);
        skin_->LayOutPlaybackControls();
        QTimer::singleShot(500, this, [this] {
            sounds_->Play(sound::kTimeLimit);
            if (!capture_->session().recording()) {
                counterPanel_->hide();
            }
        });
    }
    if (skin_->fullScreenMode()) {
        counterPanel_->hide();
    } else {
        counterPanel_->ShowSeconds(recordSeconds_, LocalizedText(TextId::CounterSecond));
    }
}

void CMicroscopeDlg::OnRecordingFailed() {
    const IoResult failure = recorder_.status();
    const RecordingOutcome outcome = EndRecording();
    capture_->session().RunAtFrameRate(0);
    SetMode(WindowMode::Live);
    skin_->LayOutPlaybackControls();
    const int keptSeconds =
        recordingRate_ > 0 ? static_cast<int>(outcome.framesWritten / recordingRate_) : 0;
    const QString text =
        LocalizedText(TextId::RecordingStopped, QString::fromStdString(recordingFileName_),
                      SystemReason(failure.error())) +
        QStringLiteral("\n") + LocalizedText(TextId::RecordingKept).arg(keptSeconds);
    DebugTrace(0, "Recording failed: %s\n", text.toLocal8Bit().constData());
    ShowWarningWithoutWaiting(text);
}

void CMicroscopeDlg::OnTakePicture() {
    if (!Capturing()) {
        ShowMessage(TextId::BrowseToCamera);
        return;
    }
    capture_->session().RequestStill(StillSource::CameraButton);
}

void CMicroscopeDlg::OnTimeLapse() {
    if (!Capturing()) {
        ShowMessage(TextId::BrowseToTimer);
        return;
    }
    CommandNotAvailableYet(control::kClock);
}

void CMicroscopeDlg::OnHelpButton() {
    CBitmapButton* button = skin_->Button(control::kHelp);
    if (button != nullptr && skin_->menus().helpPopup) {
        skin_->menus().helpPopup->popup(button->mapToGlobal(QPoint(0, button->height())));
    }
}

void CMicroscopeDlg::ShowMessage(TextId text) {
    QMessageBox box(QMessageBox::Warning, messageTitle_, LocalizedText(text), QMessageBox::Ok,
                    this);
    box.exec();
}

QMessageBox* CMicroscopeDlg::openWarning() const {
    return openWarning_ && openWarning_->isVisible() ? openWarning_.data() : nullptr;
}

void CMicroscopeDlg::ShowWarningWithoutWaiting(const QString& text) {
    if (openWarning() != nullptr) {
        DebugTrace(0, "Warning not shown while another is open: %s\n",
                   text.toLocal8Bit().constData());
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, messageTitle_, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    openWarning_ = box;
    box->open();
}

void CMicroscopeDlg::OnTimer(int id) {
    if (id == timerid::kRecordCounter) {
        OnRecordCounter();
        return;
    }
    // The playback position comes with playback.
    DebugTrace(0, "Timer %d has nothing to do yet\n", id);
}

void CMicroscopeDlg::OnStillArrived() {
    CaptureSession& session = capture_->session();
    const bool requested = session.StillPending();
    FolderFailure folderFailure;
    if (requested) {
        // Folders deleted while the program runs are made again before the still is written.
        folderFailure = CreateStorageFolders(environment_.documentsFolder).failure;
    }
    const std::optional<KeptStill> kept = session.TakeStill();
    const IoResult result = kept ? stillWriter_->SaveStillBitmap(kept->View()) : IoResult();
    const bool saved = kept && result.ok();
    if (saved) {
        // The file list takes the new still here once the program has one.
        stillWriter_->AdvanceCounter();
    }
    if (requested && !saved) {
        // No shutter for a still that is not there, but the reason. The video folder alone
        // does not explain a failed still.
        QString text;
        if (folderFailure && folderFailure.path != paths_.videoFolder) {
            text = FolderFailureText(folderFailure);
        } else {
            const int error = result.error();
            // An unusable frame never got as far as a file name.
            const std::string& target =
                error == EINVAL ? paths_.pictureFolder : stillWriter_->stillFileName();
            text = LocalizedText(TextId::SaveStillFail, QString::fromStdString(target),
                                 SystemReason(error));
        }
        DebugTrace(0, "Still not saved: %s\n", text.toLocal8Bit().constData());
        ShowWarningWithoutWaiting(text);
        return;
    }
    if (requested) {
        sounds_->Play(sound::kShutter);
    }
}

bool CMicroscopeDlg::eventFilter(QObject* watched, QEvent* event) {
    if (skin_ == nullptr || (watched != displayWindow_ && watched != clientArea_)) {
        return QMainWindow::eventFilter(watched, event);
    }
    if (event->type() != QEvent::MouseButtonDblClick && event->type() != QEvent::MouseButtonPress) {
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (watched == clientArea_) {
        // A click on a category tab shows that category.
        if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton &&
            !skin_->fullScreenMode()) {
            if (const std::optional<MediaKind> kind =
                    MainWindowSkin::CategoryAt(mouse->position().toPoint())) {
                skin_->SwitchCategory(*kind);
                return true;
            }
        }
        return false;
    }
    if (event->type() == QEvent::MouseButtonDblClick && mouse->button() == Qt::LeftButton) {
        if (skin_->fullScreenMode()) {
            skin_->LeaveFullScreen();
        } else {
            skin_->EnterFullScreen();
        }
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress && mouse->button() == Qt::RightButton &&
        skin_->menus().displayPopup) {
        skin_->menus().displayPopup->popup(mouse->globalPosition().toPoint());
        return true;
    }
    return false;
}

void CMicroscopeDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            if (skin_->fullScreenMode()) {
                skin_->LeaveFullScreen();
            }
            event->accept();
            return;
        case Qt::Key_F11:
            // What full screen is on most Linux desktops.
            if (skin_->fullScreenMode()) {
                skin_->LeaveFullScreen();
            } else {
                skin_->EnterFullScreen();
            }
            event->accept();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            return;
        case Qt::Key_WebCam:
        case Qt::Key_Camera:
            if (presence_) {
                presence_->NoteCameraKey();
            }
            event->accept();
            return;
        default:
            QMainWindow::keyPressEvent(event);
    }
}

void CMicroscopeDlg::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (skin_ != nullptr && event->type() == QEvent::WindowStateChange) {
        skin_->WindowStateChanged();
    }
}

void CMicroscopeDlg::closeEvent(QCloseEvent* event) {
    DebugTrace(0, "Main window closing\n");
    if (!shutDown_ && presence_) {
        shutDown_ = true;
        // No device or power event reaches a closing window.
        resumeWatcher_.reset();
        deviceMonitor_.reset();
        presence_->buttonPollTimer().Kill();
        presence_->connectionTimer().Kill();
        recordCounterTimer_.Kill();
        positionTimer_.Kill();
        presence_->CaptureShutdown();
        DebugTrace(0, "Capture shut down\n");
    }
    if (QMessageBox* box = openWarning()) {
        box->close();
    }
    event->accept();
}
