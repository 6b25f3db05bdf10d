#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <QObject>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>

#include "mainwindow/main_menus.h"
#include "mainwindow/skin_layout.h"
#include "mainwindow/window_mode.h"
#include "skin/bitmap_button.h"
#include "skin/skin_drawing.h"
#include "skin/skin_slider.h"

class VideoDisplayWindow;

// The main window's client area: the skin's background with the active category tab over it.
class SkinBackground : public QWidget {
    Q_OBJECT
public:
    explicit SkinBackground(QWidget* parent = nullptr);
    // The whole background; its size becomes the client area's.
    void SetBackground(QImage background);
    // Copies `tabs` into the background at kTabsPosition and repaints that part.
    void DrawTabs(const QImage& tabs);
    const QImage& background() const { return background_; }

Q_SIGNALS:
    void resized();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage background_;
};

// What the skin asks of the rest of the window when the layout changes. Every hook may be
// left empty.
struct SkinHooks {
    std::function<void()> stopPlayback;          // the Stop command
    std::function<void()> startPlayback;         // the Playback command, from the beginning
    std::function<bool()> hasSelectedItem;       // an item is selected in the file list
    std::function<void(MediaKind)> composePage;  // the file list shows that kind's page
    std::function<void()> showSelected;          // the selected item goes to the display
};

// The main window's skin and layout: the background, every button at its place with its
// faces, the display window, the file list's place, the slider, the tooltips, the menus, and
// normal and full screen. The controller owns the window's mode (Live, Recording, Browse, No
// device), which the skin asks for through `mode` and draws. UI thread.
class MainWindowSkin : public QObject {
    Q_OBJECT
public:
    MainWindowSkin(QMainWindow& window, SkinBackground& clientArea, VideoDisplayWindow& display,
                   std::function<WindowMode()> mode, SkinImageLoader loader = LoadSkinImage);
    ~MainWindowSkin() override;

    // Sizes the window to the background and centres it on its screen, places the display,
    // the file list's area, every button and the slider, and fills in the tooltips.
    void CreateSkin();
    // The menu bar and the pop-ups; remembers the caption for the way back from full screen.
    void BuildMenus();
    void SetHooks(SkinHooks hooks) { hooks_ = std::move(hooks); }

    CBitmapButton* Button(int id) const;
    CToggleBitmapButton* Toggle(int id) const;  // null for a push button
    CSkinSlider* slider() const { return slider_; }
    QWidget* fileListArea() const { return fileListArea_; }
    const MainMenus& menus() const { return menus_; }

    MediaKind mediaKind() const { return mediaKind_; }
    bool fullScreenMode() const { return fullScreenMode_; }
    // The category whose area holds `point` (client coordinates), if any.
    static std::optional<MediaKind> CategoryAt(const QPoint& point);

    // Shows the other category's tab and page; nothing happens for the one already shown.
    void SwitchCategory(MediaKind kind);
    // Draws the controller's mode: Preview on in Live, AVI on in Recording, the capture
    // buttons and the menu items that go with them enabled and no connect text with a device;
    // then lays the controls out.
    void ShowMode();
    // Shows the playback or zoom controls that belong to the mode, hides the others; zoom is
    // enabled only while there is a browsed picture.
    void LayOutPlaybackControls();
    // Gives the visible buttons of the mode their tooltips, and no others.
    void RegisterTooltips();
    // The display alone fills the screen; and back, exactly as the window was.
    void EnterFullScreen();
    void LeaveFullScreen();
    // The window's state changed, through Qt or the window manager. A maximise request means
    // full screen at once. A full-screen state that the mode does not show is followed once
    // it has held for a moment and the program has not changed the state itself for a
    // while, so late answers of the window manager to the program's own requests are not
    // taken for the user's.
    void WindowStateChanged();
    // Every item with command `id`, in the menu bar and the pop-ups.
    void EnableCommand(int id, bool enabled);

Q_SIGNALS:
    // A button or menu item was chosen.
    void command(int id);

private:
    bool Capturing() const { return IsCapturing(mode_()); }
    void PlaceWindow();
    void FollowWindowState();
    bool VideoRunning() const;
    void SetVisible(std::initializer_list<int> ids, bool visible);
    void EnableZoomButtons();
    void ClearOrResetDisplay();
    void Hook(const std::function<void()>& hook) const;

    QMainWindow& window_;
    SkinBackground& clientArea_;
    VideoDisplayWindow& display_;
    std::function<WindowMode()> mode_;
    SkinImageLoader loader_;
    SkinHooks hooks_;
    std::map<int, CBitmapButton*> buttons_;  // children of the client area
    CSkinSlider* slider_ = nullptr;
    QWidget* fileListArea_ = nullptr;
    MainMenus menus_;
    MediaKind mediaKind_ = MediaKind::Pictures;
    bool fullScreenMode_ = false;

    // The normal window, for the way back from full screen: its geometry inside the frame
    // when full screen was entered.
    QRect savedGeometry_;
    bool restoreSavedGeometry_ = true;  // false while the window manager keeps it
    QSize windowSize_;                  // the normal window's one size
    QString savedCaption_;
    QTimer stateSettle_;
    QElapsedTimer sinceOwnStateChange_;
};
