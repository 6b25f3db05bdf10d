#include "mainwindow/main_window_skin.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEnterEvent>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <set>
#include <string>
#include <vector>

#include "app/program_paths.h"
#include "capture/display/video_display_window.h"
#include "mainwindow/microscope_dlg.h"
#include "output/packed_dib.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

using testsupport::TempDir;
using testsupport::WriteFile;

class MainWindowSkinTest : public ::testing::Test {
protected:
    StartupEnvironment Environment(int simulatedKind = -1) const {
        StartupEnvironment environment;
        environment.executablePath = program / "digital-microscope";
        environment.documentsFolder = documents.path();
        environment.languageId = 0x0409;
        environment.simulatedKind = simulatedKind;
        return environment;
    }
    void TearDown() override { SetProgramPaths({}); }

    // The ids of the buttons a person can see.
    static std::set<int> VisibleButtons(const MainWindowSkin& skin) {
        std::set<int> visible;
        for (const SkinButton& entry : kSkinButtons) {
            if (skin.Button(entry.id)->isVisibleTo(skin.Button(entry.id)->window())) {
                visible.insert(entry.id);
            }
        }
        return visible;
    }
    static std::set<int> ButtonsWithTooltips(const MainWindowSkin& skin) {
        std::set<int> tipped;
        for (const SkinButton& entry : kSkinButtons) {
            if (!skin.Button(entry.id)->toolTip().isEmpty()) {
                tipped.insert(entry.id);
            }
        }
        return tipped;
    }

    TempDir program;
    TempDir documents;
};

using namespace control;

const std::set<int> kAlwaysShown = {kPreview, kCamera, kAvi, kClock, kEMail, kSave};
const std::set<int> kCommonTips = {kPreview, kCamera, kAvi, kClock, kSetting, kSave, kEMail, kHelp};

std::set<int> Union(std::set<int> a, const std::set<int>& b) {
    a.insert(b.begin(), b.end());
    return a;
}

TEST_F(MainWindowSkinTest, EveryPartSitsAtItsPlace) {
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    const MainWindowSkin& skin = *dialog.skin();
    EXPECT_EQ(dialog.centralWidget()->size(), QSize(842, 579));
    EXPECT_EQ(dialog.displayWindow()->geometry(), QRect(221, 0, 622, 487));
    EXPECT_EQ(skin.fileListArea()->geometry(), QRect(0, 105, 216, 380));
    EXPECT_EQ(skin.slider()->geometry(), QRect(341, 487, 426, 14));
    EXPECT_EQ(skin.Button(kPreview)->size(), QImage(QStringLiteral(":/skin/155.png")).size());
    EXPECT_EQ(skin.Button(kPlay)->size(), QImage(QStringLiteral(":/skin/165.png")).size());
    EXPECT_FALSE(dialog.windowIcon().isNull());
    for (const SkinButton& entry : kSkinButtons) {
        ASSERT_NE(skin.Button(entry.id), nullptr) << entry.id;
        EXPECT_EQ(skin.Button(entry.id)->pos(), entry.position) << entry.id;
        EXPECT_EQ(skin.Toggle(entry.id) != nullptr, entry.kind == ButtonKind::kToggle) << entry.id;
    }
    EXPECT_EQ(MainWindowSkin::CategoryAt({3, 30}), MediaKind::Pictures);
    EXPECT_EQ(MainWindowSkin::CategoryAt({99, 89}), MediaKind::Pictures);
    EXPECT_EQ(MainWindowSkin::CategoryAt({100, 60}), std::nullopt);
    EXPECT_EQ(MainWindowSkin::CategoryAt({214, 60}), std::nullopt);
    EXPECT_EQ(MainWindowSkin::CategoryAt({115, 89}), MediaKind::Videos);
}

TEST_F(MainWindowSkinTest, EachModeShowsItsOwnControlsAndTooltips) {
    // No device: browsing pictures, the capture buttons disabled.
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    MainWindowSkin& skin = *dialog.skin();
    EXPECT_EQ(dialog.mode(), WindowMode::NoDevice);
    EXPECT_EQ(skin.mediaKind(), MediaKind::Pictures);
    EXPECT_EQ(VisibleButtons(skin), Union(kAlwaysShown, {kDecZoom, kIncZoom}));
    EXPECT_FALSE(skin.slider()->isVisibleTo(&dialog));
    EXPECT_FALSE(skin.Button(kCamera)->isEnabled());
    EXPECT_FALSE(skin.Button(kDecZoom)->isEnabled());  // no picture to zoom
    EXPECT_EQ(ButtonsWithTooltips(skin), Union(kCommonTips, {kDecZoom, kIncZoom}));

    int pages = 0;
    SkinHooks hooks;
    hooks.composePage = [&](MediaKind) { ++pages; };
    skin.SetHooks(hooks);
    skin.SwitchCategory(MediaKind::Videos);
    EXPECT_EQ(VisibleButtons(skin), Union(kAlwaysShown, {kPlay, kStop, kOpen, kFirst, kLast}));
    EXPECT_TRUE(skin.slider()->isVisibleTo(&dialog));
    EXPECT_EQ(ButtonsWithTooltips(skin),
              Union(kCommonTips, {kPlay, kStop, kOpen, kFirst, kStepBack, kStepForward, kLast}));
    skin.SwitchCategory(MediaKind::Videos);
    EXPECT_EQ(pages, 1);

    // Capturing: neither the slider nor a playback or zoom button.
    dialog.SetMode(WindowMode::Recording);
    EXPECT_EQ(skin.Toggle(kAvi)->IsOn(), 1);
    EXPECT_EQ(VisibleButtons(skin), kAlwaysShown);
    EXPECT_FALSE(skin.slider()->isVisibleTo(&dialog));
    EXPECT_EQ(ButtonsWithTooltips(skin), kCommonTips);
}

// The face a button shows, as a person sees it.
QImage ShownFace(QWidget& button) {
    return button.grab().toImage().convertToFormat(QImage::Format_RGB32);
}
QImage SkinFace(int id) {
    return QImage(QStringLiteral(":/skin/%1.png").arg(id)).convertToFormat(QImage::Format_RGB32);
}

// Each row brings the window into a mode; every visible button must then show the face of
// its state: a disabled one its dimmed face, also with the mouse over it or holding it down,
// and no click gets through; an enabled one its normal face, or its on face where the mode
// sets it on. The menu items that stand for the capture buttons follow them.
TEST_F(MainWindowSkinTest, EveryVisibleButtonShowsTheFaceOfItsState) {
    using enum WindowMode;
    const std::set<int> capture = {kPreview, kCamera, kAvi, kClock, kSave, kEMail};
    const std::set<int> zoom = {kDecZoom, kIncZoom};
    const std::set<int> transport = {kStop, kFirst, kLast};  // enabled while a video plays
    struct Row {
        const char* name;
        WindowMode mode;
        MediaKind kind;
        bool picture;  // a browsed picture is on the display
        std::set<int> disabled;
        std::set<int> on;
    };
    const Row rows[] = {
        {"no device, pictures", NoDevice, MediaKind::Pictures, false, Union(capture, zoom), {}},
        {"no device, a picture", NoDevice, MediaKind::Pictures, true, capture, {}},
        {"no device, videos", NoDevice, MediaKind::Videos, false, Union(capture, transport), {}},
        {"live", Live, MediaKind::Pictures, false, {}, {kPreview}},
        {"recording", Recording, MediaKind::Videos, false, {}, {kAvi}},
        {"browse, pictures", Browse, MediaKind::Pictures, false, zoom, {}},
        {"browse, a picture", Browse, MediaKind::Pictures, true, {}, {}},
        {"browse, videos", Browse, MediaKind::Videos, false, transport, {}},
    };
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    MainWindowSkin& skin = *dialog.skin();
    QSignalSpy commands(&skin, &MainWindowSkin::command);
    IoResultOf<PackedDib> picture = PackedDib::Create(64, 48, 24);
    ASSERT_TRUE(picture.ok());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        dialog.displayWindow()->ShowPicture(row.picture ? picture->bytes()
                                                        : std::span<const std::uint8_t>());
        skin.SwitchCategory(row.kind);
        dialog.SetMode(row.mode);
        for (const SkinButton& entry : kSkinButtons) {
            CBitmapButton& button = *skin.Button(entry.id);
            if (!button.isVisibleTo(&dialog)) {
                continue;
            }
            SCOPED_TRACE(entry.id);
            const bool disabled = row.disabled.contains(entry.id);
            ASSERT_EQ(button.isEnabled(), !disabled);
            if (!disabled) {
                const int face = row.on.contains(entry.id) ? entry.secondFace : entry.normalFace;
                EXPECT_EQ(ShownFace(button), SkinFace(face));
                continue;
            }
            const QImage dimmed = SkinFace(entry.disabledFace);
            ASSERT_FALSE(dimmed.isNull());
            EXPECT_EQ(ShownFace(button), dimmed);
            QTest::mouseMove(&button, button.rect().center());
            QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
            QApplication::sendEvent(&button, &enter);
            QTest::mouseClick(&button, Qt::LeftButton);
            button.setDown(true);
            EXPECT_EQ(ShownFace(button), dimmed);
            button.setDown(false);
        }
        EXPECT_EQ(commands.count(), 0);
        const bool connected = row.mode != NoDevice;
        EXPECT_EQ(FindCommand(*dialog.menuBar(), menucommand::kTakePicture)->isEnabled(),
                  connected);
        EXPECT_EQ(FindCommand(*skin.menus().displayPopup, menucommand::kPopupCross)->isEnabled(),
                  connected);
    }
}

TEST_F(MainWindowSkinTest, LiveOnTheSimulatedMicroscopeShowsOnlyTheCaptureButtons) {
    CMicroscopeDlg dialog(Environment(0));
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    const MainWindowSkin& skin = *dialog.skin();
    EXPECT_EQ(dialog.mode(), WindowMode::Live);
    EXPECT_EQ(skin.Toggle(kPreview)->IsOn(), 1);
    EXPECT_TRUE(skin.Button(kCamera)->isEnabled());
    EXPECT_EQ(VisibleButtons(skin), kAlwaysShown);
    EXPECT_TRUE(dialog.displayWindow()->connectText().isEmpty());
}

TEST_F(MainWindowSkinTest, FullScreenShowsTheDisplayAloneAndTheWindowComesBackAsItWas) {
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    MainWindowSkin& skin = *dialog.skin();
    const QRect geometry = dialog.geometry();
    const Qt::WindowFlags flags = dialog.windowFlags();
    const QString caption = dialog.windowTitle();

    skin.EnterFullScreen();
    EXPECT_TRUE(skin.fullScreenMode());
    EXPECT_TRUE(dialog.displayWindow()->fullScreenMode());
    EXPECT_TRUE(VisibleButtons(skin).empty());
    EXPECT_TRUE(ButtonsWithTooltips(skin).empty());
    EXPECT_FALSE(skin.fileListArea()->isVisibleTo(&dialog));
    EXPECT_FALSE(skin.slider()->isVisibleTo(&dialog));
    EXPECT_FALSE(dialog.menuBar()->isVisibleTo(&dialog));
    EXPECT_EQ(dialog.displayWindow()->geometry(), dialog.centralWidget()->rect());
    EXPECT_GT(dialog.displayWindow()->width(), 622);

    skin.LeaveFullScreen();
    EXPECT_FALSE(skin.fullScreenMode());
    EXPECT_FALSE(dialog.displayWindow()->fullScreenMode());
    EXPECT_EQ(dialog.geometry(), geometry);
    EXPECT_EQ(dialog.windowFlags(), flags);
    EXPECT_EQ(dialog.windowTitle(), caption);
    EXPECT_EQ(dialog.displayWindow()->geometry(), QRect(221, 0, 622, 487));
    EXPECT_EQ(VisibleButtons(skin), Union(kAlwaysShown, {kDecZoom, kIncZoom}));
    EXPECT_EQ(ButtonsWithTooltips(skin), Union(kCommonTips, {kDecZoom, kIncZoom}));
    EXPECT_TRUE(skin.fileListArea()->isVisibleTo(&dialog));
    EXPECT_TRUE(dialog.menuBar()->isVisibleTo(&dialog));
}

TEST_F(MainWindowSkinTest, DoubleClickAndEscapeSwitchFullScreenAndARightClickOpensThePopup) {
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    VideoDisplayWindow& display = *dialog.displayWindow();
    QTest::mouseDClick(&display, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    EXPECT_TRUE(dialog.skin()->fullScreenMode());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.skin()->fullScreenMode());
    QTest::mouseDClick(&display, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QTest::mouseDClick(&display, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    EXPECT_FALSE(dialog.skin()->fullScreenMode());

    dialog.showMaximized();
    EXPECT_TRUE(dialog.skin()->fullScreenMode());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.skin()->fullScreenMode());

    QTest::mousePress(&display, Qt::RightButton, Qt::NoModifier, QPoint(50, 60));
    EXPECT_TRUE(dialog.skin()->menus().displayPopup->isVisible());
    dialog.skin()->menus().displayPopup->close();
}

// The window manager's full screen, set or taken away by its user, is followed; its late
// answers to the program's own requests are not, however late they come.
TEST_F(MainWindowSkinTest, TheWindowManagersFullScreenIsFollowedButNotItsLateAnswers) {
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    const MainWindowSkin& skin = *dialog.skin();
    const auto settlesAt = [&](bool fullScreen) {
        return testsupport::WaitUntil([&] { return skin.fullScreenMode() == fullScreen; }, 3000);
    };
    // True when the window was never full screen for `ms`.
    const auto staysNormalFor = [&](int ms) {
        return !testsupport::WaitUntil([&] { return skin.fullScreenMode(); }, ms);
    };

    dialog.setWindowState(Qt::WindowFullScreen);
    EXPECT_FALSE(skin.fullScreenMode());
    EXPECT_TRUE(settlesAt(true));
    dialog.setWindowState(Qt::WindowNoState);
    EXPECT_TRUE(settlesAt(false));

    for (const int lateMs : {0, 600}) {
        SCOPED_TRACE(lateMs);
        // The program leaves full screen; the window manager answers its entering late, and
        // then its leaving.
        QTest::keyClick(&dialog, Qt::Key_F11);
        ASSERT_TRUE(skin.fullScreenMode());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        ASSERT_FALSE(skin.fullScreenMode());
        dialog.setWindowState(Qt::WindowFullScreen);
        EXPECT_TRUE(staysNormalFor(lateMs));
        dialog.setWindowState(Qt::WindowNoState);
        EXPECT_TRUE(staysNormalFor(1500));
    }
}

TEST_F(MainWindowSkinTest, AVideoPlayingWhenTheModeChangesStartsAgainInTheNewWindow) {
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    dialog.show();
    MainWindowSkin& skin = *dialog.skin();
    std::vector<std::string> calls;
    SkinHooks hooks;
    hooks.stopPlayback = [&] {
        calls.push_back("stop");
        skin.Toggle(kPlay)->SetOff();
    };
    hooks.startPlayback = [&] {
        calls.push_back("play");
        skin.Toggle(kPlay)->SetOn();
    };
    skin.SetHooks(hooks);
    skin.SwitchCategory(MediaKind::Videos);
    skin.Toggle(kPlay)->SetOn();
    skin.EnterFullScreen();
    EXPECT_EQ(calls, (std::vector<std::string>{"stop", "play"}));
    // Leaving stops it, lays the controls out and plays it again from the start.
    calls.clear();
    skin.LeaveFullScreen();
    EXPECT_EQ(calls, (std::vector<std::string>{"stop", "play"}));
    EXPECT_TRUE(skin.Button(kPlay)->isVisibleTo(&dialog));

    // A paused video (Open on) is not running: full screen neither stops nor restarts it;
    // the layout on the way back stops it as every layout does.
    calls.clear();
    skin.Toggle(kOpen)->SetOn();
    skin.EnterFullScreen();
    EXPECT_TRUE(calls.empty());
    skin.LeaveFullScreen();
    EXPECT_EQ(calls, (std::vector<std::string>{"stop"}));
}

TEST_F(MainWindowSkinTest, MenusCarryTheTextsOfTheLanguageFile) {
    // The bar's Delete is "Delete " (with a blank); the file pop-up's is "Delete".
    WriteFile(program / "English1252.ini",
              "[Zentra]\nDelete=Remove\nCross=Crosshair\nFile=Files\n");
    CMicroscopeDlg dialog(Environment());
    ASSERT_TRUE(dialog.OnInitDialog());
    const MainWindowSkin& skin = *dialog.skin();
    const QList<QAction*> titles = dialog.menuBar()->actions();
    ASSERT_EQ(titles.size(), 4);
    EXPECT_EQ(titles[0]->text(), QStringLiteral("Files"));
    EXPECT_EQ(titles[1]->text(), QStringLiteral("Setting"));
    EXPECT_EQ(titles[2]->text(), QStringLiteral("Capture"));
    EXPECT_EQ(titles[3]->text(), QStringLiteral("Help"));
    EXPECT_EQ(FindCommand(*dialog.menuBar(), menucommand::kDelete)->text(),
              QStringLiteral("Delete"));
    EXPECT_EQ(FindCommand(*skin.menus().filePopup, menucommand::kPopupDelete)->text(),
              QStringLiteral("Remove"));
    EXPECT_EQ(FindCommand(*dialog.menuBar(), menucommand::kCross)->text(),
              QStringLiteral("Crosshair"));
    EXPECT_EQ(FindCommand(*skin.menus().displayPopup, menucommand::kPopupCross)->text(),
              QStringLiteral("Crosshair"));
    EXPECT_EQ(FindCommand(*skin.menus().helpPopup, menucommand::kManual)->text(),
              QStringLiteral("Digital Microscope User Manual"));
    EXPECT_EQ(FindCommand(*dialog.menuBar(), menucommand::kManual)->text(),
              QStringLiteral("Digital Microscope Manual"));
    // The overlays, a separator, and the measuring items.
    EXPECT_EQ(skin.menus().displayPopup->actions().size(), 9);
    EXPECT_EQ(skin.menus().filePopup->actions().size(), 6);
}

TEST_F(MainWindowSkinTest, OverlayCommandsSwitchOverlaysOnlyWithADevice) {
    CMicroscopeDlg withoutDevice(Environment());
    ASSERT_TRUE(withoutDevice.OnInitDialog());
    FindCommand(*withoutDevice.skin()->menus().displayPopup, menucommand::kPopupCross)->trigger();
    EXPECT_EQ(withoutDevice.displayWindow()->overlays().showCrossLine.load(), 0);

    CMicroscopeDlg dialog(Environment(1));
    ASSERT_TRUE(dialog.OnInitDialog());
    const OverlaySwitches& overlays = dialog.displayWindow()->overlays();
    FindCommand(*dialog.skin()->menus().displayPopup, menucommand::kPopupCross)->trigger();
    FindCommand(*dialog.menuBar(), menucommand::kGrid)->trigger();
    FindCommand(*dialog.menuBar(), menucommand::kCircles)->trigger();
    FindCommand(*dialog.menuBar(), menucommand::kClock)->trigger();
    EXPECT_EQ(overlays.showCrossLine.load(), 1);
    EXPECT_EQ(overlays.showGrid.load(), 1);
    EXPECT_EQ(overlays.showCircles.load(), 1);
    EXPECT_EQ(overlays.showClock.load(), 1);
    FindCommand(*dialog.menuBar(), menucommand::kCross)->trigger();
    EXPECT_EQ(overlays.showCrossLine.load(), 0);
}

}  // namespace
