#include "mainwindow/microscope_dlg.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QStandardPaths>
#include <QUrl>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <utility>

#include "app/debug_trace.h"
#include "browser/file_operations.h"
#include "browser/picture_loader.h"
#include "browser/thumbnail_cache.h"
#include "browser/thumbnail_list.h"
#include "capture/capture_settings.h"
#include "capture/display/video_display_window.h"
#include "capture/gst/capture_stack.h"
#include "mainwindow/about_dialog.h"
#include "mainwindow/device_presence.h"
#include "mainwindow/mail_send_dialog.h"
#include "mainwindow/main_window_skin.h"
#include "mainwindow/measure_controller.h"
#include "mainwindow/record_counter_panel.h"
#include "mainwindow/recorder_settings_dialog.h"
#include "mainwindow/time_lapse_dialog.h"
#include "mainwindow/video_settings_dialog.h"
#include "output/burned_overlays.h"
#include "output/mail_handoff.h"
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

constexpr int kPositionTimerMs = 50;

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
    // Played frames reach the display only while a video is browsed.
    player_.SetWindows(this, [this](const QImage& frame, QSize videoSize) {
        if (!Capturing() && fileList_ != nullptr && fileList_->mediaKind() == MediaKind::Videos) {
            displayWindow_->ShowVideoFrame(frame, videoSize);
        }
    });
    // Frames come at the size they are shown at.
    connect(displayWindow_, &VideoDisplayWindow::pictureTargetSizeChanged, &player_,
            &CMoviePlayer::SetFrameSize);
}

CMicroscopeDlg::~CMicroscopeDlg() {
    player_.Close();
    // The graph stops before the views its callbacks draw into go away; the presence goes
    // before the engine it drives.
    resumeWatcher_.reset();
    deviceMonitor_.reset();
    presence_.reset();
    capture_.reset();
    // The list asks the cache for thumbnails until it goes.
    delete fileList_;
    fileList_ = nullptr;
    thumbnails_.reset();
    // No frame reaches the recorder now; a recording still open is finished.
    (void)recorder_.CloseRecording();
}

bool CMicroscopeDlg::OnInitDialog() {
    // Program folder, language file and manual, storage tree: in this order.
    FolderFailure storageFailure;
    paths_ = FixProgramPaths(environment_, &storageFailure);
    DebugTrace(0, "Language file: %s\n", paths_.languageFilePath.c_str());
    DebugTrace(0, "Manual: %s\n", paths_.helpFilePath.c_str());

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
    skin_->EnableCommand(menucommand::kUpdate, !environment_.homepage.empty());

    // The status line: the bottom of the strip under the picture, below the zoom buttons and
    // the recording counter; a hint too long for one row wraps upwards.
    statusLine_ = new QLabel(clientArea_);
    statusLine_->setObjectName(QStringLiteral("statusLine"));
    statusLine_->setGeometry(kStatusLineRect);
    statusLine_->setStyleSheet(QStringLiteral("color: #c8ccd0; background: transparent;"));
    statusLine_->setTextFormat(Qt::PlainText);
    statusLine_->setWordWrap(true);
    statusLine_->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    // It may lie over the lower edge of the playback buttons: clicks go through to them.
    statusLine_->setAttribute(Qt::WA_TransparentForMouseEvents);
    statusLine_->show();
    MeasureController::Hooks measureHooks;
    measureHooks.live = [this] { return Capturing(); };
    measureHooks.frameCounts = [this] {
        return FrameCounts{displayWindow_->framesDrawn(), capture_ ? capture_->droppedFrames() : 0};
    };
    // Queued: at start-up the window is not up yet.
    measureHooks.warn = [this](const QString& text) {
        QMetaObject::invokeMethod(
            this, [this, text] { ShowWarningWithoutWaiting(text); }, Qt::QueuedConnection);
    };
    measureHooks.messageTitle = messageTitle_;
    measure_ = std::make_unique<MeasureController>(
        *displayWindow_, *statusLine_, *this,
        environment_.calibrationFile.empty()
            ? CalibrationStore()
            : CalibrationStore(QString::fromStdString(environment_.calibrationFile)),
        std::move(measureHooks));
    measure_->BindMenus({static_cast<QWidget*>(menuBar()), skin_->menus().displayPopup.get()});
    measure_->LoadCalibrations();

    // The captured files, with thumbnails made on a worker thread.
    thumbnails_ = std::make_unique<ThumbnailCache>(LoadThumbnailImage);
    fileList_ = new CThumbnailList(
        paths_.pictureFolder, paths_.videoFolder, LoadSkinImage(skinimage::kPictureListBackground),
        LoadSkinImage(skinimage::kVideoListBackground), *thumbnails_, skin_->fileListArea());
    fileList_->setObjectName(QStringLiteral("thumbnailList"));
    fileList_->setGeometry(QRect(QPoint(0, 0), kFileListRect.size()));
    fileList_->show();
    connect(fileList_, &CThumbnailList::itemHit, this, &CMicroscopeDlg::OnFileListHit);
    mailAttachments_ = std::make_unique<MailAttachments>();
    SkinHooks skinHooks;
    skinHooks.hasSelectedItem = [this] {
        std::string path;
        return fileList_->GetSelectedPath(path) != 0;
    };
    skinHooks.composePage = [this](MediaKind kind) { fileList_->SetMediaKind(kind); };
    skinHooks.showSelected = [this] { ShowSelected(); };
    skinHooks.stopPlayback = [this] { StopPlayback(); };
    skinHooks.startPlayback = [this] { OnPlayback(); };
    skin_->SetHooks(std::move(skinHooks));
    // A drag on the position slider seeks when it ends, not while it moves.
    connect(skin_->slider(), &CSkinSlider::sliderMoved, this,
            [this](int, int position) { player_.SetPosition(position * 0.1); });
    skin_->slider()->SetRange(0, 0, false);
    EnableTransportButtons();

    stillWriter_ = std::make_unique<StillWriter>(paths_.pictureFolder);
    capture_ =
        std::make_unique<CaptureStack>(environment_.simulatedKind, environment_.simulatedFrameCode,
                                       environment_.simulatedStateFile);
    connect(&capture_->session(), &CaptureSession::stillArrived, this,
            &CMicroscopeDlg::OnStillArrived);
    CaptureEngine& engine = capture_->engine();
    engine.SetCapConfigPath(CapConfigPath(paths_.programFolder));
    engine.SetDisplayWindow(displayWindow_);

    PresenceHooks hooks;
    hooks.showConnected = [this](bool connected) { ShowConnected(connected); };
    hooks.repaintDisplay = [this] { displayWindow_->update(); };
    hooks.deviceLost = [this] { OnDeviceLost(); };
    hooks.refreshSettingsDialog = [this](bool) {
        // Queued either way: the dialog fills itself once the connection check is over.
        if (videoSettingsDialog_ != nullptr) {
            videoSettingsDialog_->InitialiseLater();
        }
    };
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
            &CMicroscopeDlg::OnResumed);

    skin_->LayOutPlaybackControls();
    return true;
}

void CMicroscopeDlg::SetMode(WindowMode mode) {
    if (IsCapturing(mode)) {
        // The live picture takes the display: no video plays behind it.
        ClosePlayerOf({});
    }
    const bool started = IsCapturing(mode) && !IsCapturing(mode_);
    mode_ = mode;
    skin_->ShowMode();
    if (measure_) {
        if (started) {
            measure_->RestartCounts();
        }
        measure_->Refresh();
    }
}

void CMicroscopeDlg::ShowConnected(bool connected) {
    if (connected) {
        NoteCurrentDevice();
    }
    // Without a device nothing is captured: a picture asked for now would be browsing.
    SetMode(connected ? WindowMode::Live : WindowMode::NoDevice);
}

void CMicroscopeDlg::OnResumed() {
    // The series lost its rhythm while the computer slept, and the device is connected
    // again.
    if (timeLapseDialog_ != nullptr) {
        timeLapseDialog_->StopRun(LocalizedText(TextId::TimeLapseResumed));
    }
    presence_->OnResumed();
}

void CMicroscopeDlg::OnDeviceLost() {
    // A recording ends with the device that feeds it; its file is finished and stays
    // playable. A time-lapse run stops too.
    if (timeLapseDialog_ != nullptr) {
        timeLapseDialog_->StopRun(LocalizedText(TextId::TimeLapseDeviceGone));
    }
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
        case menucommand::kMeasure:
        case menucommand::kCalibrate:
        case menucommand::kScaleBar:
        case menucommand::kBurnOverlays:
            measure_->OnCommand(id);
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
            OnSaveAs();
            break;
        case control::kEMail:
        case menucommand::kEMail:
            OnEMail();
            break;
        case menucommand::kPopupOpen:
        case menucommand::kOpen:
            OnOpenExternally();
            break;
        case menucommand::kPopupDelete:
        case menucommand::kDelete:
            OnDeleteSelected();
            break;
        case menucommand::kPopupDeleteAll:
        case menucommand::kDeleteAll:
            OnDeleteAll();
            break;

        case control::kPlay:
            OnPlayback();
            break;
        case control::kStop:
            StopPlayback();
            break;
        case control::kOpen:
            OnOpenVideo();
            break;
        case control::kFirst:
        case control::kLast:
        case control::kStepBack:
        case control::kStepForward:
            OnStep(id);
            break;

        case control::kSetting:
        case menucommand::kDevice:
            OnVideoSettings();
            break;
        case menucommand::kManual:
            OnManual();
            break;
        case menucommand::kUpdate:
            OnUpdate();
            break;
        case menucommand::kAbout:
            OnAbout();
            break;
        default:
            break;
    }
}

void CMicroscopeDlg::OnManual() {
    // The desktop's viewer shows whatever it makes of a missing file; the trace says so too.
    const QString path = QString::fromStdString(paths_.helpFilePath);
    if (!QFileInfo(path).isReadable()) {
        DebugTrace(0, "Manual not found: %s\n", paths_.helpFilePath.c_str());
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(path))) {
        DebugTrace(0, "No viewer opened the manual %s\n", paths_.helpFilePath.c_str());
    }
}

void CMicroscopeDlg::OnUpdate() {
    // The menu item is disabled when the build names no address.
    if (environment_.homepage.empty()) {
        return;
    }
    if (!QDesktopServices::openUrl(QUrl(QString::fromStdString(environment_.homepage)))) {
        DebugTrace(0, "No browser opened %s\n", environment_.homepage.c_str());
    }
}

void CMicroscopeDlg::OnAbout() {
    AboutDialog dialog(this);
    dialog.exec();
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
            ClosePlayerOf({});
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
    // Whatever the recording kept is a video to browse.
    std::error_code error;
    if (std::filesystem::is_regular_file(recordingFileName_, error)) {
        fileList_->AddVideo(recordingFileName_);
    }
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
    CaptureSession& session = capture_->session();
    // A picture whose predecessor of the series is still waiting for its frame: that one
    // never came, and counts as missed.
    const auto requestStill = [&session] {
        const bool previousMissing = session.PendingStill() == StillSource::TimeLapse;
        session.RequestStill(StillSource::TimeLapse);
        return !previousMissing;
    };
    TimeLapseDialog dialog(*timeLapseClock_, session.frameWidth(), session.frameHeight(),
                           requestStill, this);
    timeLapseDialog_ = &dialog;
    dialog.exec();
    timeLapseDialog_ = nullptr;
}

void CMicroscopeDlg::OnVideoSettings() {
    VideoSettingsDialog dialog(
        capture_->engine(), [this](int slot) { SwitchDevice(slot); },
        capture_->session().recording(), this);
    videoSettingsDialog_ = &dialog;
    dialog.exec();
    videoSettingsDialog_ = nullptr;
}

void CMicroscopeDlg::NoteCurrentDevice() {
    // Calibrations belong to the device in use.
    if (const CaptureDeviceEntry* entry = capture_->engine().CurrentEntry(); entry && measure_) {
        measure_->SetDevice(CalibrationDeviceKey(entry->devicePath, entry->friendlyName),
                            QString::fromStdString(entry->friendlyName));
    }
}

void CMicroscopeDlg::SwitchDevice(int slot) {
    CaptureEngine& engine = capture_->engine();
    engine.SelectDevice(slot);
    NoteCurrentDevice();
    if (!engine.running()) {
        // The new device did not start: the window goes where a connection check takes it.
        presence_->ConnectionCheck();
    } else if (!Capturing()) {
        engine.StopGraph();
    }
}

void CMicroscopeDlg::OnFileListHit(Qt::MouseButton button, bool doubleClick,
                                   const QPoint& globalPoint) {
    if (doubleClick) {
        // A double click always ends in Browse, with the item on the display.
        if (mode_ == WindowMode::Recording) {
            OnRecording();
        }
        if (mode_ == WindowMode::Live) {
            OnPreviewToggle();
        }
    }
    ShowSelected();
    if (button == Qt::RightButton && !doubleClick && skin_->menus().filePopup) {
        skin_->menus().filePopup->popup(globalPoint);
    }
}

void CMicroscopeDlg::ShowSelected() {
    std::string path;
    if (fileList_->GetSelectedPath(path) == 0) {
        return;  // the display keeps what it shows
    }
    if (fileList_->DropMissingFile(path)) {
        // Deleted behind the program's back: the list closes up and the display keeps the
        // picture it had.
        if (!Capturing() && !viewerPath_.empty()) {
            displayWindow_->ShowPicture(viewerImage_);
        }
        return;
    }
    const bool picture = fileList_->mediaKind() == MediaKind::Pictures;
    if (!picture && skin_->Toggle(control::kPlay)->IsOn() != 0) {
        StopPlayback();
    }
    const IoResult loaded =
        picture ? LoadPictureFile(path, viewerImage_) : LoadFirstVideoFrame(path, viewerImage_);
    if (loaded.ok()) {
        viewerPath_ = path;
    } else {
        DebugTrace(0, "Cannot show %s: %s\n", path.c_str(),
                   SystemReason(loaded.error()).toLocal8Bit().constData());
    }
    // While capturing, the display keeps the live picture; the record holds the item for
    // when browsing starts.
    if (Capturing()) {
        return;
    }
    if (!viewerPath_.empty()) {
        displayWindow_->ShowPicture(viewerImage_);
    }
    // A video whose first frame could not be read is still tried: the player says why it
    // cannot play it, or plays it.
    if (!picture) {
        OpenForPlayback();
    }
}

void CMicroscopeDlg::OpenForPlayback() {
    std::string source = externalVideoPath_;
    if (source.empty() &&
        (fileList_->mediaKind() != MediaKind::Videos || fileList_->GetSelectedPath(source) == 0)) {
        return;
    }
    const IoResult opened = player_.Open(source);
    player_.SetFrameSize(displayWindow_->PictureTargetSize());
    double duration = 0.0;
    player_.GetDuration(duration);
    CSkinSlider& slider = *skin_->slider();
    slider.SetRangeMin(0, false);
    slider.SetRangeMax(static_cast<int>(std::trunc(duration * 10.0)), true);
    slider.SetPos(0);
    if (!opened.ok()) {
        const QString reason = opened.detail().empty() ? SystemReason(opened.error())
                                                       : QString::fromUtf8(opened.detail().c_str());
        ShowWarningWithoutWaiting(LocalizedText(
            TextId::PlayFileFail, QFile::decodeName(QByteArray::fromStdString(source)), reason));
    }
}

void CMicroscopeDlg::OnPlayback() {
    CToggleBitmapButton& play = *skin_->Toggle(control::kPlay);
    std::string selected;
    if (play.IsOn() != 0) {
        play.SetOff();
        player_.Pause();
        positionTimer_.Kill();
    } else if (!Capturing() && fileList_->GetSelectedPath(selected) != 0) {
        if (!player_.isOpen()) {
            // Closed by the live picture, a delete or a save since it was opened.
            OpenForPlayback();
        }
        if (player_.isOpen()) {
            play.SetOn();
            player_.Run();
            positionTimer_.Set(kPositionTimerMs);
        }
    }
    EnableTransportButtons();
}

void CMicroscopeDlg::StopPlayback() {
    ResetTransport();
    player_.Pause();
    player_.SetPosition(0.0);
}

void CMicroscopeDlg::ResetTransport() {
    skin_->Toggle(control::kPlay)->SetOff();
    skin_->Toggle(control::kOpen)->SetOff();
    EnableTransportButtons();
    positionTimer_.Kill();
    skin_->slider()->SetPos(0);
}

void CMicroscopeDlg::OnStep(int id) {
    switch (id) {
        case control::kFirst:
            player_.Rewind();
            break;
        case control::kLast:
            player_.ToEnd();
            break;
        case control::kStepBack:
        case control::kStepForward:
            skin_->Toggle(control::kOpen)->SetOn();
            player_.Pause();
            if (id == control::kStepBack) {
                player_.Back();
            } else {
                player_.Forward();
            }
            break;
        default:
            return;
    }
    // The thumb shows where the video now stands, also while it does not play.
    FollowPlaybackPosition();
}

void CMicroscopeDlg::FollowPlaybackPosition() {
    double position = -1.0;
    player_.GetPosition(position);
    if (position >= 0.0) {
        skin_->slider()->SetPos(static_cast<int>(std::trunc(position * 10.0)));
    }
}

void CMicroscopeDlg::EnableTransportButtons() {
    const bool playing = skin_->Toggle(control::kPlay)->IsOn() != 0;
    for (const int id : {control::kStop, control::kFirst, control::kStepBack, control::kStepForward,
                         control::kLast}) {
        skin_->Button(id)->setEnabled(playing);
    }
    skin_->Button(control::kOpen)->setEnabled(true);
}

void CMicroscopeDlg::ClosePlayerOf(const std::string& path) {
    if (!player_.isOpen() || (!path.empty() && player_.path() != path)) {
        return;
    }
    ResetTransport();
    player_.Close();
}

void CMicroscopeDlg::OnOpenVideo() {
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("openVideoDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Linux names are case-sensitive: every spelling of the extension is offered.
    dialog.setNameFilter(QStringLiteral("Avi Files(*.Avi *.avi *.AVI)"));
    // Where the last video was opened from, else where the recordings are.
    dialog.setDirectory(openVideoFolder_.isEmpty()
                            ? QFile::decodeName(QByteArray::fromStdString(paths_.videoFolder))
                            : openVideoFolder_);
    const QString chosen = RunFileDialog(dialog);
    if (chosen.isEmpty()) {
        return;
    }
    openVideoFolder_ = QFileInfo(chosen).absolutePath();
    if (skin_->Toggle(control::kPlay)->IsOn() != 0) {
        StopPlayback();
    }
    const std::string path = QFile::encodeName(chosen).toStdString();
    if (LoadFirstVideoFrame(path, viewerImage_).ok()) {
        viewerPath_ = path;
    }
    externalVideoPath_ = path;
    if (!Capturing()) {
        displayWindow_->ShowPicture(viewerImage_);
        OpenForPlayback();
    }
}

void CMicroscopeDlg::customEvent(QEvent* event) {
    if (event->type() != PlayerEvent::Type()) {
        QMainWindow::customEvent(event);
        return;
    }
    // An event of a file closed since is dropped.
    if (static_cast<PlayerEvent*>(event)->generation() == player_.generation()) {
        OnPlayerEvent();
    }
}

void CMicroscopeDlg::OnPlayerEvent() {
    const long code = player_.GetEvent();
    if (code != playerevent::kComplete && code != playerevent::kErrorAbort) {
        return;
    }
    const std::string error = code == playerevent::kErrorAbort ? player_.lastError() : "";
    StopPlayback();
    if (skin_->fullScreenMode()) {
        QMetaObject::invokeMethod(
            this, [this] { skin_->LeaveFullScreen(); }, Qt::QueuedConnection);
    }
    if (!error.empty()) {
        ShowWarningWithoutWaiting(LocalizedText(
            TextId::PlayFileFail, QFile::decodeName(QByteArray::fromStdString(player_.path())),
            QString::fromUtf8(error.c_str())));
    }
}

namespace {

// The folder the save dialog starts in: the desktop's pictures or videos folder where there
// is one, else the documents folder.
QString SaveDialogFolder(MediaKind kind, const std::string& documentsFolder) {
    const QString folder = QStandardPaths::writableLocation(kind == MediaKind::Pictures
                                                                ? QStandardPaths::PicturesLocation
                                                                : QStandardPaths::MoviesLocation);
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
        return folder;
    }
    return QFile::decodeName(QByteArray::fromStdString(documentsFolder));
}

}  // namespace

void CMicroscopeDlg::OnSaveAs() {
    std::string source;
    if (fileList_->GetSelectedPath(source) == 0) {
        ShowMessage(TextId::SelectFileSave);
        return;
    }
    const MediaKind kind = fileList_->mediaKind();
    const bool pictures = kind == MediaKind::Pictures;
    // Each picture filter with the suffix a name without one gets.
    const std::array<std::pair<QString, QString>, 4> pictureFilters = {{
        {QStringLiteral("JPEG Files(*.jpg)"), QStringLiteral("jpg")},
        {QStringLiteral("Bitmap Files(*.bmp)"), QStringLiteral("bmp")},
        {QStringLiteral("PNG Files(*.png)"), QStringLiteral("png")},
        {QStringLiteral("TIFF Files(*.tif *.tiff)"), QStringLiteral("tif")},
    }};
    QStringList filters;
    for (const auto& [filter, suffix] : pictureFilters) {
        filters.append(filter);
    }
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("saveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(pictures ? filters : QStringList{QStringLiteral("AVI Files(*.avi)")});
    dialog.setDefaultSuffix(pictures ? QStringLiteral("jpg") : QStringLiteral("avi"));
    connect(&dialog, &QFileDialog::filterSelected, &dialog,
            [&dialog, pictureFilters](const QString& chosenFilter) {
                for (const auto& [filter, suffix] : pictureFilters) {
                    if (filter == chosenFilter) {
                        dialog.setDefaultSuffix(suffix);
                    }
                }
            });
    dialog.setDirectory(saveFolder_.isEmpty() ? SaveDialogFolder(kind, environment_.documentsFolder)
                                              : saveFolder_);
    dialog.selectFile(QStringLiteral("Cap"));
    const QString chosen = RunFileDialog(dialog);
    if (chosen.isEmpty()) {
        return;
    }
    saveFolder_ = QFileInfo(chosen).absolutePath();
    const std::string target = QFile::encodeName(chosen).toStdString();
    const std::string& storageFolder = pictures ? paths_.pictureFolder : paths_.videoFolder;
    if (IsStorageFolderTarget(target, storageFolder)) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Save file"),
                        QStringLiteral("Can't save file to temp directory!!"), QMessageBox::Ok,
                        this);
        box.exec();
        return;
    }
    MediaItem* item = fileList_->SelectedItem();
    if (item == nullptr) {
        return;
    }
    // Only a copy that exists marks the item saved: a failure leaves it as it was. A video
    // that plays is closed first, as it may be renamed.
    const std::string oldPath = item->path;
    ClosePlayerOf(oldPath);
    // A still taken in this run is converted with what was known when it was taken; any
    // other with the scale its bitmap records and the time of its file.
    PictureMetadata metadata;
    if (const auto known = stillMetadata_.find(oldPath); known != stillMetadata_.end()) {
        metadata = known->second;
    }
    const SaveAsResult saved = SaveCapturedFileAs(oldPath, target, metadata);
    if (saved.written) {
        item->flags &= ~itemflag::kUnsaved;
        item->path = saved.sourcePath;
        if (saved.sourcePath != oldPath) {
            if (auto known = stillMetadata_.extract(oldPath)) {
                known.key() = saved.sourcePath;
                stillMetadata_.insert(std::move(known));
            }
        }
        if (viewerPath_ == oldPath) {
            viewerPath_ = saved.sourcePath;
        }
    }
    if (!saved.status.ok()) {
        const QString reason = saved.status.detail().empty()
                                   ? SystemReason(saved.status.error())
                                   : QString::fromLocal8Bit(saved.status.detail().c_str());
        const QString text =
            saved.written
                ? LocalizedText(TextId::MarkSavedFail,
                                QFile::decodeName(QByteArray::fromStdString(oldPath)), reason)
                : LocalizedText(TextId::SaveFileFail, chosen, reason);
        DebugTrace(0, "Save as %s: %s\n", target.c_str(), text.toLocal8Bit().constData());
        ShowMessage(text);
    }
    fileList_->ComposePage();
}

QString CMicroscopeDlg::RunFileDialog(QFileDialog& dialog) {
    if (fileDialogRunner_) {
        return fileDialogRunner_(dialog);
    }
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
               ? dialog.selectedFiles().front()
               : QString();
}

void CMicroscopeDlg::OnOpenExternally() {
    std::string path;
    if (fileList_->GetSelectedPath(path) == 0) {
        ShowMessage(TextId::SelectFileSave);
        return;
    }
    const IoResult opened = OpenExternally(path);
    if (!opened.ok()) {
        ShowMessage(LocalizedText(TextId::OpenFileFail)
                        .arg(QFile::decodeName(QByteArray::fromStdString(path))));
    }
}

void CMicroscopeDlg::OnDeleteSelected() {
    std::string path;
    if (fileList_->GetSelectedPath(path) == 0) {
        return;
    }
    ClosePlayerOf(path);
    const IoResult removed = RemoveCapturedFile(path);
    if (!removed.ok()) {
        // The system's words, in a box of their own; the file and the item stay.
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Capture"),
                        SystemReason(removed.error()), QMessageBox::Ok);
        box.exec();
        return;
    }
    fileList_->ClearSelection(fileList_->mediaKind());
    fileList_->RemoveItemByPath(path);
    fileList_->UpdateScrollBar();
    fileList_->ComposePage();
}

void CMicroscopeDlg::OnDeleteAll() {
    std::string path;
    if (fileList_->GetSelectedPath(path) == 0) {
        return;
    }
    if (const std::optional<MediaKind> folder = DeleteAllFolderFor(path)) {
        if (*folder == MediaKind::Videos) {
            ClosePlayerOf({});
        }
        RemoveFolderEntries(*folder == MediaKind::Pictures ? paths_.pictureFolder
                                                           : paths_.videoFolder);
    }
    // The list empties even where files could not go; they come back at the next start.
    fileList_->ClearCurrentList();
    fileList_->UpdateScrollBar();
    fileList_->ComposePage();
}

void CMicroscopeDlg::OnEMail() {
    std::string path;
    if (fileList_->GetSelectedPath(path) == 0) {
        ShowMessage(TextId::SelectFileEMail);
        return;
    }
    MailSendDialog dialog(messageTitle_, path, *mailAttachments_, this);
    dialog.exec();
}

void CMicroscopeDlg::OnHelpButton() {
    CBitmapButton* button = skin_->Button(control::kHelp);
    if (button != nullptr && skin_->menus().helpPopup) {
        skin_->menus().helpPopup->popup(button->mapToGlobal(QPoint(0, button->height())));
    }
}

void CMicroscopeDlg::ShowMessage(TextId text) {
    ShowMessage(LocalizedText(text));
}

void CMicroscopeDlg::ShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::Warning, messageTitle_, text, QMessageBox::Ok, this);
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
    if (id == timerid::kPosition) {
        FollowPlaybackPosition();
    }
}

void CMicroscopeDlg::OnStillArrived() {
    CaptureSession& session = capture_->session();
    const std::optional<StillSource> source = session.PendingStill();
    const bool requested = source.has_value();
    FolderFailure folderFailure;
    if (requested) {
        // Folders deleted while the program runs are made again before the still is written.
        folderFailure = CreateStorageFolders(environment_.documentsFolder).failure;
    }
    std::optional<KeptStill> kept = session.TakeStill();
    if (kept && measure_ && measure_->burnOverlays()) {
        BurnOverlaysInto(*kept);
    }
    PictureMetadata metadata;
    if (kept) {
        metadata = StillMetadata(QSize(kept->width, kept->height));
    }
    const IoResult result =
        kept ? stillWriter_->SaveStillBitmap(kept->View(), BitmapResolutionOf(metadata))
             : IoResult();
    const bool saved = kept && result.ok();
    if (saved) {
        stillMetadata_[stillWriter_->stillFileName()] = metadata;
        fileList_->AddPicture(stillWriter_->stillFileName());
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
        if (source == StillSource::TimeLapse && timeLapseDialog_ != nullptr) {
            // Counted by the series, which tells of it when it ends.
            timeLapseDialog_->NoteMissedStill(text);
        } else {
            ShowWarningWithoutWaiting(text);
        }
        return;
    }
    if (requested) {
        sounds_->Play(sound::kShutter);
    }
}

PictureMetadata CMicroscopeDlg::StillMetadata(QSize frameSize) const {
    PictureMetadata metadata;
    metadata.captured = QDateTime::currentDateTime();
    if (measure_) {
        metadata.deviceName = measure_->deviceName().toStdString();
        const PictureScale scale = measure_->ScaleFor(frameSize);
        if (scale.valid()) {
            metadata.xPixelsPerMetre = 1e6 / scale.xMicrometresPerPixel;
            metadata.yPixelsPerMetre = 1e6 / scale.yMicrometresPerPixel;
            metadata.calibrationName = scale.name.toStdString();
        }
    }
    return metadata;
}

void CMicroscopeDlg::BurnOverlaysInto(KeptStill& still) const {
    StillOverlays overlays;
    overlays.when = QDateTime::currentDateTime();
    overlays.scale = measure_->ScaleFor(QSize(still.width, still.height));
    overlays.scaleBar = displayWindow_->scaleBarShown();
    if (displayWindow_->ShowsLiveFrame()) {
        overlays.line = displayWindow_->measuredLine();
        overlays.lineFrameSize = displayWindow_->measuredFrameSize();
        overlays.label = displayWindow_->measuredLabel();
    }
    const std::size_t bytes = std::min<std::size_t>(still.sizeBytes, still.pixels.size());
    BurnOverlays(still.pixels.data(), bytes, still.width, still.height, displayWindow_->overlays(),
                 overlays);
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
                // The video chosen with the Open button is ready to play on the videos' tab.
                if (*kind == MediaKind::Videos && !Capturing() && !player_.isOpen() &&
                    !externalVideoPath_.empty()) {
                    OpenForPlayback();
                }
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
            // A measuring tool ends first; full screen on the next Escape.
            if (measure_ && measure_->EndTool()) {
                event->accept();
                return;
            }
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
        player_.Close();
        presence_->CaptureShutdown();
        DebugTrace(0, "Capture shut down\n");
    }
    if (QMessageBox* box = openWarning()) {
        box->close();
    }
    event->accept();
}
