#include "mainwindow/microscope_dlg.h"

#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>

#include "app/debug_trace.h"
#include "app/text_table.h"
#include "capture/capture_settings.h"
#include "capture/display/video_display_window.h"
#include "capture/gst/capture_stack.h"
#include "mainwindow/main_window_skin.h"
#include "output/still_file.h"
#include "skin_resources.h"

CMicroscopeDlg::CMicroscopeDlg(StartupEnvironment environment, QWidget* parent)
    : QMainWindow(parent), environment_(std::move(environment)) {
    InitSkinResources();
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/128-%1.png").arg(size), QSize(size, size));
    }
    setWindowIcon(icon);
    clientArea_ = new SkinBackground(this);
    clientArea_->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(clientArea_);
    displayWindow_ = new VideoDisplayWindow(clientArea_);
    displayWindow_->setGeometry(kDisplayLeft, kDisplayTop, kDisplayWidth, kDisplayHeight);
    displayWindow_->installEventFilter(this);
    skin_ = new MainWindowSkin(*this, *clientArea_, *displayWindow_);
    connect(skin_, &MainWindowSkin::command, this, &CMicroscopeDlg::OnCommand);
}

CMicroscopeDlg::~CMicroscopeDlg() {
    // The graph stops before the views its callbacks draw into go away.
    capture_.reset();
}

bool CMicroscopeDlg::OnInitDialog() {
    // Program folder, language file and manual, storage tree: in this order.
    paths_ = FixProgramPaths(environment_);

    messageTitle_ = LocalizedText(TextId::MsgTitle);
    setWindowTitle(messageTitle_);

    RemoveLeftoverProbe(paths_.videoFolder);

    skin_->CreateSkin();
    skin_->BuildMenus();

    stillWriter_ = std::make_unique<StillWriter>(paths_.pictureFolder);
    capture_ = std::make_unique<CaptureStack>(environment_.simulatedKind, this);
    CaptureEngine& engine = capture_->engine();
    engine.SetCapConfigPath(CapConfigPath(paths_.programFolder));
    engine.SetDisplayWindow(displayWindow_);
    const bool connected = capture_->Connect();
    EnableCaptureButtons(connected);
    if (connected) {
        skin_->Toggle(control::kPreview)->SetOn();
    } else {
        DebugTrace(0, "No capture device is streaming\n");
        displayWindow_->SetConnectText(LocalizedText(TextId::ConnectMsg));
    }
    skin_->LayOutPlaybackControls();
    return true;
}

void CMicroscopeDlg::EnableCaptureButtons(bool enabled) {
    for (const int id : {control::kPreview, control::kAvi, control::kCamera, control::kClock,
                         control::kSetting, control::kSave, control::kEMail}) {
        if (CBitmapButton* button = skin_->Button(id)) {
            button->setEnabled(enabled);
        }
    }
}

// The commands of the display window; the others are connected as their parts arrive.
void CMicroscopeDlg::OnCommand(int id) {
    OverlaySwitches& overlays = displayWindow_->overlays();
    const bool connected = capture_ && capture_->engine().running();
    const auto toggle = [connected](std::atomic<int>& overlay) {
        if (connected) {
            overlay.store(overlay.load() != 0 ? 0 : 1);
        }
    };
    switch (id) {
        case menucommand::kCross:
        case menucommand::kPopupCross: toggle(overlays.showCrossLine); break;
        case menucommand::kGrid: toggle(overlays.showGrid); break;
        case menucommand::kCircles: toggle(overlays.showCircles); break;
        case menucommand::kClock: toggle(overlays.showClock); break;
        case control::kDecZoom: displayWindow_->ZoomBy(static_cast<double>(-0.2f)); break;
        case control::kIncZoom: displayWindow_->ZoomBy(static_cast<double>(0.2f)); break;
        default: break;
    }
}

bool CMicroscopeDlg::event(QEvent* event) {
    if (event->type() != EngineMessageEvent::Type()) {
        return QMainWindow::event(event);
    }
    const auto* message = static_cast<EngineMessageEvent*>(event);
    if (capture_ && capture_->notifyTarget().IsCurrent(*message)) {
        if (message->message() == kWmStillArrived) {
            OnStillArrived(message->wParam());
        } else if (message->message() == kWmGraphEvent) {
            capture_->engine().DrainGraphEvent();
        }
    }
    return true;
}

void CMicroscopeDlg::OnStillArrived(std::intptr_t armed) {
    CaptureEngine& engine = capture_->engine();
    LatestFrame& frame = engine.latestFrame();
    frame.AcquireCopy();
    const BitmapInfoHeader header = frame.Header();
    const StillFrame still{frame.pixels.get(), header.biSizeImage, frame.capacity, header.biWidth,
                           header.biHeight};
    if (stillWriter_->SaveStillBitmap(engine.stillFlags().stillRequested, still) == 1) {
        stillWriter_->AdvanceCounter();
    }
    if (engine.recordingActive().load() != 0 || armed != 0) {
        capture_->notifyTarget().NewGeneration();
        engine.RestartGraph();
    }
}

bool CMicroscopeDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched != displayWindow_ || skin_ == nullptr) {
        return QMainWindow::eventFilter(watched, event);
    }
    if (event->type() != QEvent::MouseButtonDblClick &&
        event->type() != QEvent::MouseButtonPress) {
        return false;
    }
    const auto* mouse = static_cast<QMouseEvent*>(event);
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
    if (event->key() == Qt::Key_Escape && skin_->fullScreenMode()) {
        skin_->LeaveFullScreen();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void CMicroscopeDlg::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (skin_ != nullptr && event->type() == QEvent::WindowStateChange &&
        (windowState() & Qt::WindowMaximized) && !skin_->fullScreenMode()) {
        setWindowState(windowState() & ~Qt::WindowMaximized);
        skin_->EnterFullScreen();
    }
}

void CMicroscopeDlg::closeEvent(QCloseEvent* event) {
    DebugTrace(0, "Main window closing\n");
    event->accept();
}
