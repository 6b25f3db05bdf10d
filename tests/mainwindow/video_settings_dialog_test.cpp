// The video settings dialog: on a scripted engine whose device controls are a scripted V4L2
// node, and in the main window with the simulated microscope behind it.

#include "mainwindow/video_settings_dialog.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QImage>
#include <QLineEdit>
#include <QScrollBar>
#include <QSlider>
#include <QTimer>
#include <functional>

#include "app/program_paths.h"
#include "capture/capture_engine.h"
#include "capture/display/video_display_window.h"
#include "capture/fake_media_backend.h"
#include "capture/gst/capture_stack.h"
#include "capture/gst/device_controls.h"
#include "capture_v4l2/fake_v4l2_device.h"
#include "mainwindow/device_presence.h"
#include "mainwindow/main_window_skin.h"
#include "mainwindow/microscope_dlg.h"
#include "media/video_norms.h"
#include "output/still_file.h"
#include "sim/simulated_microscope.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

using testsupport::FakeMediaBackend;
using testsupport::TempDir;
using testsupport::WaitUntil;

constexpr int kBrightnessRow = 0;
constexpr int kContrastRow = 1;

// A library device (row 0) and a nameless one on a scripted backend; the controls are a
// scripted V4L2 node with brightness, contrast and hue.
class ScriptedDeviceTest : public ::testing::Test {
protected:
    ScriptedDeviceTest() : engine(backend) {
        node = std::make_shared<fakev4l2::State>();
        node->AddControl(V4L2_CID_BRIGHTNESS, -10, 10, 1, 0);
        node->AddControl(V4L2_CID_CONTRAST, 0, 100, 1, 50);
        node->AddControl(V4L2_CID_HUE, -90, 90, 1, 0);
        node->values[V4L2_CID_BRIGHTNESS] = 4;
        backend.devices = {
            FakeMediaBackend::Device("usb#vid_eb1a&pid_1860&mi_00#/devices/usb1/1-2/video0",
                                     "USB 2.0 Microscope", "video0"),
            FakeMediaBackend::Device("usb#vid_eb1a&pid_1760&mi_00#/devices/usb1/1-3/video2", "",
                                     "video2")};
        backend.hardwareIds = {{"USB\\VID_EB1A&PID_1860"}};
        backend.openControls = [this](const DeviceMoniker& device) {
            return gstcapture::V4l2DeviceControls::Own(fakev4l2::OpenFake(node), device.nodePath);
        };
        engine.SetCapConfigPath(capConfig / "CapConfig.dat");
        engine.CreateDeviceEnumerator();
        EXPECT_EQ(engine.DiscoverDevices(), 1);
        EXPECT_EQ(engine.BuildGraph(), 1);
        EXPECT_EQ(engine.PreparePreview(), 1);
        EXPECT_EQ(engine.RunGraph(), 1);
    }

    // The control requests since the last call, as (request, control id).
    std::vector<std::pair<unsigned long, std::uint32_t>> TakeControlRequests() {
        auto requests = std::move(node->controlRequests);
        node->controlRequests.clear();
        return requests;
    }

    TempDir capConfig;
    FakeMediaBackend backend;
    CaptureEngine engine;
    std::shared_ptr<fakev4l2::State> node;
};

TEST_F(ScriptedDeviceTest, OpeningReadsTheControlsListsNamedDevicesAndMovesAnOddNormToPalB) {
    backend.norm = kNormPalD;
    VideoSettingsDialog dialog(engine, {}, false);
    // Only the named device is listed.
    ASSERT_EQ(dialog.deviceList()->count(), 1);
    EXPECT_EQ(dialog.deviceList()->itemText(0), QStringLiteral("USB 2.0 Microscope"));
    // PAL D became PAL B, and the largest size follows it.
    EXPECT_EQ(backend.norm, kNormPalB);
    EXPECT_TRUE(dialog.normList()->isVisibleTo(&dialog));
    EXPECT_EQ(dialog.normList()->currentText(), QStringLiteral("PAL B"));
    EXPECT_EQ(dialog.resolutionList()->itemText(2), QStringLiteral("720x576"));
    // Each offered control was queried and read; the others are disabled.
    const auto requests = TakeControlRequests();
    for (const std::uint32_t id : {V4L2_CID_BRIGHTNESS, V4L2_CID_CONTRAST, V4L2_CID_HUE}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(std::count(requests.begin(), requests.end(),
                             std::make_pair(static_cast<unsigned long>(VIDIOC_QUERYCTRL), id)),
                  1);
        EXPECT_EQ(std::count(requests.begin(), requests.end(),
                             std::make_pair(static_cast<unsigned long>(VIDIOC_G_CTRL), id)),
                  1);
    }
    EXPECT_EQ(dialog.slider(kBrightnessRow)->value(), 4);
    EXPECT_EQ(dialog.valueBox(kBrightnessRow)->text(), QStringLiteral("  4"));
    EXPECT_FALSE(dialog.slider(2)->isEnabled());  // saturation is not offered
    // A library device shows hue in the line gamma shares with it.
    EXPECT_TRUE(dialog.slider(videosetting::kHueRow)->isVisibleTo(&dialog));
    EXPECT_FALSE(dialog.slider(videosetting::kGammaRow)->isVisibleTo(&dialog));
}

TEST_F(ScriptedDeviceTest, AMovedSliderSetsItsControlAndTheBoxShowsWhatTheDeviceHolds) {
    struct Case {
        int row;
        std::uint32_t control;
        int failure;  // errno of S_CTRL, 0 for none
        int moved;
        int expected;
    };
    for (const Case& c : {Case{kBrightnessRow, V4L2_CID_BRIGHTNESS, 0, 7, 7},
                          Case{kBrightnessRow, V4L2_CID_BRIGHTNESS, EIO, 7, 4},
                          Case{kContrastRow, V4L2_CID_CONTRAST, 0, 80, 80},
                          Case{videosetting::kHueRow, V4L2_CID_HUE, EBUSY, -45, 0}}) {
        SCOPED_TRACE(testing::Message() << c.row << " " << c.failure);
        node->values[V4L2_CID_BRIGHTNESS] = 4;
        node->failures.clear();
        if (c.failure != 0) {
            node->failures[VIDIOC_S_CTRL] = c.failure;
        }
        VideoSettingsDialog dialog(engine, {}, false);
        TakeControlRequests();
        dialog.slider(c.row)->setValue(c.moved);
        ASSERT_TRUE(WaitUntil([&] { return !dialog.Sending(c.row); }));
        EXPECT_EQ(TakeControlRequests(),
                  (std::vector<std::pair<unsigned long, std::uint32_t>>{
                      {VIDIOC_S_CTRL, c.control}, {VIDIOC_G_CTRL, c.control}}));
        EXPECT_EQ(dialog.valueBox(c.row)->text(), QString::asprintf("%3d", c.expected));
        EXPECT_EQ(dialog.slider(c.row)->value(), c.expected);
        EXPECT_EQ(node->values[c.control], c.expected);
    }
}

TEST_F(ScriptedDeviceTest, TheArrowsStepByOneWithinTheRangeAndNotBeyondIt) {
    VideoSettingsDialog dialog(engine, {}, false);
    QScrollBar* arrows = dialog.stepper(kBrightnessRow);
    // The upper arrow steps up.
    arrows->triggerAction(QAbstractSlider::SliderSingleStepSub);
    ASSERT_TRUE(WaitUntil([&] { return !dialog.Sending(kBrightnessRow); }));
    EXPECT_EQ(node->values[V4L2_CID_BRIGHTNESS], 5);
    arrows->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    ASSERT_TRUE(WaitUntil([&] { return !dialog.Sending(kBrightnessRow); }));
    EXPECT_EQ(node->values[V4L2_CID_BRIGHTNESS], 4);
    // At the maximum the upper arrow changes nothing, on screen or on the device.
    dialog.slider(kBrightnessRow)->setValue(10);
    ASSERT_TRUE(WaitUntil([&] { return !dialog.Sending(kBrightnessRow); }));
    const std::size_t sent = node->receivedValues.size();
    arrows->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.slider(kBrightnessRow)->value(), 10);
    EXPECT_EQ(dialog.valueBox(kBrightnessRow)->text(), QStringLiteral(" 10"));
    EXPECT_FALSE(dialog.Sending(kBrightnessRow));
    EXPECT_EQ(node->receivedValues.size(), sent);
}

TEST_F(ScriptedDeviceTest, DefaultPutsTheControlsNtscAndTheLibrarySizeBack) {
    backend.norm = kNormPalB;
    VideoSettingsDialog dialog(engine, {}, false);
    dialog.slider(kContrastRow)->setValue(80);
    dialog.OnDefault();
    ASSERT_TRUE(WaitUntil([&] { return !dialog.Sending(kContrastRow); }));
    EXPECT_EQ(node->values[V4L2_CID_CONTRAST], 50);
    EXPECT_EQ(node->values[V4L2_CID_BRIGHTNESS], 0);
    EXPECT_EQ(backend.norm, kNormNtscM);
    EXPECT_EQ(dialog.normList()->currentIndex(), 0);
    EXPECT_EQ(dialog.resolutionList()->currentText(), QStringLiteral("720x480"));
    EXPECT_EQ(engine.Settings().biWidth, 720);
    EXPECT_EQ(engine.Settings().biHeight, 480);
    EXPECT_TRUE(engine.running());
}

TEST_F(ScriptedDeviceTest, WhileRecordingOnlyThePropertiesChange) {
    VideoSettingsDialog dialog(engine, {}, true);
    EXPECT_FALSE(dialog.deviceList()->isEnabled());
    EXPECT_FALSE(dialog.resolutionList()->isEnabled());
    const int width = engine.Settings().biWidth;
    dialog.OnDefault();
    dialog.accept();
    ASSERT_TRUE(WaitUntil([&] { return !dialog.Sending(kBrightnessRow); }));
    EXPECT_EQ(node->values[V4L2_CID_BRIGHTNESS], 0);
    EXPECT_EQ(engine.Settings().biWidth, width);
}

// The main window on the simulated microscope.
class SettingsWindowTest : public ::testing::Test {
protected:
    void TearDown() override { SetProgramPaths({}); }

    void Start(int kind) {
        StartupEnvironment environment;
        environment.executablePath = program / "digital-microscope";
        environment.documentsFolder = documents.path();
        environment.languageId = 0x0409;
        environment.simulatedKind = kind;
        environment.audioSink = "fakesink";
        window = std::make_unique<CMicroscopeDlg>(environment);
        ASSERT_TRUE(window->OnInitDialog());
        window->show();
        ASSERT_EQ(window->mode(), WindowMode::Live);
    }

    // Opens the dialog from the Setting menu, runs `body` in it, and closes it with Exit.
    void WithDialog(const std::function<void(VideoSettingsDialog&)>& body) {
        bool ran = false;
        QTimer::singleShot(0, window.get(), [&] {
            VideoSettingsDialog* dialog = window->videoSettingsDialog();
            if (dialog != nullptr) {
                body(*dialog);
                ran = true;
                dialog->reject();
            }
        });
        window->OnCommand(menucommand::kDevice);
        EXPECT_TRUE(ran);
    }

    CaptureSession& session() { return window->capture()->session(); }
    sim::SimulatedMicroscope& microscope() { return *window->capture()->simulated(); }

    // The mean luminance of a still taken now, 0 when none was written.
    double StillLuminance() {
        const std::uint64_t drawn = window->displayWindow()->framesDrawn();
        if (!WaitUntil([&] { return window->displayWindow()->framesDrawn() > drawn + 2; })) {
            return 0;
        }
        const int number = window->stillWriter()->stillCounter();
        window->OnCommand(control::kCamera);
        if (!WaitUntil([&] { return window->stillWriter()->stillCounter() > number; })) {
            return 0;
        }
        const QImage still(QString::fromStdString(
            documents / ("Microscope files/Picture/StillCap" + std::to_string(number) + ".bmp")));
        double sum = 0;
        for (int y = 0; y < still.height(); ++y) {
            for (int x = 0; x < still.width(); ++x) {
                sum += qGray(still.pixel(x, y));
            }
        }
        return still.isNull() ? 0 : sum / (double(still.width()) * still.height());
    }

    TempDir program;
    TempDir documents;
    std::unique_ptr<CMicroscopeDlg> window;
};

TEST_F(SettingsWindowTest, EachKindShowsItsListsAndDefaultGivesItsLargestSize) {
    struct Case {
        int kind;
        bool normShown;
        QString largest;
        FrameSize size;
    };
    for (const Case& c : {Case{0, true, QStringLiteral("720x480"), {720, 480}},
                          Case{1, false, QStringLiteral("1280*1024"), {1280, 1024}}}) {
        SCOPED_TRACE(c.kind);
        Start(c.kind);
        WithDialog([&](VideoSettingsDialog& dialog) {
            EXPECT_EQ(dialog.deviceList()->currentText(), QStringLiteral("Simulated Microscope"));
            EXPECT_EQ(dialog.normList()->isVisibleTo(&dialog), c.normShown);
            EXPECT_EQ(dialog.resolutionList()->itemText(2), c.largest);
            EXPECT_EQ(dialog.slider(videosetting::kGammaRow)->isVisibleTo(&dialog), !c.normShown);
            dialog.resolutionList()->setCurrentIndex(0);
            dialog.OnDefault();
            EXPECT_TRUE(WaitUntil([&] {
                return session().frameWidth() == c.size.width &&
                       session().frameHeight() == c.size.height;
            }));
            EXPECT_EQ(dialog.resolutionList()->currentIndex(), 2);
        });
        EXPECT_EQ(window->mode(), WindowMode::Live);
        window.reset();
    }
}

TEST_F(SettingsWindowTest, BrightnessRaisedBy64MakesTheNextStillClearlyBrighter) {
    Start(0);
    const double before = StillLuminance();
    ASSERT_GT(before, 0);
    WithDialog([&](VideoSettingsDialog& dialog) {
        QSlider* brightness = dialog.slider(kBrightnessRow);
        brightness->setValue(brightness->value() + 64);
        EXPECT_TRUE(WaitUntil([&] { return !dialog.Sending(kBrightnessRow); }));
    });
    int value = 0;
    ASSERT_TRUE(microscope().GetProperty(kBrightness, value));
    EXPECT_EQ(value, 64);
    EXPECT_GT(StillLuminance(), before + 20);
}

TEST_F(SettingsWindowTest, UnpluggingEmptiesTheOpenDialogAndPluggingFillsItAgain) {
    Start(0);
    WithDialog([&](VideoSettingsDialog& dialog) {
        microscope().Unplug();
        EXPECT_TRUE(WaitUntil([&] { return dialog.deviceList()->count() == 0; }));
        EXPECT_EQ(dialog.resolutionList()->count(), 0);
        EXPECT_FALSE(dialog.slider(kBrightnessRow)->isEnabled());
        microscope().Plug();
        EXPECT_TRUE(WaitUntil([&] { return dialog.deviceList()->count() == 1; }));
        EXPECT_TRUE(dialog.slider(kBrightnessRow)->isEnabled());
    });
    EXPECT_EQ(window->mode(), WindowMode::Live);
}

}  // namespace
