// The main window driven as a user drives it, with the simulated microscope behind it.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <tuple>
#include <vector>

#include "app/debug_trace.h"
#include "app/program_paths.h"
#include "browser/thumbnail_list.h"
#include "capture/display/video_display_window.h"
#include "capture/gst/capture_stack.h"
#include "mainwindow/about_dialog.h"
#include "mainwindow/calibrate_dialog.h"
#include "mainwindow/device_presence.h"
#include "mainwindow/main_window_skin.h"
#include "mainwindow/measure_controller.h"
#include "mainwindow/microscope_dlg.h"
#include "mainwindow/record_counter_panel.h"
#include "mainwindow/recorder_settings_dialog.h"
#include "mainwindow/time_lapse_dialog.h"
#include "manual_clock.h"
#include "output/scale_overlays.h"
#include "output/still_file.h"
#include "platform/sound_player.h"
#include "sim/simulated_microscope.h"
#include "support/coded_video.h"
#include "support/media_probe.h"
#include "support/stub_programs.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

using testsupport::Exists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WaitUntil;
using testsupport::WriteFile;

constexpr const char* kBrowseText = "Please leave browse status first, And then try it agian";
constexpr const char* kConnectText = "Please connect USB 2.0 Digital Microscope";
constexpr std::array<int, 7> kCaptureButtons = {
    control::kPreview, control::kAvi,  control::kCamera, control::kClock,
    control::kSetting, control::kSave, control::kEMail};

// Takes every address the program hands to the desktop (the manual, the web page) while it
// lives, so that no viewer or browser starts.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher() {
        for (const char* scheme : {"file", "http", "https"}) {
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
        }
    }
    ~UrlCatcher() override {
        for (const char* scheme : {"file", "http", "https"}) {
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
        }
    }
    std::vector<QUrl> opened;

public Q_SLOTS:
    void open(const QUrl& url) { opened.push_back(url); }
};

// Answers every message box that opens while it lives: notes what it said and presses OK.
class MessageBoxAnswerer {
public:
    MessageBoxAnswerer() {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes.push_back({box->windowTitle(), box->text(), box->icon()});
                box->done(QMessageBox::Ok);
            }
        });
        timer_.start();
    }
    struct Box {
        QString title;
        QString text;
        QMessageBox::Icon icon;
    };
    std::vector<Box> boxes;

private:
    QTimer timer_;
};

// Answers the recorder settings dialog whenever it opens: the rate and time limit given,
// then OK. Message boxes are answered with OK and noted.
class RecorderSettingsAnswerer {
public:
    RecorderSettingsAnswerer(int framesPerSecond, int limitSeconds)
        : rate_(framesPerSecond), limit_(limitSeconds) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* settings = qobject_cast<RecorderSettingsDialog*>(modal)) {
                settings->frameRateEdit()->setText(QString::number(rate_));
                settings->timeLimitCheck()->setChecked(limit_ > 0);
                settings->secondsEdit()->setText(QString::number(limit_ > 0 ? limit_ : 10));
                ++opened;
                settings->accept();
            } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                boxes.push_back({box->windowTitle(), box->text(), box->icon()});
                box->done(QMessageBox::Ok);
            }
        });
        timer_.start();
    }
    int opened = 0;
    std::vector<MessageBoxAnswerer::Box> boxes;

private:
    int rate_;
    int limit_;
    QTimer timer_;
};

// Sits between the engine and the display: notes the frame index of every frame drawn and
// whether a device still was armed when it was drawn.
class FrameSpy : public FrameDrawer {
public:
    FrameSpy(FrameDrawer& display, const CaptureSession& session)
        : display_(display), session_(session) {}
    int DrawFrame(const std::uint8_t* buffer, std::size_t lengthBytes, int width,
                  int height) override {
        if (buffer != nullptr && width > 0 && height > 0 &&
            lengthBytes >= static_cast<std::size_t>(BgrRowBytes(width)) * height) {
            // Rows top-down: the code is in the first.
            if (const std::optional<std::uint32_t> index = sim::ReadFrameIndexBgr(buffer, width)) {
                std::lock_guard lock(mutex_);
                drawn_.push_back({*index, session_.KeepsNextFrame()});
            }
        }
        return display_.DrawFrame(buffer, lengthBytes, width, height);
    }
    void ReleaseMemorySurface() override { display_.ReleaseMemorySurface(); }

    struct Drawn {
        std::uint32_t index;
        bool armed;
    };
    std::vector<Drawn> drawn() const {
        std::lock_guard lock(mutex_);
        return drawn_;
    }

private:
    FrameDrawer& display_;
    const CaptureSession& session_;
    mutable std::mutex mutex_;
    std::vector<Drawn> drawn_;
};

class ControllerTest : public ::testing::Test {
protected:
    void TearDown() override { SetProgramPaths({}); }

    // Starts the window on a simulated microscope of `kind` (-1: the system's devices).
    void Start(int kind = 0) {
        StartupEnvironment environment;
        environment.executablePath = program / "digital-microscope";
        environment.documentsFolder = documentsFolder.empty() ? documents.path() : documentsFolder;
        environment.languageId = 0x0409;
        environment.simulatedKind = kind;
        environment.simulatedFrameCode = true;  // the tests tell frames apart by their code
        environment.audioSink = "fakesink";
        environment.homepage = homepage;
        environment.calibrationFile = program / "calibration.ini";
        dialog = std::make_unique<CMicroscopeDlg>(environment);
        ASSERT_TRUE(dialog->OnInitDialog());
        dialog->show();
    }

    CaptureEngine& engine() { return dialog->capture()->engine(); }
    CaptureSession& session() { return dialog->capture()->session(); }
    sim::SimulatedMicroscope& microscope() { return *dialog->capture()->simulated(); }
    DevicePresence& presence() { return *dialog->presence(); }
    VideoDisplayWindow& display() { return *dialog->displayWindow(); }
    std::string Picture(int number) const {
        return documents / ("Microscope files/Picture/StillCap" + std::to_string(number) + ".bmp");
    }

    bool Streaming() {
        const std::uint64_t before = display().framesDrawn();
        return WaitUntil([&] { return display().framesDrawn() >= before + 2; });
    }
    bool PreviewOn() const { return dialog->skin()->Toggle(control::kPreview)->IsOn() != 0; }
    bool AviOn() const { return dialog->skin()->Toggle(control::kAvi)->IsOn() != 0; }
    int EnabledCaptureButtons() const {
        int enabled = 0;
        for (const int id : kCaptureButtons) {
            enabled += dialog->skin()->Button(id)->isEnabled() ? 1 : 0;
        }
        return enabled;
    }
    void ExpectLive() {
        EXPECT_EQ(dialog->mode(), WindowMode::Live);
        EXPECT_EQ(presence().deviceConnected(), 1);
        EXPECT_TRUE(engine().running());
        EXPECT_TRUE(PreviewOn());
        EXPECT_EQ(EnabledCaptureButtons(), 7);
        EXPECT_TRUE(display().connectText().isEmpty());
        EXPECT_TRUE(Streaming());
    }
    void ExpectNoDevice() {
        EXPECT_EQ(dialog->mode(), WindowMode::NoDevice);
        EXPECT_EQ(presence().deviceConnected(), 0);
        EXPECT_FALSE(engine().running());
        EXPECT_FALSE(PreviewOn());
        EXPECT_EQ(EnabledCaptureButtons(), 0);
        EXPECT_EQ(display().connectText(), QString::fromUtf8(kConnectText));
    }

    // The message boxes on screen.
    static int VisibleMessageBoxes() {
        int count = 0;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            count += qobject_cast<QMessageBox*>(widget) != nullptr && widget->isVisible() ? 1 : 0;
        }
        return count;
    }
    // Asks for a still and waits until the window has handled it.
    bool TakePicture() {
        dialog->OnCommand(control::kCamera);
        return WaitUntil([&] { return !session().StillPending(); });
    }

    TempDir program;
    TempDir documents;
    std::string documentsFolder;  // instead of `documents`
    std::string homepage;         // Help > Update's address
    UrlCatcher urls;              // no browser or viewer opens during the tests
    std::unique_ptr<CMicroscopeDlg> dialog;
};

TEST_F(ControllerTest, CameraInLiveWritesAStillAndPlaysTheShutter) {
    Start();
    ExpectLive();
    QSignalSpy sounds(&dialog->sounds(), &SoundPlayer::soundRequested);
    dialog->OnCommand(control::kCamera);
    ASSERT_TRUE(WaitUntil([&] { return sounds.count() == 1; }));
    EXPECT_EQ(sounds.at(0).at(0).toInt(), sound::kShutter);
    ASSERT_TRUE(Exists(Picture(0)));
    EXPECT_EQ(ReadFile(Picture(0)).size(), 54u + 720u * 480u * 3u);
    EXPECT_EQ(dialog->stillWriter()->stillCounter(), 1);
    // The list has it at once, framed but not yet chosen.
    const CThumbnailList& list = *dialog->fileList();
    ASSERT_EQ(list.items(MediaKind::Pictures).size(), 1u);
    EXPECT_EQ(list.items(MediaKind::Pictures)[0].path, Picture(0));
    EXPECT_EQ(list.items(MediaKind::Pictures)[0].flags, itemflag::kValid | itemflag::kUnsaved);
    EXPECT_EQ(list.selectedIndex(MediaKind::Pictures), 0);

    // The capture menu's Take Picture does the same.
    dialog->OnCommand(menucommand::kTakePicture);
    ASSERT_TRUE(WaitUntil([&] { return sounds.count() == 2; }));
    EXPECT_TRUE(Exists(Picture(1)));
    EXPECT_TRUE(engine().running());
}

TEST_F(ControllerTest, AStorageTreeThatCannotBeMadeIsSaidOnceAtStartUp) {
    documentsFolder = documents / "Documents";
    WriteFile(documentsFolder, "a file where the documents folder should be");
    MessageBoxAnswerer answerer;
    Start();
    ExpectLive();  // the live picture needs no folder
    ASSERT_TRUE(WaitUntil([&] { return !answerer.boxes.empty(); }));
    EXPECT_EQ(answerer.boxes[0].title, dialog->MessageTitle());
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(answerer.boxes[0].text.toStdString(),
              "The folder " + documentsFolder +
                  "/Microscope files could not be made: Not a "
                  "directory");
    EXPECT_FALSE(WaitUntil([&] { return answerer.boxes.size() > 1; }, 300));
}

TEST_F(ControllerTest, AStillThatCannotBeSavedIsSaidInOneBoxAndNotWithTheShutter) {
    Start();
    ExpectLive();
    const std::string pictures = documents / "Microscope files/Picture";
    // A file in the picture folder's place, which not even root can write into.
    ASSERT_TRUE(std::filesystem::remove(pictures));
    WriteFile(pictures, "in the way");
    QSignalSpy sounds(&dialog->sounds(), &SoundPlayer::soundRequested);

    ASSERT_TRUE(TakePicture());
    ASSERT_TRUE(WaitUntil([&] { return dialog->openWarning() != nullptr; }));
    QMessageBox* box = dialog->openWarning();
    EXPECT_EQ(box->windowTitle(), dialog->MessageTitle());
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->text().toStdString(),
              "The folder " + pictures + " could not be made: a file of that name is in the way");
    EXPECT_TRUE(box->isModal());
    // A burst of further failures while it is open adds no box, and the picture goes on.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(TakePicture());
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(VisibleMessageBoxes(), 1);
    EXPECT_EQ(sounds.count(), 0);
    EXPECT_EQ(ReadFile(pictures), "in the way");
    EXPECT_TRUE(Streaming());

    // Answered, the window takes stills again once the folder can be made.
    QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return VisibleMessageBoxes() == 0; }));
    ASSERT_TRUE(std::filesystem::remove(pictures));
    ASSERT_TRUE(TakePicture());
    ASSERT_TRUE(WaitUntil([&] { return sounds.count() == 1; }));
    EXPECT_EQ(sounds.at(0).at(0).toInt(), sound::kShutter);
    EXPECT_TRUE(Exists(Picture(0)));
    EXPECT_EQ(dialog->openWarning(), nullptr);
}

TEST_F(ControllerTest, AStillCutShortByAFullFileSystemIsSaidAndLeavesNoFile) {
    Start();
    ExpectLive();
    QSignalSpy sounds(&dialog->sounds(), &SoundPlayer::soundRequested);
    // The file size limit fails a write the way a full disk does, for root too.
    struct rlimit saved = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const sighandler_t savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = saved;
    limit.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool handled = TakePicture();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);
    ASSERT_TRUE(handled);

    ASSERT_TRUE(WaitUntil([&] { return dialog->openWarning() != nullptr; }));
    EXPECT_EQ(dialog->openWarning()->text().toStdString(),
              "The picture could not be saved to " + Picture(0) + ": File too large");
    EXPECT_FALSE(Exists(Picture(0)));
    EXPECT_EQ(sounds.count(), 0);
}

TEST_F(ControllerTest, AStorageTreeDeletedWhileRunningIsMadeAgainForTheNextStill) {
    Start();
    ExpectLive();
    std::filesystem::remove_all(documents / "Microscope files");
    QSignalSpy sounds(&dialog->sounds(), &SoundPlayer::soundRequested);
    ASSERT_TRUE(TakePicture());
    ASSERT_TRUE(WaitUntil([&] { return sounds.count() == 1; }));
    EXPECT_TRUE(Exists(Picture(0)));
    EXPECT_TRUE(testsupport::IsDirectory(documents / "Microscope files/Video"));
    EXPECT_EQ(VisibleMessageBoxes(), 0);
}

TEST_F(ControllerTest, PreviewSwitchesBetweenLiveAndBrowseWhereCameraAndClockOnlyExplain) {
    Start();
    ExpectLive();
    dialog->OnCommand(control::kPreview);
    EXPECT_EQ(dialog->mode(), WindowMode::Browse);
    EXPECT_FALSE(PreviewOn());
    EXPECT_FALSE(engine().running());
    EXPECT_EQ(EnabledCaptureButtons(), 7);

    MessageBoxAnswerer answerer;
    QSignalSpy sounds(&dialog->sounds(), &SoundPlayer::soundRequested);
    for (const int command :
         {control::kCamera, menucommand::kTakePicture, control::kClock, menucommand::kTimeLapse}) {
        dialog->OnCommand(command);
    }
    ASSERT_EQ(answerer.boxes.size(), 4u);
    for (const MessageBoxAnswerer::Box& box : answerer.boxes) {
        EXPECT_EQ(box.title, dialog->MessageTitle());
        EXPECT_EQ(box.text, QString::fromUtf8(kBrowseText));
        EXPECT_EQ(box.icon, QMessageBox::Warning);
    }
    EXPECT_FALSE(session().StillPending());
    QCoreApplication::processEvents();
    EXPECT_FALSE(Exists(Picture(0)));
    EXPECT_EQ(sounds.count(), 0);

    dialog->OnCommand(control::kPreview);
    ExpectLive();
}

// What moves the window from one mode to another.
enum class ModeEvent { Preview, Unplug, Plug, Resume };

// Each row starts a window on the simulated microscope, brings it into `from` the way a user
// gets there, and sends `event`.
TEST_F(ControllerTest, EachModeAnswersPreviewUnplugPlugAndResume) {
    using enum WindowMode;
    using enum ModeEvent;
    struct Row {
        WindowMode from;
        ModeEvent event;
        WindowMode to;
        bool previewOn;
        bool aviOn;
        bool captureButtonsEnabled;
        bool graphRunning;
    };
    const Row rows[] = {
        {Live, Preview, Browse, false, false, true, false},
        {Browse, Preview, Live, true, false, true, true},
        {Recording, Preview, Live, true, false, true, true},
        // The disabled Preview button has nothing to preview.
        {NoDevice, Preview, NoDevice, false, false, false, false},
        {Live, Unplug, NoDevice, false, false, false, false},
        {Browse, Unplug, NoDevice, false, false, false, false},
        {Recording, Unplug, NoDevice, false, false, false, false},
        {NoDevice, Plug, Live, true, false, true, true},
        {Browse, Resume, Live, true, false, true, true},
        {Recording, Resume, Live, true, false, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "from " << static_cast<int>(row.from) << ", event "
                                        << static_cast<int>(row.event));
        dialog.reset();
        Start();
        switch (row.from) {
            case Live:
                break;
            case Browse:
                dialog->OnCommand(control::kPreview);
                break;
            case Recording: {
                RecorderSettingsAnswerer answer(15, 0);
                dialog->OnCommand(control::kAvi);
                break;
            }
            case NoDevice:
                microscope().Unplug();
                ASSERT_TRUE(WaitUntil([&] { return presence().deviceConnected() == 0; }));
                break;
        }
        ASSERT_EQ(dialog->mode(), row.from);

        switch (row.event) {
            case Preview:
                dialog->OnCommand(control::kPreview);
                break;
            case Unplug:
                microscope().Unplug();
                ASSERT_TRUE(WaitUntil([&] { return presence().deviceConnected() == 0; }));
                break;
            case Plug:
                microscope().Plug();
                ASSERT_TRUE(WaitUntil([&] { return presence().deviceConnected() == 1; }));
                break;
            case Resume:
                presence().OnResumed();
                break;
        }
        EXPECT_EQ(dialog->mode(), row.to);
        EXPECT_EQ(PreviewOn(), row.previewOn);
        EXPECT_EQ(AviOn(), row.aviOn);
        EXPECT_EQ(EnabledCaptureButtons(), row.captureButtonsEnabled ? 7 : 0);
        EXPECT_EQ(display().connectText().isEmpty(), row.captureButtonsEnabled);
        EXPECT_EQ(engine().running(), row.graphRunning);
        // Whatever leaves Recording ends the recording.
        EXPECT_FALSE(session().recording());
    }
}

TEST_F(ControllerTest, WithoutAnyMicroscopeTheWindowWaitsQuietly) {
    TraceRecorder trace;
    Start(-1);
    ExpectNoDevice();
    // The overlay switches do nothing without a device.
    for (const int command : {menucommand::kCross, menucommand::kPopupCross, menucommand::kGrid,
                              menucommand::kCircles, menucommand::kClock}) {
        dialog->OnCommand(command);
    }
    const OverlaySwitches& overlays = display().overlays();
    EXPECT_EQ(
        overlays.showCrossLine + overlays.showGrid + overlays.showCircles + overlays.showClock, 0);
    // Nothing is retried, polled or reported over and over.
    const std::size_t lines = trace.Lines().size();
    EXPECT_FALSE(WaitUntil([] { return false; }, 1500));
    EXPECT_EQ(trace.Lines().size(), lines);
    EXPECT_FALSE(presence().connectionTimer().isActive());
}

// Calibrate, then measure, on the live picture: the drawn line and the typed length make the
// current calibration, kept in the file; Measure reads lengths with it; Escape ends a tool; a
// still taken with Burn Overlays on carries the scale bar at the frame's own scale.
TEST_F(ControllerTest, CalibrateMeasureAndBurnTheScaleBarIntoAStill) {
    Start();
    ExpectLive();
    MeasureController& measure = *dialog->measure();
    const auto drag = [&](QPoint from, QPoint to) {
        for (const auto& [type, at, buttons] :
             {std::tuple{QEvent::MouseButtonPress, from, Qt::LeftButton},
              std::tuple{QEvent::MouseMove, to, Qt::LeftButton},
              std::tuple{QEvent::MouseButtonRelease, to, Qt::NoButton}}) {
            QMouseEvent event(type, QPointF(at), QPointF(display().mapToGlobal(at)),
                              type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                              Qt::NoModifier);
            QCoreApplication::sendEvent(&display(), &event);
        }
    };
    int dialogs = 0;
    measure.SetDialogRunner([&](CalibrateDialog& calibrate) {
        ++dialogs;
        calibrate.lengthEdit()->setText(QStringLiteral("1"));
        calibrate.unitBox()->setCurrentIndex(1);  // mm
        calibrate.nameBox()->setEditText(QStringLiteral("\u00D7200"));
        calibrate.accept();
        return calibrate.result();
    });
    dialog->OnCommand(menucommand::kCalibrate);
    EXPECT_EQ(display().pointerTool(), VideoDisplayWindow::PointerTool::kCalibrate);
    // The window stretches the frame over its 622 x 487 pixels.
    const QSize frame = display().ShownFrameSize();
    ASSERT_FALSE(frame.isEmpty());
    const double framePixelsPerWindowPixel = double(frame.width()) / kDisplayRect.width();
    drag({100, 200}, {500, 200});
    EXPECT_EQ(dialogs, 1);
    EXPECT_EQ(measure.currentName(), QStringLiteral("\u00D7200"));
    EXPECT_EQ(display().pointerTool(), VideoDisplayWindow::PointerTool::kPan);
    const PictureScale scale = measure.ScaleFor(frame);
    EXPECT_NEAR(scale.xMicrometresPerPixel, 1000.0 / (400 * framePixelsPerWindowPixel), 0.01);
    EXPECT_TRUE(dialog->statusLine()->text().contains(QStringLiteral("\u00D7200")));
    // Kept in the file, and scaled at half the resolution.
    CalibrationStore stored(QString::fromStdString(program / "calibration.ini"));
    ASSERT_TRUE(stored.Load());
    ASSERT_EQ(stored.ForDevice(measure.deviceKey()).size(), 1u);
    const PictureScale half = measure.ScaleFor(frame / 2);
    EXPECT_NEAR(half.xMicrometresPerPixel, 2 * scale.xMicrometresPerPixel, 1e-9);
    EXPECT_EQ(half.scaledFrom, frame);

    dialog->OnCommand(menucommand::kMeasure);
    drag({100, 100}, {400, 100});
    ASSERT_TRUE(display().measuredLine());
    const double measured = display().measuredLine()->length();
    EXPECT_NEAR(measured, 300 * framePixelsPerWindowPixel, 1.5);
    EXPECT_EQ(display().measuredLabel(), LengthText(measured * scale.xMicrometresPerPixel));
    EXPECT_TRUE(dialog->statusLine()->text().contains(display().measuredLabel()));
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(display().pointerTool(), VideoDisplayWindow::PointerTool::kPan);
    EXPECT_FALSE(display().measuredLine());

    dialog->OnCommand(menucommand::kScaleBar);
    dialog->OnCommand(menucommand::kBurnOverlays);
    ASSERT_TRUE(TakePicture());
    const std::optional<std::string> bmp = ReadFile(Picture(0));
    ASSERT_TRUE(bmp.has_value());
    const QImage still = QImage::fromData(QByteArray::fromStdString(*bmp), "BMP");
    ASSERT_EQ(still.size(), frame);
    const QRect frameRect(QPoint(0, 0), frame);
    const ScaleBarChoice bar = ChooseScaleBar(frameRect, QRectF(frameRect), frame, scale);
    int longest = 0;
    for (int y = frame.height() * 3 / 4; y < frame.height(); ++y) {
        int run = 0;
        for (int x = 0; x < frame.width(); ++x) {
            run = still.pixel(x, y) == qRgb(255, 255, 255) ? run + 1 : 0;
            longest = std::max(longest, run);
        }
    }
    EXPECT_NEAR(longest, bar.framePixels, 3.0);
}

// A calibration file that cannot be read is said once the window is up; the program starts
// without calibrations.
TEST_F(ControllerTest, ADamagedCalibrationFileIsSaidOnceTheWindowIsUp) {
    WriteFile(program / "calibration.ini", std::string("\x00\xff[calibrations]\n1\\name=", 20));
    Start();
    ASSERT_TRUE(WaitUntil([&] { return dialog->openWarning() != nullptr; }));
    EXPECT_TRUE(dialog->openWarning()->text().startsWith(QString::fromStdString(
        "The calibrations in " + (program / "calibration.ini") + " could not be read: ")))
        << dialog->openWarning()->text().toStdString();
    EXPECT_FALSE(dialog->measure()->ScaleFor({640, 480}).valid());
}

TEST_F(ControllerTest, OverlayCommandsSwitchOnAndOffWithADevice) {
    Start();
    const OverlaySwitches& overlays = display().overlays();
    dialog->OnCommand(menucommand::kPopupCross);
    dialog->OnCommand(menucommand::kGrid);
    dialog->OnCommand(menucommand::kCircles);
    dialog->OnCommand(menucommand::kClock);
    EXPECT_EQ(overlays.showCrossLine.load() + overlays.showGrid.load() +
                  overlays.showCircles.load() + overlays.showClock.load(),
              4);
    dialog->OnCommand(menucommand::kCross);
    EXPECT_EQ(overlays.showCrossLine.load(), 0);
}

// Every command of the window, from a button, the menu bar or a pop-up, in Live: each does its
// own work (or, for the buttons and items the window never shows, nothing) without a warning.
// The table must name every button and menu item.
TEST_F(ControllerTest, EveryCommandDoesItsWorkWithoutAWarning) {
    using namespace control;
    using namespace menucommand;
    // Commands that open a dialog of their own, or a reminder without a selected file, tested
    // with it.
    const std::vector<int> withDialogs = {
        kAvi,           kTakeVideo,      kCompress,           kSave,      kPopupSave,
        kSaveAs,        control::kEMail, menucommand::kEMail, kPopupOpen, menucommand::kOpen,
        control::kOpen, control::kClock, kTimeLapse,          kSetting,   kDevice,
        kAbout};
    // Commands that do their own work, or nothing for the buttons and items the window never
    // shows, or nothing without a selected file. Preview leaves Live and Close ends the window
    // once events run: they come last.
    const std::vector<int> built = {kCamera,       kTakePicture, kDecZoom,
                                    kIncZoom,      kCross,       kPopupCross,
                                    kGrid,         kCircles,     menucommand::kClock,
                                    kHelp,         kMini,        kFullScreen,
                                    kHand,         kVideoColor,  kVideoFormat,
                                    kPopupDelete,  kDelete,      kPopupDeleteAll,
                                    kDeleteAll,    kPlay,        kStop,
                                    kFirst,        kLast,        kStepBack,
                                    kStepForward,  kManual,      kUpdate,
                                    kMeasure,      kCalibrate,   kScaleBar,
                                    kBurnOverlays, kPreview,     kClose};
    Start();
    ExpectLive();
    const MainWindowSkin& skin = *dialog->skin();
    std::set<int> everyCommand;
    for (const SkinButton& entry : kSkinButtons) {
        everyCommand.insert(entry.id);
    }
    for (const QWidget* menu : {static_cast<const QWidget*>(dialog->menuBar()),
                                static_cast<const QWidget*>(skin.menus().filePopup.get()),
                                static_cast<const QWidget*>(skin.menus().displayPopup.get()),
                                static_cast<const QWidget*>(skin.menus().settingsPopup.get()),
                                static_cast<const QWidget*>(skin.menus().helpPopup.get())}) {
        for (const QAction* action : menu->findChildren<QAction*>()) {
            if (action->objectName().startsWith(QLatin1String("command"))) {
                everyCommand.insert(action->objectName().mid(7).toInt());
            }
        }
    }
    for (const int id : built) {
        SCOPED_TRACE(id);
        dialog->OnCommand(id);
        EXPECT_EQ(dialog->openWarning(), nullptr);
    }
    std::set<int> tested(built.begin(), built.end());
    tested.insert(withDialogs.begin(), withDialogs.end());
    EXPECT_EQ(tested.size(), built.size() + withDialogs.size());
    EXPECT_EQ(tested, everyCommand);
}

// Manual, Update and About from the menu bar's Help and from the Help button's pop-up. The
// manual is the one beside the program; Update opens the build's address, and without one
// both its items are disabled and it opens nothing.
TEST_F(ControllerTest, BothHelpMenusOpenTheManualTheWebPageAndTheAboutBox) {
    std::filesystem::create_directory(program / "manual");
    WriteFile(program / "manual/index.html", "<html></html>");
    for (const char* address : {"https://example.org/microscope/", ""}) {
        SCOPED_TRACE(address);
        homepage = address;
        Start();
        const QUrl manual =
            QUrl::fromLocalFile(QString::fromStdString(program / "manual/index.html"));
        for (const QWidget* menu :
             {static_cast<const QWidget*>(dialog->menuBar()),
              static_cast<const QWidget*>(dialog->skin()->menus().helpPopup.get())}) {
            urls.opened.clear();
            FindCommand(*menu, menucommand::kManual)->trigger();
            QAction* update = FindCommand(*menu, menucommand::kUpdate);
            EXPECT_EQ(update->isEnabled(), !homepage.empty());
            update->trigger();
            dialog->OnCommand(menucommand::kUpdate);
            std::vector<QUrl> expected = {manual};
            if (!homepage.empty()) {
                expected.insert(expected.end(), 2, QUrl(QString::fromStdString(homepage)));
            }
            EXPECT_EQ(urls.opened, expected);

            QString about;
            QTimer::singleShot(0, [&about] {
                if (auto* box = qobject_cast<AboutDialog*>(QApplication::activeModalWidget())) {
                    about = box->windowTitle();
                    QTest::keyClick(box, Qt::Key_Escape);
                }
            });
            FindCommand(*menu, menucommand::kAbout)->trigger();
            EXPECT_EQ(about, QStringLiteral("About USB 2.0 Digital Microscope"));
        }
        dialog.reset();
    }
}

TEST_F(ControllerTest, UnpluggingShowsNoDeviceAndPluggingInReturnsToLiveAfterTheBurst) {
    Start();
    ExpectLive();
    microscope().Unplug();
    ASSERT_TRUE(WaitUntil([&] { return presence().deviceConnected() == 0; }));
    ExpectNoDevice();
    // The overlays stay off while there is no device.
    dialog->OnCommand(menucommand::kCross);
    EXPECT_EQ(display().overlays().showCrossLine.load(), 0);

    microscope().Plug();
    // The burst of node changes arrives; the check waits a second after the last of them.
    ASSERT_TRUE(WaitUntil([&] { return presence().connectionTimer().isActive(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(presence().connectionTimer().interval(), 1000);
    EXPECT_EQ(presence().deviceConnected(), 0);
    ASSERT_TRUE(WaitUntil([&] { return presence().deviceConnected() == 1; }));
    ExpectLive();
}

TEST_F(ControllerTest, ABurstOfChangesWhileConnectedChangesNothingVisible) {
    Start();
    ExpectLive();
    TraceRecorder trace;
    for (int i = 0; i < 3; ++i) {
        presence().OnDeviceEvent(platform::DeviceEvent::NodesChanged);
    }
    ASSERT_TRUE(WaitUntil([&] { return !presence().connectionTimer().isActive(); }));
    ExpectLive();
    // The graph was not rebuilt.
    EXPECT_FALSE(trace.Contains("Sample Format(720,480)\n"));
}

TEST_F(ControllerTest, ResumeTearsDownAndReconnectsEvenFromBrowse) {
    Start();
    ExpectLive();
    dialog->OnCommand(control::kPreview);
    ASSERT_FALSE(PreviewOn());
    TraceRecorder trace;
    presence().OnResumed();
    EXPECT_TRUE(trace.Contains("Sample Format(720,480)\n"));
    ExpectLive();
}

TEST_F(ControllerTest, AButtonPressWhileAStillIsPendingWaitsUntilItIsDone) {
    Start();
    ExpectLive();
    // Browse: the graph stands still, so the request stays pending.
    dialog->OnCommand(control::kPreview);
    session().RequestStill(StillSource::CameraButton);
    microscope().PressButton();
    presence().PollButton();
    EXPECT_EQ(session().PendingStill(), StillSource::CameraButton);
    session().DropStill();
    presence().PollButton();
    EXPECT_EQ(session().PendingStill(), StillSource::DeviceButton);
}

TEST_F(ControllerTest, TheDeviceButtonSavesTheFrameAfterTheSkippedOne) {
    Start();
    ExpectLive();
    ASSERT_EQ(engine().libraryDeviceMode(), 1);
    ASSERT_TRUE(presence().buttonPollTimer().isActive());
    FrameSpy spy(display(), session());
    engine().SetDisplayWindow(&spy);
    QSignalSpy sounds(&dialog->sounds(), &SoundPlayer::soundRequested);

    microscope().PressButton();
    presence().PollButton();
    ASSERT_TRUE(WaitUntil([&] { return sounds.count() == 1; }));
    ASSERT_TRUE(Exists(Picture(0)));
    const std::string file = ReadFile(Picture(0));
    ASSERT_EQ(file.size(), 54u + 720u * 480u * 3u);
    const auto* topRow = reinterpret_cast<const std::uint8_t*>(file.data()) + 54 + 720 * 3 * 479;
    const std::optional<std::uint32_t> saved = sim::ReadFrameIndexBgr(topRow, 720);
    ASSERT_TRUE(saved.has_value());

    // The frame drawn right after the skipped one (the sink may drop frames when the
    // streaming thread falls behind, so indices need not be consecutive).
    const std::vector<FrameSpy::Drawn> drawn = spy.drawn();
    std::optional<std::size_t> skipped;
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        if (drawn[i].armed) {
            EXPECT_FALSE(skipped.has_value()) << "two frames skipped";
            skipped = i;
        }
    }
    ASSERT_TRUE(skipped.has_value());
    ASSERT_LT(*skipped + 1, drawn.size());
    EXPECT_EQ(*saved, drawn[*skipped + 1].index);
    EXPECT_GT(*saved, drawn[*skipped].index);

    // The graph was rebuilt and streams again.
    EXPECT_TRUE(Streaming());
    engine().StopGraph();
    engine().SetDisplayWindow(dialog->displayWindow());
}

TEST_F(ControllerTest, TheCameraKeyStandsInForTheButtonOnlyWhereTheButtonCannotBeRead) {
    Start();
    // The simulated device reports its button itself: the key is not a second press.
    dialog->setFocus();
    QKeyEvent key(QEvent::KeyPress, Qt::Key_WebCam, Qt::NoModifier);
    QApplication::sendEvent(dialog.get(), &key);
    presence().PollButton();
    EXPECT_FALSE(session().StillPending());
}

TEST_F(ControllerTest, AClickOnACategoryTabShowsThatCategory) {
    Start();
    QWidget* client = dialog->centralWidget();
    MainWindowSkin& skin = *dialog->skin();
    ASSERT_EQ(skin.mediaKind(), MediaKind::Pictures);
    QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, QPoint(160, 60));
    EXPECT_EQ(skin.mediaKind(), MediaKind::Videos);
    // Between the tabs nothing changes.
    QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, QPoint(107, 60));
    EXPECT_EQ(skin.mediaKind(), MediaKind::Videos);
    QTest::mouseClick(client, Qt::LeftButton, Qt::NoModifier, QPoint(50, 60), 0);
    EXPECT_EQ(skin.mediaKind(), MediaKind::Pictures);
    QTest::mouseClick(client, Qt::RightButton, Qt::NoModifier, QPoint(160, 60));
    EXPECT_EQ(skin.mediaKind(), MediaKind::Pictures);
}

TEST_F(ControllerTest, AClickShowsTheItemAndOneThatCannotBeReadLeavesThePictureShown) {
    const std::string pictures = documents / "Microscope files/Picture";
    std::filesystem::create_directories(pictures);
    const std::string red = pictures + "/StillCap1.bmp";
    testsupport::RunCommand("convert -size 64x48 xc:red BMP3:'" + red + "'");
    WriteFile(pictures + "/StillCap2.bmp", std::string(41, 'x'));  // listed, unreadable
    Start();
    ExpectLive();
    CThumbnailList& list = *dialog->fileList();
    ASSERT_EQ(list.items(MediaKind::Pictures).size(), 2u);

    // In Live a click chooses the picture, but the display keeps the live picture.
    QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, list.CellRect(0).center());
    EXPECT_EQ(dialog->viewerPath(), red);
    EXPECT_EQ(dialog->mode(), WindowMode::Live);
    EXPECT_FALSE(display().hasPicture());
    // A double click ends in Browse with the picture on the display.
    QTest::mouseDClick(&list, Qt::LeftButton, Qt::NoModifier, list.CellRect(0).center());
    EXPECT_EQ(dialog->mode(), WindowMode::Browse);
    EXPECT_FALSE(engine().running());
    ASSERT_TRUE(display().hasPicture());
    const QImage shown = display().SurfaceSnapshot();
    EXPECT_EQ(shown.pixel(shown.width() / 2, shown.height() / 2), qRgb(255, 0, 0));
    EXPECT_TRUE(dialog->skin()->Button(control::kIncZoom)->isEnabled());

    // What cannot be read, or is gone, or is nothing, changes nothing on the display.
    QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, list.CellRect(1).center());
    EXPECT_EQ(list.selectedIndex(MediaKind::Pictures), 1);
    EXPECT_EQ(dialog->viewerPath(), red);
    EXPECT_EQ(display().SurfaceSnapshot(), shown);
    ASSERT_TRUE(std::filesystem::remove(red));
    QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, list.CellRect(0).center());
    EXPECT_EQ(list.items(MediaKind::Pictures).size(), 1u);
    EXPECT_EQ(display().SurfaceSnapshot(), shown);
    dialog->skin()->SwitchCategory(MediaKind::Videos);
    EXPECT_EQ(list.mediaKind(), MediaKind::Videos);
    EXPECT_EQ(display().SurfaceSnapshot(), shown);
}

TEST_F(ControllerTest, FileCommandsWithoutASelectionRemindOrDoNothing) {
    using namespace menucommand;
    const QString reminder =
        QStringLiteral("Please select a picture or video first, And then try it agian");
    const std::vector<int> remind = {control::kSave,    kPopupSave,          kSaveAs,
                                     control::kEMail,   menucommand::kEMail, kPopupOpen,
                                     menucommand::kOpen};
    const std::vector<int> silent = {kPopupDelete, kDelete, kPopupDeleteAll, kDeleteAll};
    Start();
    ExpectLive();
    ASSERT_TRUE(TakePicture());  // framed as the newest, but not chosen yet
    MessageBoxAnswerer answer;
    for (const int id : remind) {
        SCOPED_TRACE(id);
        const std::size_t before = answer.boxes.size();
        dialog->OnCommand(id);
        ASSERT_EQ(answer.boxes.size(), before + 1);
        EXPECT_EQ(answer.boxes.back().text, reminder);
        EXPECT_EQ(answer.boxes.back().title, dialog->MessageTitle());
        EXPECT_EQ(answer.boxes.back().icon, QMessageBox::Warning);
    }
    for (const int id : silent) {
        dialog->OnCommand(id);
    }
    EXPECT_EQ(answer.boxes.size(), remind.size());
    EXPECT_TRUE(Exists(Picture(0)));
    EXPECT_EQ(dialog->fileList()->items(MediaKind::Pictures).size(), 1u);
}

// Save as: a failed copy says so and changes nothing; the picture folder itself is refused;
// a JPEG is converted and a bitmap copied, and the first save marks the item saved on disk.
TEST_F(ControllerTest, SaveAsConvertsOrCopiesAndMarksTheItemSavedOnlyWhenACopyExists) {
    Start();
    ExpectLive();
    ASSERT_TRUE(TakePicture());
    CThumbnailList& list = *dialog->fileList();
    QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, list.CellRect(0).center());
    const std::string pictures = documents / "Microscope files/Picture";
    const std::string saved = pictures + "/AStillCap0.bmp";
    const std::string out = documents / "out";
    std::filesystem::create_directories(out);
    std::filesystem::create_symlink(documents / "gone/bad.jpg", out + "/bad.jpg");
    struct Row {
        std::string target;
        std::string written;  // "" when nothing may be written
        QString box;          // the start of the box's text, "" for none
        std::string itemPath;
    };
    const Row rows[] = {
        // A link into a folder that is not there: nothing can be written through it.
        {out + "/bad.jpg", "",
         QString::fromStdString("The file could not be saved as " + out + "/bad.jpg"), Picture(0)},
        {pictures + "/Cap.jpg", "", QStringLiteral("Can't save file to temp directory!!"),
         Picture(0)},
        {out + "/Cap.jpg", out + "/Cap.jpg", QString(), saved},
        {out + "/Copy.bmp", out + "/Copy.bmp", QString(), saved},
        {out + "/Lossless.png", out + "/Lossless.png", QString(), saved},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.target);
        QStringList filters;
        QString suffix;
        dialog->SetFileDialogRunner([&](QFileDialog& save) {
            filters = save.nameFilters();
            suffix = save.defaultSuffix();
            return QString::fromStdString(row.target);
        });
        MessageBoxAnswerer answer;
        dialog->OnCommand(control::kSave);
        EXPECT_EQ(filters, (QStringList{QStringLiteral("JPEG Files(*.jpg)"),
                                        QStringLiteral("Bitmap Files(*.bmp)"),
                                        QStringLiteral("PNG Files(*.png)"),
                                        QStringLiteral("TIFF Files(*.tif *.tiff)")}));
        EXPECT_EQ(suffix, QStringLiteral("jpg"));
        if (row.box.isEmpty()) {
            EXPECT_TRUE(answer.boxes.empty());
        } else {
            ASSERT_EQ(answer.boxes.size(), 1u);
            EXPECT_TRUE(answer.boxes[0].text.startsWith(row.box))
                << answer.boxes[0].text.toStdString();
        }
        const MediaItem& item = list.items(MediaKind::Pictures).at(0);
        EXPECT_EQ(item.path, row.itemPath);
        EXPECT_EQ((item.flags & itemflag::kUnsaved) != 0, row.itemPath == Picture(0));
        EXPECT_TRUE(Exists(row.itemPath));
        if (!row.written.empty()) {
            ASSERT_TRUE(Exists(row.written));
        }
    }
    EXPECT_FALSE(Exists(pictures + "/Cap.jpg"));
    EXPECT_EQ(testsupport::RunCommand("djpeg -bmp '" + out + "/Cap.jpg' | wc -c"),
              std::to_string(54 + 720 * 480 * 3) + "\n");
    EXPECT_EQ(ReadFile(out + "/Copy.bmp"), ReadFile(saved));
    // The PNG names the device the still was taken with.
    EXPECT_EQ(testsupport::RunCommand("identify -format '%[Source]' '" + out + "/Lossless.png'"),
              "Simulated Microscope");
}

TEST_F(ControllerTest, DeleteTakesTheChosenFileAndDeleteAllTheWholeFolder) {
    Start();
    ExpectLive();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(TakePicture());
    }
    CThumbnailList& list = *dialog->fileList();
    ASSERT_EQ(list.items(MediaKind::Pictures).size(), 3u);
    QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, list.CellRect(1).center());
    dialog->OnCommand(menucommand::kDelete);
    EXPECT_FALSE(Exists(Picture(1)));
    EXPECT_TRUE(Exists(Picture(0)));
    ASSERT_EQ(list.items(MediaKind::Pictures).size(), 2u);
    EXPECT_EQ(list.items(MediaKind::Pictures)[1].path, Picture(2));
    EXPECT_EQ(list.selectedIndex(MediaKind::Pictures), -1);

    // Delete All takes every file of the folder, listed or not.
    WriteFile(documents / "Microscope files/Picture/notes.txt", "not listed");
    QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, list.CellRect(0).center());
    dialog->OnCommand(menucommand::kDeleteAll);
    EXPECT_TRUE(list.items(MediaKind::Pictures).empty());
    EXPECT_TRUE(std::filesystem::is_empty(documents / "Microscope files/Picture"));
}

TEST_F(ControllerTest, EMailHandsTheChosenStillToTheMailProgramAsAJpeg) {
#if defined(__SANITIZE_THREAD__) || (defined(__has_feature) && __has_feature(thread_sanitizer))
    // QProcess starts its child in a way ThreadSanitizer's runtime cannot follow in a process
    // with the capture's threads running (the runtime aborts in the child).
    GTEST_SKIP() << "QProcess children are not supported under ThreadSanitizer";
#endif
    testsupport::StubPrograms stubs;
    stubs.Add("xdg-email", "note_arguments \"$@\"\nexit 0\n");
    const std::string noted = documents / "arguments";
    const testsupport::VariableScope arguments("DM_STUB_ARGS", noted);
    Start();
    ExpectLive();
    ASSERT_TRUE(TakePicture());
    CThumbnailList& list = *dialog->fileList();
    QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, list.CellRect(0).center());
    MessageBoxAnswerer answer;
    dialog->OnCommand(control::kEMail);
    ASSERT_EQ(answer.boxes.size(), 1u);
    EXPECT_EQ(answer.boxes[0].text, QStringLiteral("Send Camplete"));
    const std::optional<std::vector<std::string>> sent = testsupport::ReadNotedArguments(noted);
    ASSERT_TRUE(sent.has_value());
    ASSERT_EQ(sent->size(), 2u);
    EXPECT_EQ(sent->at(0), "--attach");
    EXPECT_TRUE(sent->at(1).ends_with("/Cap.jpg")) << sent->at(1);
    // The mail program may read the attachment later: it is still there, and whole.
    EXPECT_EQ(testsupport::RunCommand("djpeg -bmp '" + sent->at(1) + "' | wc -c"),
              std::to_string(54 + 720 * 480 * 3) + "\n");
    EXPECT_TRUE(Exists(Picture(0)));
    // The finished hand-off's process goes once events run again.
    QCoreApplication::sendPostedEvents();
}

TEST_F(ControllerTest, EscapeAndEnterNeverCloseTheWindow) {
    Start();
    for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(dialog.get(), key);
        EXPECT_TRUE(dialog->isVisible());
    }
    ExpectLive();
}

TEST_F(ControllerTest, ClosingShutsTheCaptureDownBeforeTheWindowEnds) {
    Start();
    ExpectLive();
    TraceRecorder trace;
    EXPECT_TRUE(dialog->close());
    EXPECT_FALSE(engine().running());
    EXPECT_FALSE(engine().hasGraph());
    EXPECT_EQ(engine().libraryDeviceMode(), 0);
    EXPECT_EQ(presence().buttonLibrary(), nullptr);
    EXPECT_FALSE(presence().buttonPollTimer().isActive());
    const std::vector<std::string> lines = trace.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Main window closing\n");
    EXPECT_EQ(lines.back(), "Capture shut down\n");
    // No device change reaches the closed window.
    microscope().Unplug();
    microscope().Plug();
    QCoreApplication::processEvents();
    EXPECT_FALSE(presence().connectionTimer().isActive());
}

}  // namespace

namespace {

enum class RecordingEnd { TimeLimit, AviButton, TakeVideo, PreviewButton, Unplug, Resume };

}  // namespace

// A recording runs from the settings dialog to a file FFmpeg plays at the chosen rate, and
// every way of ending it closes the file, stops the counter and leaves the recording mode.
TEST_F(ControllerTest, EveryWayOfEndingARecordingLeavesAPlayableFileAtTheChosenRate) {
    using enum RecordingEnd;
    struct Row {
        RecordingEnd end;
        int framesPerSecond;
        int limitSeconds;  // 0: no limit
        WindowMode after;
        std::vector<int> sounds;
    };
    const Row rows[] = {
        {TimeLimit, 10, 2, WindowMode::Live, {sound::kRecording, sound::kTimeLimit}},
        {AviButton,
         15,
         0,
         WindowMode::Live,
         {sound::kRecording, sound::kShutter, sound::kRecording}},
        {TakeVideo, 5, 30, WindowMode::Live, {sound::kRecording, sound::kRecording}},
        {PreviewButton, 10, 3, WindowMode::Live, {sound::kRecording}},
        {Unplug, 10, 0, WindowMode::NoDevice, {sound::kRecording}},
        {Resume, 10, 0, WindowMode::Live, {sound::kRecording}},
    };
    int number = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "end " << static_cast<int>(row.end));
        dialog.reset();
        Start();
        ExpectLive();
        QSignalSpy sounds(&dialog->sounds(), &SoundPlayer::soundRequested);
        RecorderSettingsAnswerer answer(row.framesPerSecond, row.limitSeconds);
        dialog->OnCommand(control::kAvi);
        ASSERT_EQ(answer.opened, 1);
        ASSERT_EQ(dialog->mode(), WindowMode::Recording);
        EXPECT_TRUE(AviOn());
        EXPECT_FALSE(PreviewOn());
        EXPECT_TRUE(session().recording());
        const QTimer* counter = dialog->findChild<QTimer*>(QStringLiteral("timer1002"));
        ASSERT_NE(counter, nullptr);
        EXPECT_TRUE(counter->isActive());
        // Numbering goes on from the files already there.
        char name[32];
        std::snprintf(name, sizeof name, "VCap%04d.avi", number++);
        const std::string file = documents / ("Microscope files/Video/" + std::string(name));
        EXPECT_EQ(dialog->recordingFileName(), file);

        // The counter shows the seconds in its panel.
        ASSERT_TRUE(WaitUntil([&] { return dialog->counterPanel()->isVisible(); }, 3000));
        EXPECT_EQ(dialog->counterPanel()->text(), QStringLiteral("     1 Seconds"));
        switch (row.end) {
            case TimeLimit:
                ASSERT_TRUE(WaitUntil([&] { return dialog->mode() != WindowMode::Recording; },
                                      row.limitSeconds * 1000 + 2000));
                EXPECT_EQ(dialog->counterPanel()->text(), QStringLiteral("     2 Seconds"));
                // Half a second later the time-limit sound plays and the panel goes.
                ASSERT_TRUE(WaitUntil([&] { return sounds.count() == 2; }));
                EXPECT_FALSE(dialog->counterPanel()->isVisible());
                break;
            case AviButton:
                // A still during a recording is saved, and the recording goes on.
                ASSERT_TRUE(TakePicture());
                EXPECT_TRUE(Exists(Picture(0)));
                EXPECT_EQ(dialog->mode(), WindowMode::Recording);
                ASSERT_TRUE(Streaming());
                // The restart after the still costs frames (much of a second on a slow
                // build): record on for a while before stopping.
                ASSERT_TRUE(WaitUntil(
                    [&] {
                        return dialog->counterPanel()->text() == QStringLiteral("     3 Seconds");
                    },
                    5000));
                dialog->OnCommand(control::kAvi);
                break;
            case TakeVideo:
                dialog->OnCommand(menucommand::kTakeVideo);
                break;
            case PreviewButton:
                dialog->OnCommand(control::kPreview);
                break;
            case Unplug:
                microscope().Unplug();
                ASSERT_TRUE(WaitUntil([&] { return presence().deviceConnected() == 0; }));
                break;
            case Resume:
                presence().OnResumed();
                break;
        }
        EXPECT_EQ(dialog->mode(), row.after);
        EXPECT_FALSE(session().recording());
        EXPECT_FALSE(AviOn());
        // Losing the device says where the recording is kept; nothing else needs a word.
        if (row.end == Unplug || row.end == Resume) {
            ASSERT_TRUE(WaitUntil([&] { return !answer.boxes.empty(); }));
            EXPECT_EQ(answer.boxes[0].text.toStdString(),
                      "The recording ended because the connection to the microscope was "
                      "lost. What was recorded is kept in " +
                          file + ".");
        }
        EXPECT_EQ(PreviewOn(), row.after == WindowMode::Live);
        EXPECT_FALSE(counter->isActive());
        EXPECT_FALSE(dialog->counterPanel()->isVisible());
        // Nothing further happens by itself: the counter is stopped on every path.
        QTest::qWait(1200);
        EXPECT_EQ(dialog->mode(), row.after);
        std::vector<int> heard;
        for (const QList<QVariant>& signal : sounds) {
            heard.push_back(signal.at(0).toInt());
        }
        EXPECT_EQ(heard, row.sounds);
        EXPECT_EQ(answer.boxes.size(), row.end == Unplug || row.end == Resume ? 1u : 0u);

        EXPECT_TRUE(dialog->recorder().status().ok());
        // The video list has the new recording, selected.
        const std::vector<MediaItem>& videos = dialog->fileList()->items(MediaKind::Videos);
        ASSERT_FALSE(videos.empty());
        EXPECT_EQ(videos.back().path, file);
        EXPECT_EQ(videos.back().flags, itemflag::kValid | itemflag::kUnsaved | itemflag::kSelected);
        const auto probe = testsupport::ProbeVideo(file);
        EXPECT_EQ(probe.count("codec_name") ? probe.at("codec_name") : "", "msvideo1");
        EXPECT_EQ(probe.count("r_frame_rate") ? probe.at("r_frame_rate") : "",
                  std::to_string(row.framesPerSecond) + "/1");
        EXPECT_EQ(testsupport::DecodeErrors(file), "");
        // About a second or more of frames at the chosen rate.
        EXPECT_GE(testsupport::DecodedFrames(file), row.framesPerSecond - 2);
        // Live runs at the device's own rate again.
        if (row.after == WindowMode::Live) {
            EXPECT_TRUE(Streaming());
        }
    }
}

// A recording that cannot be opened says why in the recorder's own box and stays in Live
// with no counter; one whose disk fills up stops at the first failed write, tells the user
// how much is kept, and leaves a file that plays to its last whole frame.
TEST_F(ControllerTest, ARecordingThatCannotBeWrittenSaysSoAndKeepsWhatWasWritten) {
    Start();
    ExpectLive();
    const std::string videoFolder = documents / "Microscope files/Video";
    {
        // A file where the video folder should be.
        ASSERT_TRUE(std::filesystem::remove(videoFolder));
        WriteFile(videoFolder, "not a folder");
        RecorderSettingsAnswerer answer(10, 0);
        dialog->OnCommand(control::kAvi);
        ASSERT_EQ(answer.boxes.size(), 1u);
        EXPECT_EQ(answer.boxes[0].title, QStringLiteral("AVI Capture"));
        EXPECT_EQ(answer.boxes[0].icon, QMessageBox::Critical);
        EXPECT_TRUE(
            answer.boxes[0].text.startsWith(QStringLiteral("Open avi file failed(0x00000014:0)\n")))
            << answer.boxes[0].text.toStdString();
        EXPECT_EQ(dialog->mode(), WindowMode::Live);
        EXPECT_FALSE(session().recording());
        EXPECT_FALSE(dialog->findChild<QTimer*>(QStringLiteral("timer1002"))->isActive());
        ASSERT_TRUE(std::filesystem::remove(videoFolder));
        ASSERT_TRUE(std::filesystem::create_directory(videoFolder));
    }

    // A small file system of its own as the video folder where this test may mount one; the
    // file size limit fails writes the same way elsewhere.
    const bool mounted =
        ::geteuid() == 0 &&
        std::system(
            ("mount -t tmpfs -o size=3m tmpfs '" + videoFolder + "' 2>/dev/null").c_str()) == 0;
    struct rlimit saved = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const sighandler_t savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (!mounted) {
        struct rlimit limit = saved;
        limit.rlim_cur = 3 * 1024 * 1024;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    RecorderSettingsAnswerer answer(15, 0);
    dialog->OnCommand(control::kAvi);
    ASSERT_EQ(dialog->mode(), WindowMode::Recording);
    const bool stopped = WaitUntil([&] { return !answer.boxes.empty(); }, 20000);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);
    const std::string file = dialog->recordingFileName();
    const std::string kept = documents / "kept.avi";
    if (stopped) {
        std::filesystem::copy_file(file, kept);
    }
    if (mounted) {
        EXPECT_EQ(std::system(("umount '" + videoFolder + "'").c_str()), 0);
    }
    ASSERT_TRUE(stopped);
    ASSERT_EQ(answer.boxes.size(), 1u);
    const QString text = answer.boxes[0].text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("The recording stopped because ") +
                                QString::fromStdString(file) +
                                QStringLiteral(" could not be written: ")))
        << text.toStdString();
    EXPECT_TRUE(
        text.contains(QRegularExpression(QStringLiteral("The first \\d+ seconds of it are kept."))))
        << text.toStdString();
    EXPECT_EQ(dialog->mode(), WindowMode::Live);
    EXPECT_FALSE(session().recording());
    EXPECT_EQ(testsupport::DecodeErrors(kept), "");
    EXPECT_GT(testsupport::DecodedFrames(kept), 0);
}

// Videos in the video folder, for playback: made before the window starts, so it lists them.
class PlaybackTest : public ControllerTest {
protected:
    std::string Video(const std::string& name) const {
        return documents / ("Microscope files/Video/" + name);
    }
    void MakeVideoFolder() { std::filesystem::create_directories(Video("")); }
    // Starts in Browse with the videos' page shown.
    void StartBrowsingVideos() {
        Start();
        ExpectLive();
        dialog->OnCommand(control::kPreview);
        ASSERT_EQ(dialog->mode(), WindowMode::Browse);
        dialog->skin()->SwitchCategory(MediaKind::Videos);
    }
    void Click(int cell) {
        CThumbnailList& list = *dialog->fileList();
        QTest::mouseClick(&list, Qt::LeftButton, Qt::NoModifier, list.CellRect(cell).center());
    }
    bool PlayOn() const { return dialog->skin()->Toggle(control::kPlay)->IsOn() != 0; }
    bool OpenOn() const { return dialog->skin()->Toggle(control::kOpen)->IsOn() != 0; }
    CSkinSlider& slider() const { return *dialog->skin()->slider(); }
    double Position() const {
        double seconds = -1.0;
        dialog->player().GetPosition(seconds);
        return seconds;
    }
    // Stop, First, Last and the steps that are enabled.
    int EnabledTransport() const {
        int enabled = 0;
        for (const int id : {control::kStop, control::kFirst, control::kLast, control::kStepBack,
                             control::kStepForward}) {
            enabled += dialog->skin()->Button(id)->isEnabled() ? 1 : 0;
        }
        return enabled;
    }
    // The slider released at `tenths`.
    void ReleaseSliderAt(int tenths) {
        slider().SetPos(tenths);
        Q_EMIT slider().sliderMoved(control::kSlider, tenths);
    }
};

TEST_F(PlaybackTest, TheTransportPlaysPausesStepsAndStopsTheChosenVideo) {
    MakeVideoFolder();
    const std::string clip = Video("Clip1.avi");
    testsupport::RunCommand(
        "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=160x120:rate=50 -t 12.34 -c:v mjpeg '" +
        clip + "'");
    ASSERT_TRUE(Exists(clip));
    StartBrowsingVideos();
    const CMoviePlayer& player = dialog->player();
    EXPECT_EQ(EnabledTransport(), 0);
    EXPECT_TRUE(dialog->skin()->Button(control::kOpen)->isEnabled());

    // Without a chosen video, Play does nothing.
    dialog->OnCommand(control::kPlay);
    EXPECT_FALSE(PlayOn());
    EXPECT_FALSE(player.isOpen());

    // Chosen, it is opened at 0, its length in tenths of a second on the slider.
    Click(0);
    ASSERT_TRUE(player.isOpen());
    EXPECT_EQ(player.path(), clip);
    EXPECT_EQ(slider().GetRangeMin(), 0);
    EXPECT_EQ(slider().GetRangeMax(), 123);
    EXPECT_EQ(slider().GetPos(), 0);
    EXPECT_FALSE(PlayOn());

    // Play, and the thumb follows; Play again pauses, and it stands.
    dialog->OnCommand(control::kPlay);
    EXPECT_TRUE(PlayOn());
    EXPECT_EQ(EnabledTransport(), 5);
    EXPECT_TRUE(WaitUntil([&] { return slider().GetPos() >= 5; }));
    dialog->OnCommand(control::kPlay);
    EXPECT_FALSE(PlayOn());
    EXPECT_EQ(EnabledTransport(), 0);
    const int paused = slider().GetPos();
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(slider().GetPos(), paused);

    // The steps go 2 seconds, no further than the ends; First and Last go to them.
    struct Step {
        int from;  // tenths, where the slider is released first
        int command;
        double position;
        int slider;
    };
    const std::vector<Step> steps = {
        {113, control::kStepForward, 12.34, 123},  // 1 s before the end
        {15, control::kStepBack, 0.0, 0},
        {40, control::kStepForward, 6.0, 60},
        {40, control::kStepBack, 2.0, 20},
        {70, control::kLast, 12.34, 123},
        {70, control::kFirst, 0.0, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        ReleaseSliderAt(step.from);
        EXPECT_NEAR(Position(), step.from / 10.0, 1e-3);
        dialog->OnCommand(step.command);
        EXPECT_NEAR(Position(), step.position, 1e-3);
        EXPECT_EQ(slider().GetPos(), step.slider);
    }
    // The steps pause and mark it with Open; Stop takes both back and goes to 0.
    EXPECT_TRUE(OpenOn());
    dialog->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitUntil([&] { return slider().GetPos() >= 3; }));
    dialog->OnCommand(control::kStop);
    EXPECT_FALSE(PlayOn());
    EXPECT_FALSE(OpenOn());
    EXPECT_EQ(slider().GetPos(), 0);
    EXPECT_NEAR(Position(), 0.0, 1e-3);

    // The end of the video stops it at 0.
    ReleaseSliderAt(118);
    dialog->OnCommand(control::kPlay);
    EXPECT_TRUE(WaitUntil([&] { return !PlayOn(); }));
    EXPECT_EQ(slider().GetPos(), 0);
    EXPECT_NEAR(Position(), 0.0, 1e-3);
    EXPECT_EQ(EnabledTransport(), 0);

    // A video deleted while it plays is closed first.
    dialog->OnCommand(control::kPlay);
    dialog->OnCommand(menucommand::kDelete);
    EXPECT_FALSE(player.isOpen());
    EXPECT_FALSE(PlayOn());
    EXPECT_FALSE(Exists(clip));
    EXPECT_TRUE(dialog->fileList()->items(MediaKind::Videos).empty());
}

TEST_F(PlaybackTest, PlayedFramesMatchTheSliderAndTheEndLeavesFullScreen) {
    MakeVideoFolder();
    ASSERT_EQ(
        testsupport::RecordCodedVideo(Video("Counted.avi"), RecorderCodec::MotionJpeg, 10, 30), "");
    StartBrowsingVideos();
    Click(0);
    ASSERT_TRUE(dialog->player().isOpen());
    EXPECT_EQ(testsupport::FrameNumberOf(display().picture()), 0);

    // At 10 frames a second the slider's tenths count frames: the frame shown is the one the
    // slider shows, within one.
    dialog->OnCommand(control::kPlay);
    int compared = 0;
    for (int i = 0; i < 12 && PlayOn(); ++i) {
        WaitUntil([] { return false; }, 170);
        const std::optional<int> number = testsupport::FrameNumberOf(display().picture());
        if (PlayOn() && number) {
            EXPECT_LE(std::abs(*number - slider().GetPos()), 1)
                << "frame " << *number << ", slider " << slider().GetPos();
            ++compared;
        }
    }
    EXPECT_GE(compared, 8);
    ASSERT_TRUE(WaitUntil([&] { return !PlayOn(); }));

    // Full screen entered while it plays plays it there, filling the screen as a picture
    // would; the end of the video brings the window back.
    MainWindowSkin& skin = *dialog->skin();
    dialog->OnCommand(control::kPlay);
    skin.EnterFullScreen();
    ASSERT_TRUE(skin.fullScreenMode());
    EXPECT_TRUE(PlayOn());
    const QSize target = display().PictureTargetSize();
    EXPECT_TRUE(target.width() >= display().width() || target.height() >= display().height())
        << target.width() << "x" << target.height();
    ReleaseSliderAt(25);
    EXPECT_TRUE(WaitUntil([&] { return !skin.fullScreenMode(); }));
    EXPECT_FALSE(PlayOn());
    EXPECT_NEAR(Position(), 0.0, 1e-3);
    EXPECT_EQ(dialog->centralWidget()->size(), kClientRect.size());

    // Closed while it plays, the window ends cleanly.
    dialog->OnCommand(control::kPlay);
    ASSERT_TRUE(WaitUntil([&] { return slider().GetPos() >= 2; }));
    dialog->close();
    dialog.reset();
}

// The Open button plays a video from anywhere; it stays the one played, whatever is chosen in
// the list, until another is opened. A video that cannot be played says so.
TEST_F(PlaybackTest, AnOpenedVideoIsTheOneThatPlaysAndABrokenOneSaysSo) {
    MakeVideoFolder();
    WriteFile(Video("Broken.avi"), "RIFF and nothing more");
    ASSERT_EQ(
        testsupport::RecordCodedVideo(Video("Counted.avi"), RecorderCodec::MotionJpeg, 10, 20), "");
    std::filesystem::create_directories(documents / "elsewhere");
    const std::string outside = documents / "elsewhere/Other clip #1.avi";
    ASSERT_EQ(testsupport::RecordCodedVideo(outside, RecorderCodec::UncompressedDib, 10, 20), "");
    StartBrowsingVideos();
    const CMoviePlayer& player = dialog->player();

    Click(0);
    ASSERT_NE(dialog->openWarning(), nullptr);
    EXPECT_TRUE(dialog->openWarning()->text().startsWith(
        QString::fromStdString("The video " + Video("Broken.avi") + " cannot be played: ")))
        << dialog->openWarning()->text().toStdString();
    dialog->openWarning()->close();
    EXPECT_FALSE(player.isOpen());
    dialog->OnCommand(control::kPlay);
    EXPECT_FALSE(PlayOn());

    QStringList filters;
    QString folder;
    dialog->SetFileDialogRunner([&](QFileDialog& open) {
        filters = open.nameFilters();
        folder = open.directory().absolutePath();
        return QString::fromStdString(outside);
    });
    dialog->fileList()->ClearSelection(MediaKind::Videos);
    dialog->OnCommand(control::kOpen);
    EXPECT_EQ(filters, QStringList{QStringLiteral("Avi Files(*.Avi *.avi *.AVI)")});
    EXPECT_EQ(folder.toStdString() + "/", Video(""));  // first where the recordings are
    EXPECT_EQ(dialog->externalVideoPath(), outside);
    EXPECT_EQ(player.path(), outside);
    EXPECT_EQ(dialog->viewerPath(), outside);
    EXPECT_EQ(dialog->fileList()->items(MediaKind::Videos).size(), 2u);
    EXPECT_EQ(dialog->skin()->mediaKind(), MediaKind::Videos);
    // Still nothing chosen in the list: Play does nothing.
    dialog->OnCommand(control::kPlay);
    EXPECT_FALSE(PlayOn());

    Click(1);
    EXPECT_EQ(player.path(), outside);
    dialog->OnCommand(control::kPlay);
    EXPECT_TRUE(PlayOn());
    EXPECT_TRUE(WaitUntil([&] { return testsupport::FrameNumberOf(display().picture()) >= 3; }));

    // The live picture closes the player.
    dialog->OnCommand(control::kPreview);
    EXPECT_EQ(dialog->mode(), WindowMode::Live);
    EXPECT_FALSE(player.isOpen());
    EXPECT_FALSE(PlayOn());
    EXPECT_TRUE(Streaming());
}

namespace {

// Drives the time-lapse dialog from inside its exec(): every 10 ms each visible message box
// is noted and closed, then the next step runs on the dialog while it is open; a step says
// when it is done. After 30 s the dialog is cancelled, so a stuck series fails rather than
// hangs.
class TimeLapseDriver {
public:
    using Step = std::function<bool(TimeLapseDialog&)>;
    TimeLapseDriver(CMicroscopeDlg& window, std::vector<Step> steps)
        : window_(window), steps_(std::move(steps)) {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }
    std::vector<QString> boxes;
    bool finished() const { return next_ == steps_.size(); }

private:
    void Tick() {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(window);
                box != nullptr && box->isVisible()) {
                boxes.push_back(box->text());
                box->done(QMessageBox::Ok);
            }
        }
        TimeLapseDialog* dialog = window_.timeLapseDialog();
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        if (++ticks_ > 3000) {
            ADD_FAILURE() << "the series got stuck at step " << next_;
            dialog->reject();
            return;
        }
        if (next_ < steps_.size() && steps_[next_](*dialog)) {
            ++next_;
        }
    }

    CMicroscopeDlg& window_;
    std::vector<Step> steps_;
    std::size_t next_ = 0;
    int ticks_ = 0;
    QTimer timer_;
};

}  // namespace

// The Clock button takes a series of stills on the simulated microscope: each one a picture
// in the list; on a disk that fills up, the pictures that do not fit are counted and told of
// at the end, and none is left behind half written.
TEST_F(ControllerTest, TheClockButtonTakesASeriesOfStillsOnePerInterval) {
    Start();
    ExpectLive();
    ManualClock clock(std::chrono::system_clock::now());
    dialog->SetTimeLapseClock(clock);
    const CThumbnailList& list = *dialog->fileList();
    const auto pictures = [&] { return list.items(MediaKind::Pictures).size(); };
    // Once picture `number` was asked for and taken, and `saved` pictures are in the list,
    // the next interval passes.
    const auto after = [&](int number, std::size_t saved) {
        return [this, &clock, &pictures, number, saved](TimeLapseDialog& d) {
            if (d.completedLabel()->text() != QString::number(number) || session().StillPending() ||
                pictures() < saved) {
                return false;
            }
            clock.Advance(std::chrono::seconds(3));
            return true;
        };
    };
    const auto start = [](int count) {
        return [count](TimeLapseDialog& d) {
            d.field(TimeLapseField::Count)->setText(QString::number(count));
            d.startButton()->click();
            return true;
        };
    };
    {
        TimeLapseDriver driver(*dialog, {start(3), after(1, 1), after(2, 2), after(3, 3)});
        dialog->OnCommand(control::kClock);
        EXPECT_TRUE(driver.finished());
        EXPECT_TRUE(driver.boxes.empty());
    }
    EXPECT_EQ(dialog->timeLapseDialog(), nullptr);
    ASSERT_EQ(pictures(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list.items(MediaKind::Pictures)[static_cast<std::size_t>(i)].path, Picture(i));
    }

    // A picture folder with room for two more stills where this test may mount one; the file
    // size limit fails every still elsewhere.
    const std::string pictureFolder = documents / "Microscope files/Picture";
    const std::string kept = documents / "kept";
    std::filesystem::create_directory(kept);
    for (const auto& entry : std::filesystem::directory_iterator(pictureFolder)) {
        std::filesystem::rename(entry.path(), kept + "/" + entry.path().filename().string());
    }
    const std::uintmax_t stillBytes = std::filesystem::file_size(kept + "/StillCap0.bmp");
    const std::string room = std::to_string(2 * stillBytes / 1024 + 64) + "k";
    const bool mounted =
        ::geteuid() == 0 && std::system(("mount -t tmpfs -o size=" + room + " tmpfs '" +
                                         pictureFolder + "' 2>/dev/null")
                                            .c_str()) == 0;
    struct rlimit saved = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const sighandler_t savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (!mounted) {
        struct rlimit limit = saved;
        limit.rlim_cur = stillBytes / 2;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    std::vector<QString> boxes;
    {
        // Each picture is waited for in the count only: the list does not grow for those that
        // fail.
        TimeLapseDriver driver(*dialog, {start(3), after(1, 0), after(2, 0), after(3, 0)});
        dialog->OnCommand(control::kClock);
        EXPECT_TRUE(driver.finished());
        boxes = driver.boxes;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);
    // Every file there is whole: as long as its header says.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(pictureFolder)) {
        const std::string bytes = testsupport::ReadFile(entry.path());
        ASSERT_GE(bytes.size(), 54u) << entry.path();
        std::uint32_t declared = 0;
        std::memcpy(&declared, bytes.data() + 2, 4);
        EXPECT_EQ(bytes.size(), declared) << entry.path();
        ++files;
    }
    if (mounted) {
        EXPECT_EQ(std::system(("umount '" + pictureFolder + "'").c_str()), 0);
        EXPECT_GE(files, 1);
    } else {
        EXPECT_EQ(files, 0);
    }
    const int missed = 3 - files;
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].startsWith(QString::number(missed) +
                                    QStringLiteral(" of the pictures could not be saved: ")))
        << boxes[0].toStdString();
    EXPECT_FALSE(boxes[0].contains(QStringLiteral("no picture")));
}

// Unplugging the microscope or waking the computer stops a running series and says why; the
// dialog stays open.
TEST_F(ControllerTest, UnplugAndResumeStopATimeLapseSeries) {
    for (const bool unplug : {true, false}) {
        SCOPED_TRACE(unplug ? "unplug" : "resume");
        dialog.reset();
        Start();
        ExpectLive();
        ManualClock clock(std::chrono::system_clock::now());
        dialog->SetTimeLapseClock(clock);
        bool stopped = false;
        TimeLapseDriver driver(*dialog,
                               {[](TimeLapseDialog& d) {
                                    d.field(TimeLapseField::Count)->setText(QStringLiteral("5"));
                                    d.startButton()->click();
                                    return true;
                                },
                                [&](TimeLapseDialog& d) {
                                    if (d.completedLabel()->text() != QStringLiteral("1")) {
                                        return false;
                                    }
                                    if (unplug) {
                                        microscope().Unplug();
                                    } else {
                                        dialog->OnResumed();
                                    }
                                    return true;
                                },
                                [&](TimeLapseDialog& d) {
                                    if (d.runActive()) {
                                        return false;
                                    }
                                    stopped = true;
                                    clock.Advance(std::chrono::seconds(10));
                                    return true;
                                },
                                [&](TimeLapseDialog& d) {
                                    if (driver.boxes.empty()) {
                                        return false;
                                    }
                                    EXPECT_EQ(d.completedLabel()->text(), QStringLiteral("1"));
                                    d.cancelButton()->click();
                                    return true;
                                }});
        dialog->OnCommand(control::kClock);
        EXPECT_TRUE(stopped);
        ASSERT_EQ(driver.boxes.size(), 1u);
        EXPECT_EQ(driver.boxes[0],
                  unplug ? QStringLiteral("The microscope was disconnected. The time-lapse series "
                                          "stopped after 1 pictures.")
                         : QStringLiteral("The computer was asleep. The time-lapse series stopped "
                                          "after 1 pictures."));
        EXPECT_LE(dialog->fileList()->items(MediaKind::Pictures).size(), 1u);
    }
}

#include "microscope_controller_test.moc"
