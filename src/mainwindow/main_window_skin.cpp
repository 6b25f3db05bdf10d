#include "mainwindow/main_window_skin.h"

#include <QGuiApplication>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>
#include <array>

#include "capture/display/video_display_window.h"

namespace {

constexpr QColor kFallbackBackground(32, 36, 42);

// How long a window state the mode does not show must hold before it is followed, and how
// long after the program's own change of state none is followed.
constexpr int kStateSettleMs = 300;
constexpr qint64 kOwnStateChangeQuietMs = 1000;

// Enabled together while there is a device.
constexpr std::array kCaptureButtons = {control::kPreview, control::kAvi,     control::kCamera,
                                        control::kClock,   control::kSetting, control::kSave,
                                        control::kEMail};
// The menu items that stand for a capture button, and the overlay switches, which do nothing
// without a device: enabled with the capture buttons.
constexpr std::array kCaptureMenuItems = {
    menucommand::kTakePicture, menucommand::kTakeVideo, menucommand::kTimeLapse,
    menucommand::kSaveAs,      menucommand::kPopupSave, menucommand::kEMail,
    menucommand::kDevice,      menucommand::kCross,     menucommand::kPopupCross,
    menucommand::kGrid,        menucommand::kCircles,   menucommand::kClock};
// Enabled while the display holds a browsed picture to zoom.
constexpr std::array kZoomButtons = {control::kDecZoom, control::kIncZoom};

// Shown in Browse with one category.
bool BelongsToACategory(const SkinButton& entry) {
    return entry.shown == ButtonShown::kBrowsePictures || entry.shown == ButtonShown::kBrowseVideos;
}

}  // namespace

SkinBackground::SkinBackground(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("clientArea"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SkinBackground::SetBackground(QImage background) {
    background_ = std::move(background);
    update();
}

void SkinBackground::DrawTabs(const QImage& tabs) {
    if (background_.isNull() || tabs.isNull()) {
        return;
    }
    {
        QPainter painter(&background_);
        painter.drawImage(kTabsPosition, tabs);
    }
    update(QRect(kTabsPosition, tabs.size()));
}

void SkinBackground::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), kFallbackBackground);
    if (!background_.isNull()) {
        painter.drawImage(event->rect(), background_, event->rect());
    }
}

void SkinBackground::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Q_EMIT resized();
}

MainWindowSkin::MainWindowSkin(QMainWindow& window, SkinBackground& clientArea,
                               VideoDisplayWindow& display, std::function<WindowMode()> mode,
                               SkinImageLoader loader)
    : QObject(&window),
      window_(window),
      clientArea_(clientArea),
      display_(display),
      mode_(std::move(mode)),
      loader_(std::move(loader)) {
    stateSettle_.setSingleShot(true);
    stateSettle_.setInterval(kStateSettleMs);
    connect(&stateSettle_, &QTimer::timeout, this, &MainWindowSkin::FollowWindowState);
    // In full screen the display covers the client area, whenever the window manager sizes it.
    connect(&clientArea_, &SkinBackground::resized, this, [this] {
        if (fullScreenMode_) {
            display_.setGeometry(clientArea_.rect());
        }
    });
    connect(&display_, &VideoDisplayWindow::pictureChanged, this,
            &MainWindowSkin::EnableZoomButtons);
}

MainWindowSkin::~MainWindowSkin() = default;

void MainWindowSkin::CreateSkin() {
    QImage background = loader_ ? loader_(skinimage::kBackground) : QImage();
    if (background.size() != kClientRect.size()) {
        background = QImage(kClientRect.size(), QImage::Format_RGB32);
        background.fill(kFallbackBackground);
    }
    clientArea_.SetBackground(background.convertToFormat(QImage::Format_RGB32));
    clientArea_.setFixedSize(kClientRect.size());
    clientArea_.DrawTabs(loader_ ? loader_(skinimage::kPicturesTabActive) : QImage());

    PlaceWindow();

    display_.setParent(&clientArea_);
    display_.setGeometry(kDisplayRect);
    display_.show();

    fileListArea_ = new QWidget(&clientArea_);
    fileListArea_->setObjectName(QStringLiteral("fileList"));
    fileListArea_->setGeometry(kFileListRect);
    fileListArea_->show();

    for (const SkinButton& entry : kSkinButtons) {
        CBitmapButton* button = entry.kind == ButtonKind::kToggle
                                    ? new CToggleBitmapButton(&clientArea_, loader_)
                                    : new CBitmapButton(&clientArea_, loader_);
        button->LoadButtonBitmaps(entry.id, &clientArea_, entry.normalFace, entry.secondFace, 0,
                                  entry.disabledFace);
        button->move(entry.position);
        button->setVisible(entry.shown == ButtonShown::kOutsideFullScreen);
        const int id = entry.id;
        connect(button, &QAbstractButton::clicked, this, [this, id] { Q_EMIT command(id); });
        buttons_[entry.id] = button;
    }

    slider_ = new CSkinSlider(control::kSlider, &clientArea_, loader_);
    slider_->move(kSliderPosition);
    slider_->SetChannelBitmaps(skinimage::kChannel, skinimage::kActiveChannel,
                               Transparency::kOpaque, KEY_FROM_PIXEL, 0, 0);
    slider_->SetThumbBitmaps(skinimage::kThumb, skinimage::kActiveThumb, Transparency::kTransparent,
                             KEY_FROM_PIXEL, 0, 0);
    slider_->SetFocusRect(false, false);
    slider_->SetMargins(kSliderMargins.left(), kSliderMargins.top(), kSliderMargins.right(),
                        kSliderMargins.bottom());
    slider_->hide();

    RegisterTooltips();
}

// The window takes the size of its menu bar and background, fixed (the window manager offers
// no resizing), and the middle of its screen.
void MainWindowSkin::PlaceWindow() {
    window_.setMinimumSize(0, 0);
    window_.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window_.adjustSize();
    windowSize_ = window_.size();
    window_.setFixedSize(windowSize_);
    if (const QScreen* screen = window_.screen()) {
        const QRect available = screen->geometry();
        const QSize size = window_.size();
        window_.move(available.left() + (available.width() - size.width()) / 2,
                     available.top() + (available.height() - size.height()) / 2);
    }
    savedGeometry_ = window_.geometry();
}

void MainWindowSkin::BuildMenus() {
    menus_ = BuildMainMenus(window_, loader_, [this](int id) { Q_EMIT command(id); });
    PlaceWindow();
    savedCaption_ = window_.windowTitle();
    display_.SetFullScreenHint(LocalizedText(TextId::EscRestore));
}

CBitmapButton* MainWindowSkin::Button(int id) const {
    const auto found = buttons_.find(id);
    return found == buttons_.end() ? nullptr : found->second;
}

CToggleBitmapButton* MainWindowSkin::Toggle(int id) const {
    return qobject_cast<CToggleBitmapButton*>(Button(id));
}

std::optional<MediaKind> MainWindowSkin::CategoryAt(const QPoint& point) {
    if (kPicturesArea.contains(point)) {
        return MediaKind::Pictures;
    }
    if (kVideosArea.contains(point)) {
        return MediaKind::Videos;
    }
    return std::nullopt;
}

// A browsed video runs while Play is on and Open is off.
bool MainWindowSkin::VideoRunning() const {
    const CToggleBitmapButton* play = Toggle(control::kPlay);
    const CToggleBitmapButton* open = Toggle(control::kOpen);
    return play != nullptr && play->IsOn() != 0 && (open == nullptr || open->IsOn() == 0);
}

void MainWindowSkin::SetVisible(std::initializer_list<int> ids, bool visible) {
    for (const int id : ids) {
        if (CBitmapButton* button = Button(id)) {
            button->setVisible(visible);
        }
    }
}

void MainWindowSkin::Hook(const std::function<void()>& hook) const {
    if (hook) {
        hook();
    }
}

void MainWindowSkin::SwitchCategory(MediaKind kind) {
    if (kind == mediaKind_) {
        return;
    }
    mediaKind_ = kind;
    const int tabs =
        kind == MediaKind::Pictures ? skinimage::kPicturesTabActive : skinimage::kVideosTabActive;
    clientArea_.DrawTabs(loader_ ? loader_(tabs) : QImage());
    if (hooks_.composePage) {
        hooks_.composePage(kind);
    }
    LayOutPlaybackControls();
    Hook(hooks_.showSelected);
}

void MainWindowSkin::ShowMode() {
    const WindowMode mode = mode_();
    const auto showOn = [this](int id, bool on) {
        CToggleBitmapButton* toggle = Toggle(id);
        if (toggle != nullptr && on) {
            toggle->SetOn();
        } else if (toggle != nullptr) {
            toggle->SetOff();
        }
    };
    showOn(control::kPreview, mode == WindowMode::Live);
    showOn(control::kAvi, mode == WindowMode::Recording);
    const bool connected = mode != WindowMode::NoDevice;
    for (const int id : kCaptureButtons) {
        if (CBitmapButton* button = Button(id)) {
            button->setEnabled(connected);
        }
    }
    for (const int id : kCaptureMenuItems) {
        EnableCommand(id, connected);
    }
    display_.SetConnectText(connected ? QString() : LocalizedText(TextId::ConnectMsg));
    LayOutPlaybackControls();
}

void MainWindowSkin::LayOutPlaybackControls() {
    if (const CToggleBitmapButton* play = Toggle(control::kPlay); play && play->IsOn() != 0) {
        Hook(hooks_.stopPlayback);
    }
    for (const SkinButton& entry : kSkinButtons) {
        if (BelongsToACategory(entry)) {
            Button(entry.id)->hide();
        }
    }
    RegisterTooltips();
    // In full screen the display alone is shown, whatever the mode.
    if (Capturing() || fullScreenMode_) {
        slider_->hide();
        return;
    }
    const ButtonShown shown = mediaKind_ == MediaKind::Pictures ? ButtonShown::kBrowsePictures
                                                                : ButtonShown::kBrowseVideos;
    for (const SkinButton& entry : kSkinButtons) {
        if (entry.shown == shown) {
            Button(entry.id)->show();
        }
    }
    slider_->setVisible(mediaKind_ == MediaKind::Videos);
    EnableZoomButtons();
}

void MainWindowSkin::EnableZoomButtons() {
    for (const int id : kZoomButtons) {
        if (CBitmapButton* button = Button(id)) {
            button->setEnabled(display_.hasPicture());
        }
    }
}

void MainWindowSkin::EnableCommand(int id, bool enabled) {
    const QWidget* menus[] = {window_.menuBar(), menus_.filePopup.get(), menus_.displayPopup.get(),
                              menus_.settingsPopup.get(), menus_.helpPopup.get()};
    for (const QWidget* menu : menus) {
        if (QAction* action = menu != nullptr ? FindCommand(*menu, id) : nullptr) {
            action->setEnabled(enabled);
        }
    }
}

void MainWindowSkin::RegisterTooltips() {
    for (const SkinTooltip& tip : kSkinTooltips) {
        if (CBitmapButton* button = Button(tip.id)) {
            button->setToolTip(QString());
        }
    }
    if (fullScreenMode_) {
        return;
    }
    const auto add = [this](std::initializer_list<int> ids) {
        for (const int id : ids) {
            for (const SkinTooltip& tip : kSkinTooltips) {
                CBitmapButton* button = Button(id);
                if (tip.id == id && button != nullptr) {
                    button->setToolTip(LocalizedText(tip.text));
                }
            }
        }
    };
    add({control::kPreview, control::kCamera, control::kAvi, control::kClock, control::kSetting,
         control::kSave, control::kEMail, control::kHelp});
    if (Capturing()) {
        return;
    }
    if (mediaKind_ == MediaKind::Pictures) {
        add({control::kDecZoom, control::kIncZoom});
    } else {
        add({control::kPlay, control::kStop, control::kOpen, control::kFirst, control::kStepBack,
             control::kStepForward, control::kLast});
    }
}

void MainWindowSkin::ClearOrResetDisplay() {
    if (hooks_.hasSelectedItem && hooks_.hasSelectedItem()) {
        display_.ResetView();
    } else {
        display_.ClearDisplay();
    }
}

void MainWindowSkin::EnterFullScreen() {
    if (fullScreenMode_) {
        return;
    }
    SetVisible({control::kPreview, control::kCamera, control::kAvi, control::kClock,
                control::kSetting, control::kSave, control::kEMail, control::kHelp},
               false);
    fileListArea_->hide();
    const bool videoWasPlaying = VideoRunning();
    if (videoWasPlaying) {
        Hook(hooks_.stopPlayback);
    }
    SetVisible({control::kPlay, control::kStop, control::kOpen, control::kFirst, control::kLast,
                control::kStepBack, control::kStepForward, control::kHand, control::kDecZoom,
                control::kIncZoom},
               false);
    slider_->hide();
    window_.menuBar()->hide();

    // The window as it is now (inside its frame), for the way back; unless the window manager
    // made it full screen, which then keeps the normal window's place itself and gives it back
    // when full screen ends. The client area and the window follow the screen; the display
    // covers all of it.
    const bool windowManagersFullScreen = (window_.windowState() & Qt::WindowFullScreen) != 0;
    restoreSavedGeometry_ = !windowManagersFullScreen;
    if (restoreSavedGeometry_) {
        savedGeometry_ = window_.geometry();
    }
    clientArea_.setMinimumSize(0, 0);
    clientArea_.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    window_.setMinimumSize(0, 0);
    window_.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    fullScreenMode_ = true;
    sinceOwnStateChange_.start();
    // Placed over the screen first, for where no window manager makes a window full screen
    // (a window manager then takes the frame away); placing it afterwards would take the
    // full-screen state back.
    const QScreen* screen = window_.screen();
    if (screen != nullptr && !windowManagersFullScreen) {
        window_.setGeometry(screen->geometry());
    }
    window_.showFullScreen();
    display_.setGeometry(clientArea_.rect());
    display_.show();
    display_.raise();

    display_.SaveZoomState();
    display_.SetFullScreenMode(true);
    if (videoWasPlaying) {
        // The video fills the screen as a picture would.
        display_.ResetView();
        Hook(hooks_.startPlayback);
    } else {
        ClearOrResetDisplay();
    }
    RegisterTooltips();
}

void MainWindowSkin::WindowStateChanged() {
    const Qt::WindowStates state = window_.windowState();
    if ((state & Qt::WindowMaximized) && !fullScreenMode_) {
        window_.setWindowState(state & ~Qt::WindowMaximized);
        EnterFullScreen();
        return;
    }
    if (static_cast<bool>(state & Qt::WindowFullScreen) != fullScreenMode_) {
        stateSettle_.start();
    }
}

void MainWindowSkin::FollowWindowState() {
    const Qt::WindowStates state = window_.windowState();
    const bool fullScreen = (state & Qt::WindowFullScreen) != 0;
    if (fullScreen == fullScreenMode_ || (state & Qt::WindowMinimized)) {
        return;
    }
    if (sinceOwnStateChange_.isValid() && sinceOwnStateChange_.elapsed() < kOwnStateChangeQuietMs) {
        stateSettle_.start();
        return;
    }
    if (fullScreen) {
        EnterFullScreen();
    } else {
        LeaveFullScreen();
    }
}

void MainWindowSkin::LeaveFullScreen() {
    if (!fullScreenMode_) {
        return;
    }
    const bool videoWasPlaying = VideoRunning();
    if (videoWasPlaying) {
        Hook(hooks_.stopPlayback);
    }
    // Back to the normal state without unmapping the window, so the window manager keeps
    // it and its frame, then to the saved place and the one size.
    fullScreenMode_ = false;
    sinceOwnStateChange_.start();
    window_.setWindowTitle(savedCaption_);
    window_.setWindowState(window_.windowState() & ~(Qt::WindowFullScreen | Qt::WindowMaximized));
    clientArea_.setFixedSize(kClientRect.size());
    window_.setFixedSize(windowSize_);
    if (restoreSavedGeometry_) {
        window_.setGeometry(savedGeometry_);
    }
    display_.setGeometry(kDisplayRect);
    display_.SetFullScreenMode(false);
    LayOutPlaybackControls();
    SetVisible({control::kPreview, control::kCamera, control::kAvi, control::kClock, control::kSave,
                control::kEMail},
               true);
    SetVisible({control::kSetting, control::kHelp}, false);
    fileListArea_->show();
    window_.activateWindow();

    if (videoWasPlaying) {
        display_.RestoreZoomState();
        Hook(hooks_.startPlayback);
    } else {
        ClearOrResetDisplay();
        display_.RestoreZoomState();
    }
    window_.menuBar()->show();
}
